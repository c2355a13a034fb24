// The discovery component on the four stand-in stacks: one completion per start on every road, the order
// of the checks, each stack's inquiry length, empty results versus failures, and teardown while the
// inquiry still runs.
#include "StackFixture.h"

#include "vcl/SysUtils.h"
#include "vyrAPI.h"
#include "vyrBlueSoleil.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrErrors.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace vyr;

namespace {

constexpr const char16_t* kNewerBlueSoleil = u"6.4.236.0";
constexpr const char16_t* kOlderBlueSoleil = u"6.0.0.0";

air::Address PhoneAddress(int i) {
    return {0x00, 0x1A, 0x7D, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0x13};
}

// What the component reported, in order.
struct Reports {
    int started = 0;
    int completed = 0;
    bool lastWasNil = false;
    std::vector<std::u16string> addresses; // of the last completion with a list
    std::function<void()> onComplete;      // runs inside the completion handler

    void Attach(TvyrBluetoothDiscovery& d) {
        d.OnDiscoveryStarted = [this, &d](vcl::TObject* sender, TvyrBluetoothRadio* radio) {
            EXPECT_EQ(sender, &d);
            EXPECT_NE(radio, nullptr);
            ++started;
        };
        d.OnDiscoveryComplete = [this, &d](vcl::TObject* sender, TvyrBluetoothRadio* radio,
                                           TvyrBluetoothDevices* devices) {
            EXPECT_EQ(sender, &d);
            EXPECT_NE(radio, nullptr);
            EXPECT_FALSE(d.Running()) << "torn down before the event";
            ++completed;
            lastWasNil = devices == nullptr;
            if (devices) {
                addresses.clear();
                for (const auto& dev : *devices)
                    addresses.push_back(dev->Address());
            }
            if (onComplete)
                onComplete();
        };
    }
};

class Discovery : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        air::Air::Instance().SetTimeScale(0.002); // a 15 s inquiry lasts a few dozen milliseconds
    }
    void TearDown() override {
        component.reset();
        api.Unload();
        StackFixture::TearDown();
    }
    void Radios(std::initializer_list<TvyrBluetoothApi> kinds) {
        for (auto k : kinds)
            SetRadio(k, true);
    }
    void Phones(int count) {
        for (int i = 0; i < count; ++i) {
            air::Phone p;
            p.address = PhoneAddress(i);
            p.name = "phone " + std::to_string(i);
            air::Air::Instance().AddPhone(p);
        }
    }
    void Load(const std::u16string& blueSoleilVersion = kNewerBlueSoleil) {
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, blueSoleilVersion);
        ASSERT_EQ(api.Load(), 0);
        component = std::make_unique<TvyrBluetoothDiscovery>();
        reports.Attach(*component);
    }
    bool WaitCompleted(int count, win::DWORD ms = 5000) {
        return win::test::PumpUntil([&] { return reports.completed >= count; }, ms);
    }
    // Pumps a while longer so that a second, wrong completion would show.
    void Settle(win::DWORD ms = 150) {
        win::test::PumpUntil([] { return false; }, ms);
    }

    TvyrAPI api;
    std::unique_ptr<TvyrBluetoothDiscovery> component;
    Reports reports;
};

struct Road {
    TvyrBluetoothApi api;
    const char16_t* blueSoleilVersion;
    const char* name;
};
const Road kRoads[] = {{baMicrosoft, kNewerBlueSoleil, "Microsoft"},
                       {baWidComm, kNewerBlueSoleil, "WidComm"},
                       {baBlueSoleil, kNewerBlueSoleil, "BlueSoleil newer"},
                       {baBlueSoleil, kOlderBlueSoleil, "BlueSoleil older"},
                       {baToshiba, kNewerBlueSoleil, "Toshiba"}};

