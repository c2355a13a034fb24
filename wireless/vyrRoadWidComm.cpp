// The WidComm road: a worker finds the channel and opens an RFCOMM client of the bridge; the bridge then
// reports to the connection's window (the outcome, received bytes, a link closing), and the road takes its
// notices there. ConnectTimer bounds the whole attempt, because nothing but the bridge's report ends it
// otherwise.
#include "vcl/SysUtils.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrRoads.h"
#include "vyrSync.h"
#include "vyrWidComm.h"
#include "win32/WinBase.h"

#include <atomic>
#include <cstring>

namespace vyr {

namespace {

// One WidComm service search at a time in the process.
TvyrSync& WidCommSearchLock() {
    static TvyrSync lock;
    return lock;
}

class TvyrWidCommRoad : public TvyrTransportRoad {
public:
    using TvyrTransportRoad::TvyrTransportRoad;

    int Open() override {
        // Everything the worker needs is copied on the owner's thread.
        const TvyrClientBluetoothParams* p = Connection().BluetoothParams();
        Attempt a;
        a.address = p->Address();
        a.service = p->Service();
        a.channel = p->Channel();
        a.authentication = p->Authentication();
        a.encryption = p->Encryption();
        a.radio.Assign(p->Radio());
        a.window = Window();
        if (!ArmConnectTimer())
            return VYR_OUT_OF_RESOURCES;
        int r = StartWorker([this, a](win::HANDLE terminate) { Run(terminate, a); });
        if (r != VYR_SUCCESS)
            KillConnectTimer();
        return r;
    }

    void Close() override {
        KillLinkTimer();
        StopWorker(); // the worker closes and destroys the client before it ends
    }

    int Write(const void* buffer, win::DWORD size) override {
        wd::WD_CLIENT client = client_.load();
        if (!client)
            return VYR_INTERNAL_ERROR;
        return vyr::WD_WriteRfCommClient(client, buffer, size) ? VYR_SUCCESS : VYR_INTERNAL_ERROR;
    }

    // The bridge's own notices on the connection's window: received bytes and a link that is closing.
    bool HandleMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override {
        if (msg == WM_WIDCOMM_DATA) {
            // The bytes stay the sender's: PostData copies them.
            if (lParam > 0)
                PostData(reinterpret_cast<const void*>(wParam), static_cast<win::DWORD>(lParam));
            return true;
        }
        if (msg == WM_WIDCOMM_DELAYED_CLOSE) {
            if (!LinkTimerArmed())
                ArmLinkTimer();
            return true;
        }
        return false;
    }

private:
    struct Attempt {
        std::u16string address;
        win::GUID service{};
        win::BYTE channel = 0;
        bool authentication = false, encryption = false;
        TvyrBluetoothRadio radio;
        win::HWND window = nullptr;
    };

    void Run(win::HANDLE terminate, const Attempt& a) {
        std::uint8_t bytes[6];
        AddressTextToBytes(a.address, bytes);
        TvyrBluetoothServices services;
        int r;
        {
            TvyrBluetoothDevice device;
            device.SetAddress(a.address);
            TvyrSyncGuard guard(WidCommSearchLock());
            r = device.EnumServices(&a.radio, &services, &a.service);
        }
        if (r != VYR_SUCCESS) {
            PostConnectResult(r);
            return;
        }
        const TvyrBluetoothService* found = nullptr;
        for (int i = 0; i < services.Count() && !found; ++i)
            if (a.channel == 0 || services.Items(i)->Channel() == a.channel)
                found = services.Items(i);
        if (!found) {
            PostConnectResult(VYR_SERVICE_NOT_FOUND);
            return;
        }
        if (win::WaitForSingleObject(terminate, 0) == win::WAIT_OBJECT_0)
            return;
        wd::WD_CLIENT client = vyr::WD_CreateRfCommClient(static_cast<stackabi::Hwnd>(a.window));
        if (!client) {
            PostConnectResult(VYR_OUT_OF_RESOURCES);
        } else {
            client_ = client;
            stackabi::AbiGuid serviceClass;
            std::memcpy(&serviceClass, &a.service, sizeof serviceClass);
            const std::string name = vcl::Utf16ToUtf8(found->Name());
            const std::int32_t opened = vyr::WD_OpenRfCommClient(
                client, bytes, found->Channel(), serviceClass, name.c_str(), a.authentication ? wd::kTrue : wd::kFalse,
                a.encryption ? wd::kTrue : wd::kFalse);
            if (opened != 0)
                PostConnectResult(opened);
        }
        win::WaitForSingleObject(terminate, win::INFINITE);
        if (wd::WD_CLIENT c = client_.exchange(nullptr)) {
            vyr::WD_CloseRfCommClient(c);
            vyr::WD_DestroyRfCommClient(c);
        }
    }

    std::atomic<wd::WD_CLIENT> client_{nullptr};
};

} // namespace

std::unique_ptr<TvyrTransportRoad> CreateWidCommRoad(TvyrCustomClientConnection& connection) {
    return std::make_unique<TvyrWidCommRoad>(connection);
}

} // namespace vyr
