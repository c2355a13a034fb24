// Stand-in for the device-link library and the desktop connection manager, an in-process COM class that
// this library registers while it is loaded. The manager tells its advise sink when the air's handheld
// connects or goes; a handheld already connected is reported during Advise.
#include "stacks/rapi.h"

#include "sim/air/Air.h"
#include "win32/ComRegistry.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <atomic>
#include <bit>
#include <mutex>
#include <string>

namespace stackabi::rapi {
namespace {

class DccMan;

struct State {
    std::mutex mu;
    DccMan* live = nullptr; // the manager with an advised sink, for the test hook
};

State& S() {
    static State s;
    return s;
}

class DccMan final : public IDccMan {
public:
    HResult QueryInterface(const AbiGuid& iid, void** object) override {
        if (!object)
            return E_FAIL;
        if (iid == IID_IUnknown || iid == IID_IDccMan) {
            AddRef();
            *object = static_cast<IDccMan*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0) {
            Unadvise(kCookie);
            delete this;
        }
        return left;
    }

    HResult Advise(IDccManSink* sink, uint32_t* cookie) override {
        win::test::Record("IDccMan::Advise");
        if (!sink || !cookie || win::test::ShouldFail("IDccMan::Advise"))
            return E_FAIL;
        {
            std::lock_guard lock(mu_);
            if (sink_)
                return E_FAIL; // one sink per manager
            sink->AddRef();
            sink_ = sink;
        }
        *cookie = kCookie;
        token_ = air::Air::Instance().Subscribe([this](const air::Notice& n) {
            if (n.event == air::AirEvent::DeviceLinkConnected)
                Raise(2);
            else if (n.event == air::AirEvent::DeviceLinkDisconnected)
                Raise(6);
        });
        {
            std::lock_guard lock(S().mu);
            S().live = this;
        }
        if (air::Air::Instance().DeviceLinkConnected())
            Raise(2);
        return S_OK;
    }

    HResult Unadvise(uint32_t cookie) override {
        if (cookie != kCookie)
            return E_FAIL;
        IDccManSink* sink;
        {
            std::lock_guard lock(mu_);
            sink = sink_;
            sink_ = nullptr;
        }
        if (!sink)
            return E_FAIL;
        win::test::Record("IDccMan::Unadvise");
        {
            std::lock_guard lock(S().mu);
            if (S().live == this)
                S().live = nullptr;
        }
        // Waits for notices being delivered on other threads, so none reaches the sink afterwards.
        air::Air::Instance().Unsubscribe(token_);
        sink->Release();
        return S_OK;
    }

    // Calls sink method `index` (0 OnLogIpAddr ... 7 OnLogError) holding a reference, outside the lock.
    void Raise(int index) {
        IDccManSink* sink;
        {
            std::lock_guard lock(mu_);
            sink = sink_;
            if (sink)
                sink->AddRef();
        }
        if (!sink)
            return;
        switch (index) {
        case 0:
            sink->OnLogIpAddr(0x0100A8C0);
            break;
        case 1:
            sink->OnLogTerminated();
            break;
        case 2:
            sink->OnLogActive();
            break;
        case 3:
            sink->OnLogInactive();
            break;
        case 4:
            sink->OnLogAnswered();
            break;
        case 5:
            sink->OnLogListen();
            break;
        case 6:
            sink->OnLogDisconnection();
            break;
        default:
            sink->OnLogError();
            break;
        }
        sink->Release();
    }

private:
    static constexpr uint32_t kCookie = 0xDCC1;
    std::atomic<uint32_t> refs_{1};
    std::mutex mu_;
    IDccManSink* sink_ = nullptr;
    int token_ = 0;
};

// The class is known to COM while this library is loaded.
struct ClassRegistration {
    ClassRegistration() {
        win::CoRegisterClassFactory(std::bit_cast<win::GUID>(CLSID_DccMan), [](const win::GUID& iid, void** object) {
            auto* manager = new DccMan;
            const HResult hr = manager->QueryInterface(std::bit_cast<AbiGuid>(iid), object);
            manager->Release();
            return hr;
        });
    }
    ~ClassRegistration() { win::CoRevokeClassFactory(std::bit_cast<win::GUID>(CLSID_DccMan)); }
} registration;

} // namespace

extern "C" {

HResult CeRapiInit() {
    win::test::Record("CeRapiInit");
    if (win::test::ShouldFail("CeRapiInit"))
        return E_FAIL;
    return S_OK;
}

HResult CeRapiUninit() {
    win::test::Record("CeRapiUninit");
    return S_OK;
}

// Test hook: the manager calls its sink's method `index` (0 OnLogIpAddr ... 6 OnLogDisconnection,
// 7 OnLogError) on the calling thread. Returns 0 when no sink is advised.
int TavlinRapi_RaiseSink(int index) {
    std::lock_guard lock(S().mu);
    if (!S().live)
        return 0;
    S().live->Raise(index);
    return 1;
}

} // extern "C"
} // namespace stackabi::rapi