TEST_F(Discovery, EveryStackFindsFiftyPhonesInOrderWithOneStartAndOneCompletion) {
    Radios({baBlueSoleil, baMicrosoft, baToshiba, baWidComm});
    Phones(50);
    for (const auto& road : kRoads) {
        SCOPED_TRACE(road.name);
        api.Unload();
        reports = {};
        Load(road.blueSoleilVersion);
        TvyrBluetoothRadio radio(road.api);
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        EXPECT_TRUE(component->Running());
        ASSERT_TRUE(WaitCompleted(1));
        Settle(50);
        EXPECT_EQ(reports.started, 1);
        EXPECT_EQ(reports.completed, 1);
        ASSERT_FALSE(reports.lastWasNil);
        ASSERT_EQ(reports.addresses.size(), 50u);
        EXPECT_EQ(reports.addresses[0], u"(00:1A:7D:00:00:13)");
        EXPECT_EQ(reports.addresses[49], u"(00:1A:7D:00:31:13)");
        EXPECT_FALSE(component->Running());
        EXPECT_EQ(component->Terminate(), VYR_DISCOVERY_NOT_STARTED);
    }
}

TEST_F(Discovery, EachStackGetsTheInquiryLengthInItsOwnUnits) {
    Radios({baBlueSoleil, baMicrosoft, baToshiba});
    auto lastCall = [](const char* entry) {
        auto calls = win::test::Calls(entry);
        return calls.empty() ? std::string("(none)") : calls.back();
    };
    Load(kNewerBlueSoleil);
    // Seconds to units of 1.28 s, to the nearest and ties to even: 15 -> 11.7, 16 -> 12.5, 10 -> 7.8.
    for (auto [seconds, units] : {std::pair{15, "12"}, {16, "12"}, {10, "8"}}) {
        TvyrBluetoothRadio radio(baBlueSoleil);
        ASSERT_EQ(component->Discover(&radio, static_cast<uint8_t>(seconds)), 0);
        EXPECT_EQ(lastCall("Btsdk_StartDeviceDiscovery"), std::string("0 0 ") + units);
        ASSERT_EQ(component->Terminate(), 0);
    }
    TvyrBluetoothRadio ms(baMicrosoft);
    ASSERT_EQ(component->Discover(&ms, 15), 0);
    ASSERT_TRUE(WaitCompleted(4));
    EXPECT_EQ(lastCall("WSALookupServiceBeginW"), "inquiry 15 flags=4354");
    // The Toshiba stack is asked with its own defaults; the older BlueSoleil interface takes seconds.
    TvyrBluetoothRadio toshiba(baToshiba);
    ASSERT_EQ(component->Discover(&toshiba, 15), 0);
    ASSERT_TRUE(WaitCompleted(5));
    EXPECT_EQ(lastCall("BtDiscoverRemoteDevice2").substr(0, 4), "0 0 ");
    api.Unload();
    reports = {};
    Load(kOlderBlueSoleil);
    TvyrBluetoothRadio older(baBlueSoleil);
    ASSERT_EQ(component->Discover(&older, 15), 0);
    ASSERT_TRUE(WaitCompleted(1));
    EXPECT_EQ(lastCall("BT_InquireDevices"), "3 15 8400");
}

TEST_F(Discovery, ChecksComeInOrderAndAFailedStartFiresNothing) {
    Radios({baMicrosoft, baWidComm});
    component = std::make_unique<TvyrBluetoothDiscovery>();
    reports.Attach(*component);
    TvyrBluetoothRadio ms(baMicrosoft), toshiba(baToshiba);
    // Nothing loaded: a nil radio still raises before 13.
    EXPECT_THROW(component->Discover(nullptr, 15), vyrEInvalidArgument);
    EXPECT_EQ(component->Discover(&ms, 15), VYR_TRANSPORT_NOT_AVAILABLE);
    ASSERT_EQ(api.Load(), 0);
    const int windows = win::test::LiveWindowCount();
    EXPECT_EQ(component->Discover(&toshiba, 15), VYR_BLUETOOTH_API_NOT_AVAILABLE);
    EXPECT_EQ(win::test::LiveWindowCount(), windows);
    // Running: 21 comes before the nil check and leaves the discovery alone.
    air::Air::Instance().SetTimeScale(0.05);
    ASSERT_EQ(component->Discover(&ms, 15), 0);
    EXPECT_EQ(component->Discover(nullptr, 15), VYR_DISCOVERY_ACTIVE);
    EXPECT_EQ(component->Discover(&toshiba, 15), VYR_DISCOVERY_ACTIVE);
    EXPECT_TRUE(component->Running());
    ASSERT_EQ(component->Terminate(), 0);
    EXPECT_EQ(reports.completed, 1);
    // No window, no thread, the bridge's own code: no event, nothing left behind.
    win::test::FailNext("CreateWindowExW");
    EXPECT_EQ(component->Discover(&ms, 15), VYR_OUT_OF_RESOURCES);
    win::test::FailNext("CreateThread");
    EXPECT_EQ(component->Discover(&ms, 15), VYR_OUT_OF_RESOURCES);
    win::test::FailNext("WD_Discovery");
    win::test::SetValue("WD_Discovery", 7);
    TvyrBluetoothRadio widcomm(baWidComm);
    EXPECT_EQ(component->Discover(&widcomm, 15), 7);
    EXPECT_FALSE(component->Running());
    EXPECT_EQ(win::test::LiveWindowCount(), windows);
    Settle(50);
    EXPECT_EQ(reports.completed, 1);
    EXPECT_EQ(reports.started, 0);
}

