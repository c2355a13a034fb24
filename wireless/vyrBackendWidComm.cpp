// The WidComm stack's backend, through the library's own bridge. An inquiry runs inside the bridge, which
// posts its result to the discovery's window as a list of raw addresses.
#include "vyrBackend.h"

#include "vcl/SysUtils.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrWidComm.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vyr {
namespace {

int EnumWidComm(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    auto buffer = std::make_unique<wd::WD_SERVICES>();
    std::memset(buffer.get(), 0, sizeof(wd::WD_SERVICES));
    std::uint8_t bytes[6];
    AddressTextToBytes(address, bytes);
    stackabi::AbiGuid classId{};
    if (uuid)
        std::memcpy(&classId, uuid, sizeof classId);
    if (!vyr::WD_EnumServices(bytes, uuid ? &classId : nullptr, buffer.get()))
        return VYR_INTERNAL_ERROR;
    services->Clear();
    const std::uint32_t count = std::min<std::uint32_t>(buffer->Count, wd::kMaxServices);
    for (std::uint32_t i = 0; i < count; ++i) {
        const wd::WD_SERVICE_RECORD& r = buffer->Records[i];
        auto service = std::make_unique<TvyrBluetoothService>();
        service->SetChannel(r.Channel);
        win::GUID g;
        std::memcpy(&g, &r.Uuid, sizeof g);
        service->SetUuid(g);
        service->SetName(DecodeStackText(r.Name, sizeof r.Name));
        service->SetHandle(r.Handle);
        services->Add(std::move(service));
    }
    return 0;
}

class TvyrWidCommInquiry : public TvyrBluetoothInquiry {
public:
    int Start(win::HWND wnd, std::uint8_t) override { return vyr::WD_Discovery(wnd); }
    void Cancel() override { vyr::WD_Terminate(); }

    bool HandleMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam, const TvyrCompleted& completed) override {
        if (msg != WM_WIDCOMM_DISCOVERY_RESULT)
            return false;
        const auto* addresses = reinterpret_cast<const std::uint8_t*>(wParam);
        if (!addresses) {
            completed(nullptr);
            return true;
        }
        TvyrBluetoothDevices list;
        for (win::LPARAM i = 0; i < lParam; ++i) // a negative count reads as none
            AddInquiredDevice(list, BytesToAddressText(addresses + 6 * i));
        completed(&list);
        return true;
    }
};

class TvyrWidCommBackend : public TvyrBluetoothBackend {
public:
    TvyrRoadKind RoadKind() const override { return TvyrRoadKind::WidComm; }
    bool OneAttemptAtATime() const override { return false; }

    int GetRadioAddress(std::u16string& address) const override {
        wd::WD_DEV_VERSION_INFO info{};
        if (!vyr::WD_GetLocalDeviceVersionInfo(&info))
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(info.BdAddr, 6, false);
        return 0;
    }

    int SetRadioName(const std::u16string& name) const override {
        std::uint8_t block[wd::kNameSize] = {};
        const std::string utf8 = CutUtf8(name, wd::kNameSize);
        std::memcpy(block, utf8.data(), utf8.size());
        return vyr::WD_SetLocalDeviceName(block) ? 0 : VYR_INTERNAL_ERROR;
    }

    int GetDeviceName(const std::u16string& address, std::u16string& name) const override {
        std::uint8_t bytes[6];
        AddressTextToBytes(address, bytes);
        std::uint8_t buffer[wd::kNameSize] = {};
        if (!vyr::WD_GetRemoteDeviceName(bytes, buffer))
            return VYR_INTERNAL_ERROR;
        name = DecodeStackText(buffer, sizeof buffer);
        return 0;
    }

    int GetClassOfDevice(const std::u16string& address, int& classOfDevice) const override {
        std::uint8_t bytes[6];
        AddressTextToBytes(address, bytes);
        std::uint8_t cod[wd::kClassOfDeviceSize] = {};
        if (!vyr::WD_GetRemoteDeviceCOD(bytes, cod))
            return VYR_INTERNAL_ERROR;
        classOfDevice = cod[0] << 16 | cod[1] << 8 | cod[2];
        return 0;
    }

    int Pair(const std::u16string& address, const std::u16string& pin) const override {
        const std::string pin8 = vcl::Utf16ToUtf8(pin);
        std::uint8_t bytes[6];
        AddressTextToBytes(address, bytes);
        return vyr::WD_Bond(bytes, pin8.c_str());
    }

    int Unpair(const std::u16string& address) const override {
        std::uint8_t bytes[6];
        AddressTextToBytes(address, bytes);
        return vyr::WD_UnBond(bytes) ? 0 : VYR_INTERNAL_ERROR;
    }

    int EnumServices(const std::u16string& address, TvyrBluetoothServices* services,
                     const win::GUID* uuid) const override {
        return EnumWidComm(address, services, uuid);
    }

    std::unique_ptr<TvyrBluetoothInquiry> CreateInquiry() const override {
        return std::unique_ptr<TvyrBluetoothInquiry>(new (std::nothrow) TvyrWidCommInquiry);
    }
};

} // namespace

const TvyrBluetoothBackend& WidCommBackend() {
    static const TvyrWidCommBackend backend;
    return backend;
}

} // namespace vyr