TEST_F(Discovery, EnumRadiosListsPresentStacksInKindOrder) {
    Radios({baWidComm, baMicrosoft});
    component = std::make_unique<TvyrBluetoothDiscovery>();
    TvyrBluetoothRadios radios;
    radios.Add(std::make_unique<TvyrBluetoothRadio>(baToshiba));
    EXPECT_THROW(component->EnumRadios(nullptr), vyrEInvalidArgument);
    EXPECT_EQ(component->EnumRadios(&radios), VYR_TRANSPORT_NOT_AVAILABLE);
    ASSERT_EQ(radios.Count(), 1);
    EXPECT_EQ(radios[0]->Api(), baToshiba);
    ASSERT_EQ(api.Load(), 0);
    EXPECT_EQ(component->EnumRadios(&radios), 0);
    ASSERT_EQ(radios.Count(), 2);
    EXPECT_EQ(radios[0]->Api(), baMicrosoft);
    EXPECT_EQ(radios[1]->Api(), baWidComm);
}

TEST_F(Discovery, NothingFoundIsAnEmptyListAndAFailureIsNil) {
    Radios({baBlueSoleil, baMicrosoft, baToshiba, baWidComm});
    for (const auto& road : kRoads) {
        SCOPED_TRACE(road.name);
        api.Unload();
        reports = {};
        Load(road.blueSoleilVersion);
        TvyrBluetoothRadio radio(road.api);
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        ASSERT_TRUE(WaitCompleted(1));
        EXPECT_FALSE(reports.lastWasNil);
        EXPECT_TRUE(reports.addresses.empty());
    }
    Phones(3);
    struct Failure {
        TvyrBluetoothApi api;
        const char16_t* version;
        const char* sw;
    };
    win::test::SetValue("WSALookupServiceBeginW", 10050);
    for (const auto& f : {Failure{baMicrosoft, kNewerBlueSoleil, "WSALookupServiceBeginW"},
                          Failure{baBlueSoleil, kOlderBlueSoleil, "BT_InquireDevices"},
                          Failure{baToshiba, kNewerBlueSoleil, "BtDiscoverRemoteDevice2"},
                          Failure{baToshiba, kNewerBlueSoleil, "BtDiscoverRemoteDevice2:failed"},
                          Failure{baWidComm, kNewerBlueSoleil, "WD_Discovery:result"}}) {
        SCOPED_TRACE(f.sw);
        api.Unload();
        reports = {};
        Load(f.version);
        win::test::FailNext(f.sw);
        TvyrBluetoothRadio radio(f.api);
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        ASSERT_TRUE(WaitCompleted(1));
        Settle(30);
        EXPECT_EQ(reports.completed, 1);
        EXPECT_TRUE(reports.lastWasNil);
    }
    // A Microsoft result whose address cannot be read is skipped, the others kept.
    api.Unload();
    reports = {};
    Load();
    win::test::FailNext("WSAAddressToStringW");
    TvyrBluetoothRadio ms(baMicrosoft);
    ASSERT_EQ(component->Discover(&ms, 15), 0);
    ASSERT_TRUE(WaitCompleted(1));
    EXPECT_EQ(reports.addresses, (std::vector<std::u16string>{u"(00:1A:7D:00:01:13)", u"(00:1A:7D:00:02:13)"}));
    // An address text that fails the address check is skipped on the worker thread, never raised there.
    reports = {};
    win::test::FailNext("WSAAddressToStringW:garbled");
    ASSERT_EQ(component->Discover(&ms, 15), 0);
    ASSERT_TRUE(WaitCompleted(1));
    EXPECT_EQ(reports.addresses.size(), 2u);
    // A stack that reports more than the buffer holds is read no further than the buffer.
    api.Unload();
    reports = {};
    Load(kOlderBlueSoleil);
    win::test::SetValue("BT_InquireDevices:length", 0xFFFFFFF0);
    TvyrBluetoothRadio older(baBlueSoleil);
    ASSERT_EQ(component->Discover(&older, 15), 0);
    ASSERT_TRUE(WaitCompleted(1));
    ASSERT_EQ(reports.addresses.size(), 100u);
    EXPECT_EQ(reports.addresses[2], u"(00:1A:7D:00:02:13)");
}

TEST_F(Discovery, TerminateFiresNilBeforeItReturnsAndTheLateResultIsIgnored) {
    Radios({baBlueSoleil, baMicrosoft, baToshiba, baWidComm});
    Phones(2);
    air::Air::Instance().SetTimeScale(0.01); // long enough to terminate mid-inquiry
    component = std::make_unique<TvyrBluetoothDiscovery>();
    EXPECT_EQ(component->Terminate(), VYR_DISCOVERY_NOT_STARTED);
    for (const auto& road : kRoads) {
        SCOPED_TRACE(road.name);
        api.Unload();
        reports = {};
        Load(road.blueSoleilVersion);
        TvyrBluetoothRadio radio(road.api);
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        EXPECT_EQ(component->Terminate(), 0);
        EXPECT_EQ(reports.completed, 1);
        EXPECT_TRUE(reports.lastWasNil);
        EXPECT_EQ(component->Terminate(), VYR_DISCOVERY_NOT_STARTED);
        Settle(road.api == baMicrosoft ? 300 : 50); // the Microsoft worker runs to its end
        EXPECT_EQ(reports.completed, 1);
    }
}

TEST_F(Discovery, ApiUnloadOrALostStackEndsTheDiscoveryOnce) {
    Radios({baMicrosoft, baWidComm});
    air::Air::Instance().SetTimeScale(0.05);
    Load();
    TvyrBluetoothRadio ms(baMicrosoft), widcomm(baWidComm);
    ASSERT_EQ(component->Discover(&ms, 15), 0);
    ASSERT_EQ(api.Unload(), 0);
    EXPECT_EQ(reports.completed, 1);
    EXPECT_TRUE(reports.lastWasNil);
    EXPECT_FALSE(component->Running());

    ASSERT_EQ(api.Load(), 0);
    ASSERT_EQ(component->Discover(&widcomm, 15), 0);
    // Another stack going away leaves the discovery alone; its own stack going away ends it.
    air::Air::Instance().SetRadioPresent(baMicrosoft, false);
    ASSERT_TRUE(win::test::PumpUntil([] { return !IsApiAvailable(baMicrosoft); }));
    Settle(30);
    EXPECT_TRUE(component->Running());
    air::Air::Instance().SetRadioPresent(baWidComm, false);
    ASSERT_TRUE(WaitCompleted(2));
    EXPECT_TRUE(reports.lastWasNil);
    Settle(50);
    EXPECT_EQ(reports.completed, 2);
}

TEST_F(Discovery, ARestartFromTheCompletionHandlerRuns) {
    Radios({baMicrosoft, baWidComm});
    Phones(2);
    Load();
    TvyrBluetoothRadio widcomm(baWidComm);
    int restarts = 0;
    reports.onComplete = [&] {
        if (restarts++ == 0) {
            EXPECT_EQ(component->Discover(&widcomm, 15), 0);
            EXPECT_TRUE(component->Running());
        }
    };
    ASSERT_EQ(component->Discover(&widcomm, 15), 0);
    ASSERT_TRUE(WaitCompleted(2));
    Settle(50);
    EXPECT_EQ(reports.started, 2);
    EXPECT_EQ(reports.completed, 2);
    EXPECT_EQ(reports.addresses.size(), 2u);
}

TEST_F(Discovery, BlueSoleilRunsOneInquiryPerProcess) {
    Radios({baBlueSoleil});
    air::Air::Instance().SetTimeScale(0.05);
    Load();
    TvyrBluetoothDiscovery other;
    Reports otherReports;
    otherReports.Attach(other);
    TvyrBluetoothRadio radio(baBlueSoleil);
    ASSERT_EQ(component->Discover(&radio, 15), 0);
    EXPECT_EQ(other.Discover(&radio, 15), VYR_DISCOVERY_ACTIVE);
    EXPECT_FALSE(other.Running());
    ASSERT_EQ(component->Terminate(), 0);
    // The slot is free again once the holder ended; refused starts free it at once.
    win::test::FailNext("Btsdk_StartDeviceDiscovery");
    EXPECT_EQ(other.Discover(&radio, 15), VYR_INTERNAL_ERROR);
    ASSERT_EQ(other.Discover(&radio, 1), 0);
    ASSERT_TRUE(win::test::PumpUntil([&] { return otherReports.completed == 1; }));
    EXPECT_FALSE(otherReports.lastWasNil);
    ASSERT_EQ(component->Discover(&radio, 15), 0);
    EXPECT_EQ(component->Terminate(), 0);
    EXPECT_EQ(otherReports.started, 1);
}

TEST_F(Discovery, DeletingTheComponentMidInquiryNeitherCrashesNorFires) {
    Radios({baBlueSoleil, baMicrosoft, baToshiba, baWidComm});
    Phones(5);
    air::Air::Instance().SetTimeScale(0.01);
    for (const auto& road : kRoads) {
        SCOPED_TRACE(road.name);
        api.Unload();
        reports = {};
        Load(road.blueSoleilVersion);
        TvyrBluetoothRadio radio(road.api);
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        component.reset();
        Settle(road.api == baMicrosoft ? 300 : 50);
        EXPECT_EQ(reports.completed, 0);
    }
}

TEST_F(Discovery, AToshibaStackThatNeverEndsFailsAfterTheGrace) {
    Radios({baToshiba});
    Phones(2);
    air::Air::Instance().AddPhone(air::Phone{}); // an all-zero address marks an unused entry
    Load();
    TvyrBluetoothRadio radio(baToshiba);
    ASSERT_EQ(component->Discover(&radio, 15), 0);
    ASSERT_TRUE(WaitCompleted(1));
    EXPECT_EQ(reports.addresses, (std::vector<std::u16string>{u"(00:1A:7D:00:00:13)", u"(00:1A:7D:00:01:13)"}));

    win::test::SetTimeScale(200); // 10.24 s + 10 s of grace pass in about 100 ms
    win::test::FailNext("BtDiscoverRemoteDevice2:silent");
    ASSERT_EQ(component->Discover(&radio, 1), 0);
    ASSERT_TRUE(WaitCompleted(2, 3000));
    EXPECT_TRUE(reports.lastWasNil);
    EXPECT_GE(win::test::CallCount("BtCancelDiscoverRemoteDevice"), 1);
}

TEST_F(Discovery, AToshibaInquiryOutlastingTheTimeOutStillDeliversItsList) {
    // The stack inquires for its full 10.24 s whatever the time-out: with time-out 0 the wait for its end
    // must still outlast that, or no list ever comes.
    Radios({baToshiba});
    Phones(2);
    Load();
    TvyrBluetoothRadio radio(baToshiba);
    air::Air::Instance().SetTimeScale(1);
    win::test::SetTimeScale(10); // the inquiry lasts about 1 s, the wait may last 2 s
    const win::ULONGLONG start = win::GetTickCount64();
    ASSERT_EQ(component->Discover(&radio, 0), 0);
    ASSERT_TRUE(WaitCompleted(1, 10000));
    EXPECT_FALSE(reports.lastWasNil);
    EXPECT_EQ(reports.addresses, (std::vector<std::u16string>{u"(00:1A:7D:00:00:13)", u"(00:1A:7D:00:01:13)"}));
    EXPECT_GE(win::GetTickCount64() - start, ToshibaStackInquiryMs);
    EXPECT_EQ(win::test::CallCount("BtCancelDiscoverRemoteDevice"), 0);
}

} // namespace
