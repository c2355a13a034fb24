// The three stack loaders against the stand-in libraries and the simulated air.
#include "TestWindow.h"
#include "sim/air/Air.h"
#include "vyrAPI.h"
#include "vyrMessages.h"
#include "vyrMicrosoft.h"
#include "vyrToshiba.h"
#include "vyrWidComm.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"
#include "win32/abi_devbroadcast.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace vyr;

namespace {

constexpr int kBlueSoleil = 0, kMicrosoft = 1, kToshiba = 2, kWidComm = 3;

air::Air& Air() {
    return air::Air::Instance();
}

void Plug(int stack, bool present) {
    air::Radio r = Air().GetRadio(stack);
    r.present = present;
    r.address = {0x00, 0x1A, 0x7D, 0xDA, 0x71, static_cast<uint8_t>(0x10 + stack)};
    r.name = "STATION";
    Air().SetRadio(stack, r);
}

// The journal's entry names among `names`, in call order.
std::vector<std::string> Steps(const std::set<std::string>& names) {
    std::vector<std::string> out;
    for (auto& e : win::test::Journal())
        if (names.count(e.name))
            out.push_back(e.name);
    return out;
}

struct Report {
    win::WPARAM wParam;
    win::LPARAM lParam;
    bool operator==(const Report&) const = default;
};

class StackLoaders : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        Air().Clear();
    }
    void TearDown() override {
        FreeMicrosoftLoader();
        FreeWidCommLoader();
        FreeToshibaLoader();
        win::test::PumpUntilIdle(5);
        Air().Clear();
        win::test::Reset();
    }
    // WM_BLUETOOTH_API_CHANGED reports the API window has received so far.
    std::vector<Report> Reports() {
        win::test::PumpUntilIdle(5);
        std::vector<Report> out;
        for (auto& m : api_.ReceivedMessages())
            if (m.msg == WM_BLUETOOTH_API_CHANGED)
                out.push_back({m.wParam, m.lParam});
        return out;
    }
    TestWindow api_;
};

// Reads the loader window's handle from a stand-in's journal line "<hwnd> ...".
win::HWND WindowIn(const std::string& args) {
    return reinterpret_cast<win::HWND>(std::stoull(args.substr(0, args.find(' ')), nullptr, 16));
}

void BroadcastRecord(win::WPARAM event, std::uint32_t size, std::uint32_t type, const stackabi::AbiGuid& guid) {
    unsigned char record[64] = {};
    std::memcpy(record, &size, 4);
    std::memcpy(record + 4, &type, 4);
    std::memcpy(record + 12, &guid, 16);
    win::BroadcastDeviceChange(event, record, size);
}

} // namespace

// ---------------------------------------------------------------- Microsoft

TEST_F(StackLoaders, MicrosoftWithoutLibraryIsAbsentAndWrappersKeepTheirDefaults) {
    win::test::SetFail("LoadLibraryW:bthprops", true);
    win::test::SetFail("LoadLibraryW:irprops", true);
    Plug(kMicrosoft, true);
    EXPECT_FALSE(MicrosoftLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::CallCount("CreateWindowExW"), 0);

    ms::BLUETOOTH_DEVICE_INFO info;
    std::memset(&info, 0xAB, sizeof info);
    ms::BLUETOOTH_DEVICE_INFO before = info;
    EXPECT_EQ(vyr::BluetoothGetDeviceInfo(nullptr, &info), 1u);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    ms::BLUETOOTH_FIND_RADIO_PARAMS params{4};
    stackabi::Handle radio = reinterpret_cast<stackabi::Handle>(0x55);
    EXPECT_EQ(vyr::BluetoothFindFirstRadio(&params, &radio), nullptr);
    EXPECT_EQ(radio, reinterpret_cast<stackabi::Handle>(0x55));
    EXPECT_EQ(vyr::BluetoothFindRadioClose(reinterpret_cast<void*>(0x55)), 0);
    EXPECT_EQ(vyr::BluetoothGetRadioInfo(nullptr, nullptr), 1u);
    EXPECT_EQ(vyr::BluetoothRemoveDevice(nullptr), 1u);
    EXPECT_EQ(vyr::BluetoothAuthenticateDevice(nullptr, nullptr, nullptr, nullptr, 0), 1u);
}

TEST_F(StackLoaders, MicrosoftFallsBackToIrpropsAndSurvivesAMissingExport) {
    Plug(kMicrosoft, true);
    win::test::SetFail("LoadLibraryW:bthprops", true);
    EXPECT_TRUE(MicrosoftLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::Calls("LoadLibraryW"), (std::vector<std::string>{"bthprops.cpl", "irprops.cpl"}));
    EXPECT_EQ(win::test::ModuleLoadCount("irprops"), 1);
    // The radio and its search were closed again.
    EXPECT_EQ(win::test::CallCount("BluetoothFindRadioClose"), 1);
    FreeMicrosoftLoader();
    EXPECT_EQ(win::test::ModuleLoadCount("irprops"), 0);

    // Without the search entry the presence test sees the wrapper's null: loaded but absent.
    win::test::SetFail("LoadLibraryW:bthprops", false);
    win::test::HideExport("bthprops", "BluetoothFindFirstRadio");
    EXPECT_FALSE(MicrosoftLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("bthprops"), 1);
    ms::BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof info;
    EXPECT_NE(vyr::BluetoothGetDeviceInfo(nullptr, &info), 1u) << "other entries still resolve";
}

TEST_F(StackLoaders, MicrosoftStartUpFailuresUndoInReverse) {
    Plug(kMicrosoft, true);
    const std::set<std::string> steps{"LoadLibraryW", "CreateWindowExW", "RegisterDeviceNotificationW", "DestroyWindow",
                                      "FreeLibrary"};
    win::test::FailNext("RegisterDeviceNotificationW");
    EXPECT_FALSE(MicrosoftLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(Steps(steps), (std::vector<std::string>{"LoadLibraryW", "CreateWindowExW", "RegisterDeviceNotificationW",
                                                      "DestroyWindow", "FreeLibrary"}));
    EXPECT_EQ(win::test::ModuleLoadCount("bthprops"), 0);
    ms::BLUETOOTH_FIND_RADIO_PARAMS params{4};
    stackabi::Handle radio = nullptr;
    EXPECT_EQ(vyr::BluetoothFindFirstRadio(&params, &radio), nullptr);
    FreeMicrosoftLoader(); // nothing left to release
    EXPECT_EQ(win::test::CallCount("UnregisterDeviceNotification"), 0);

    win::test::ClearJournal();
    win::test::FailNext("CreateWindowExW");
    EXPECT_FALSE(MicrosoftLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(Steps(steps), (std::vector<std::string>{"LoadLibraryW", "CreateWindowExW", "FreeLibrary"}));
}

TEST_F(StackLoaders, MicrosoftMonitorReportsOnlyRadioInterfaceBroadcasts) {
    EXPECT_FALSE(MicrosoftLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("bthprops"), 1) << "no radio: the loader stays with its monitor";

    Plug(kMicrosoft, true);
    EXPECT_EQ(Reports(), (std::vector<Report>{{2, 1}}));
    EXPECT_TRUE(MicrosoftLoaderPresent(api_.Hwnd()));
    Plug(kMicrosoft, false);
    EXPECT_EQ(Reports(), (std::vector<Report>{{2, 1}, {2, 0}}));
    EXPECT_FALSE(MicrosoftLoaderPresent(api_.Hwnd()));

    // Another interface class, a record too short to hold its class, a record of another type, and an
    // event that is neither arrival nor removal.
    namespace dbt = stackabi::dbt;
    BroadcastRecord(win::DBT_DEVICEARRIVAL, 32, 5, dbt::GUID_DEVINTERFACE_USB_DEVICE);
    BroadcastRecord(win::DBT_DEVICEARRIVAL, 20, 5, ms::GUID_BTHPORT_DEVICE_INTERFACE);
    BroadcastRecord(win::DBT_DEVICEARRIVAL, 32, 2, ms::GUID_BTHPORT_DEVICE_INTERFACE);
    BroadcastRecord(win::DBT_DEVICEQUERYREMOVE, 32, 5, ms::GUID_BTHPORT_DEVICE_INTERFACE);
    EXPECT_EQ(Reports().size(), 2u);

    // Once freed, nothing more is reported and the wrappers are back to their defaults.
    FreeMicrosoftLoader();
    Plug(kMicrosoft, true);
    EXPECT_EQ(Reports().size(), 2u);
    EXPECT_EQ(vyr::BluetoothGetRadioInfo(nullptr, nullptr), 1u);
}

// ---------------------------------------------------------------- WidComm

TEST_F(StackLoaders, WidCommNeedsTheStackAndAWorkingBridge) {
    Plug(kWidComm, true);
    win::test::SetFail("LoadLibraryW:wbtapi", true);
    EXPECT_FALSE(WidCommLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::Calls("LoadLibraryW"), (std::vector<std::string>{"wbtapi.dll"}));
    FreeWidCommLoader();

    win::test::SetFail("LoadLibraryW:wbtapi", false);
    win::test::FailNext("WD_Init");
    EXPECT_FALSE(WidCommLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("vyr2wbt"), 0);
    EXPECT_EQ(win::test::ModuleLoadCount("wbtapi"), 0) << "the marker is freed at once";
    EXPECT_EQ(vyr::WD_IsDeviceReady(), 0);
    EXPECT_EQ(vyr::WD_Bond(nullptr, nullptr), 14);
    EXPECT_EQ(vyr::WD_Discovery(nullptr), 14);
    EXPECT_EQ(vyr::WD_OpenRfCommClient(nullptr, nullptr, 1, {}, nullptr, 0, 0), 14);
    EXPECT_EQ(vyr::WD_CreateRfCommClient(api_.Hwnd()), nullptr);
    vyr::WD_DestroyRfCommClient(nullptr);
    EXPECT_EQ(WidCommClientCount(), 0);
    EXPECT_EQ(win::test::CallCount("WD_DestroyRfCommClient"), 0);
}

TEST_F(StackLoaders, WidCommPresenceIsAskedAtEveryProbe) {
    EXPECT_FALSE(WidCommLoaderPresent(api_.Hwnd()));
    auto init = win::test::Calls("WD_Init");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(WindowIn(init[0]), api_.Hwnd());
    EXPECT_NE(init[0].find(" 6.7.5.0"), std::string::npos);

    Plug(kWidComm, true);
    EXPECT_EQ(Reports(), (std::vector<Report>{{4, 1}}));
    EXPECT_TRUE(WidCommLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(win::test::CallCount("WD_Init"), 1);
    FreeWidCommLoader();
    EXPECT_EQ(win::test::CallCount("WD_Uninit"), 1);
    Plug(kWidComm, false);
    EXPECT_EQ(Reports().size(), 1u) << "an uninitialised bridge reports nothing";
}

TEST_F(StackLoaders, WidCommLastClientReleasePostsOnce) {
    Plug(kWidComm, true);
    ASSERT_TRUE(WidCommLoaderPresent(api_.Hwnd()));
    const int base = WidCommClientCount();
    win::test::FailNext("WD_CreateRfCommClient");
    EXPECT_EQ(vyr::WD_CreateRfCommClient(api_.Hwnd()), nullptr);
    EXPECT_EQ(WidCommClientCount(), base) << "a failed create is not counted";

    auto a = vyr::WD_CreateRfCommClient(api_.Hwnd());
    auto b = vyr::WD_CreateRfCommClient(api_.Hwnd());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(WidCommClientCount(), base + 2);
    vyr::WD_DestroyRfCommClient(a);
    win::test::PumpUntilIdle(5);
    EXPECT_EQ(api_.Count(WM_WIDCOMM_CLIENTS_RELEASED), 0);
    vyr::WD_DestroyRfCommClient(b);
    win::test::PumpUntilIdle(5);
    EXPECT_EQ(api_.Count(WM_WIDCOMM_CLIENTS_RELEASED), 1);
    EXPECT_EQ(WidCommClientCount(), base);
}

// ---------------------------------------------------------------- Toshiba

TEST_F(StackLoaders, ToshibaWithoutLibraryWrappersReturnZeroAndCallNothing) {
    win::test::SetFail("LoadLibraryW:tosbtapi", true);
    Plug(kToshiba, true);
    EXPECT_FALSE(ToshibaLoaderPresent(api_.Hwnd()));
    tos::BTSTATUS status = 77;
    tos::BTLOCALINFO2 info{};
    EXPECT_EQ(vyr::BtOpenAPI(api_.Hwnd(), "x", &status), 0);
    EXPECT_EQ(vyr::BtGetLocalInfo2(&info, &status), 0);
    EXPECT_EQ(vyr::BtNotifyEvent(0, &status, nullptr, 0), 0);
    tos::BTADDR8 address{};
    EXPECT_EQ(vyr::BtSetAutoReplyPinCode(&address, "0000", 4, &status), 0);
    EXPECT_EQ(status, 77);
    vyr::BtMemFree(&info);
    EXPECT_EQ(win::test::CallCount("BtMemFree"), 0);
}

TEST_F(StackLoaders, ToshibaStartUpFailuresUndoInReverse) {
    Plug(kToshiba, true);
    const std::set<std::string> steps{"CreateWindowExW", "BtOpenAPI",     "BtNotifyEvent",
                                      "BtCloseAPI",      "DestroyWindow", "FreeLibrary"};
    win::test::FailNext("BtOpenAPI");
    EXPECT_FALSE(ToshibaLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(Steps(steps), (std::vector<std::string>{"CreateWindowExW", "BtOpenAPI", "DestroyWindow", "FreeLibrary"}));
    FreeToshibaLoader();

    win::test::ClearJournal();
    win::test::FailNext("BtNotifyEvent");
    EXPECT_FALSE(ToshibaLoaderPresent(api_.Hwnd()));
    EXPECT_EQ(Steps(steps), (std::vector<std::string>{"CreateWindowExW", "BtOpenAPI", "BtNotifyEvent", "BtCloseAPI",
                                                      "DestroyWindow", "FreeLibrary"}));
    EXPECT_EQ(win::test::ModuleLoadCount("tosbtapi"), 0);
    tos::BTSTATUS status = 0;
    EXPECT_EQ(vyr::BtCloseAPI(&status), 0);
}

TEST_F(StackLoaders, ToshibaReportsOnlyChangesOfTheStackState) {
    EXPECT_FALSE(ToshibaLoaderPresent(api_.Hwnd())) << "no radio: the local information fails";
    auto open = win::test::Calls("BtOpenAPI");
    auto notify = win::test::Calls("BtNotifyEvent");
    ASSERT_EQ(open.size(), 1u);
    ASSERT_EQ(notify.size(), 1u);
    win::HWND loaderWindow = WindowIn(open[0]);
    EXPECT_NE(loaderWindow, api_.Hwnd());
    EXPECT_EQ(open[0], win::test::HandleText(loaderWindow) + " VYR_TOSHIBA_APP");
    EXPECT_EQ(notify[0], "0x40000000 " + win::test::HandleText(loaderWindow) + " 1026");

    Plug(kToshiba, true);
    EXPECT_EQ(Reports(), (std::vector<Report>{{3, 1}}));
    EXPECT_TRUE(ToshibaLoaderPresent(api_.Hwnd()));

    auto hmod = win::LoadLibraryW(u"TosBtAPI.dll");
    auto notice = reinterpret_cast<int (*)(intptr_t)>(win::GetProcAddress(hmod, "tavlin_tosbtapi_stack_notice"));
    ASSERT_NE(notice, nullptr);
    notice(5);
    EXPECT_EQ(Reports().size(), 1u) << "already on";
    notice(0);
    notice(0);
    EXPECT_EQ(Reports(), (std::vector<Report>{{3, 1}, {3, 0}}));
    win::FreeLibrary(hmod);

    FreeToshibaLoader();
    EXPECT_EQ(win::test::CallCount("BtCloseAPI"), 1);
    EXPECT_EQ(win::test::ModuleLoadCount("tosbtapi"), 0);
    tos::BTSTATUS status = 0;
    EXPECT_EQ(vyr::BtGetLocalInfo2(nullptr, &status), 0);
}

// ---------------------------------------------------------------- with the API object

class StacksUnderApi : public StackLoaders {
protected:
    void Load() {
        api.OnChanged = [this](vcl::TObject*) { ++changes; };
        ASSERT_EQ(api.Load(), 0);
    }
    void Settle() { win::test::PumpUntilIdle(5); }
    TvyrAPI api;
    int changes = 0;
};

TEST_F(StacksUnderApi, BluetoothApisFollowTheRadios) {
    Plug(kMicrosoft, true);
    Plug(kToshiba, true);
    Plug(kWidComm, true);
    Load();
    EXPECT_EQ(api.BluetoothApis().bits, (1 << baMicrosoft) | (1 << baToshiba) | (1 << baWidComm));
    EXPECT_TRUE(IsTransportAvailable(TRANSPORT_BLUETOOTH));

    const int order[] = {kMicrosoft, kToshiba, kWidComm};
    int expected = api.BluetoothApis().bits;
    for (int stack : order) {
        int before = changes;
        Plug(stack, false);
        Settle();
        expected &= ~(1 << stack);
        EXPECT_EQ(api.BluetoothApis().bits, expected) << "stack " << stack;
        EXPECT_EQ(changes, before + 1);
    }
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_BLUETOOTH));
    EXPECT_EQ(api.Transports().bits, (1 << TRANSPORT_SERIAL) | (1 << TRANSPORT_ALWAYS));

    Plug(kToshiba, true);
    Settle();
    EXPECT_TRUE(IsApiAvailable(baToshiba));
    EXPECT_TRUE(IsTransportAvailable(TRANSPORT_BLUETOOTH));

    EXPECT_EQ(api.Unload(), 0);
    EXPECT_EQ(win::test::ModuleLoadCount("bthprops") + win::test::ModuleLoadCount("tosbtapi") +
                  win::test::ModuleLoadCount("vyr2wbt"),
              0);
}

TEST_F(StacksUnderApi, WidCommBridgeReloadsAfterItsLastClient) {
    Plug(kWidComm, true);
    Load();
    ASSERT_TRUE(IsApiAvailable(baWidComm));
    auto a = vyr::WD_CreateRfCommClient(api_.Hwnd());
    auto b = vyr::WD_CreateRfCommClient(api_.Hwnd());
    Plug(kWidComm, false);
    Settle();
    EXPECT_FALSE(IsApiAvailable(baWidComm));

    vyr::WD_DestroyRfCommClient(a);
    Settle();
    EXPECT_EQ(win::test::CallCount("WD_Init"), 1);
    vyr::WD_DestroyRfCommClient(b);
    Settle();
    EXPECT_EQ(win::test::CallCount("WD_Uninit"), 1);
    EXPECT_EQ(win::test::CallCount("WD_Init"), 2);
    EXPECT_FALSE(IsApiAvailable(baWidComm));

    // The reloaded bridge reports the radio's return by itself.
    Plug(kWidComm, true);
    Settle();
    EXPECT_TRUE(IsApiAvailable(baWidComm));

    // A client made between the release and its handling keeps the bridge until it goes too.
    auto c = vyr::WD_CreateRfCommClient(api_.Hwnd());
    Plug(kWidComm, false);
    Settle();
    vyr::WD_DestroyRfCommClient(c);
    auto d = vyr::WD_CreateRfCommClient(api_.Hwnd());
    ASSERT_NE(d, nullptr);
    Settle();
    EXPECT_EQ(win::test::CallCount("WD_Init"), 2) << "no reload under a living client";
    vyr::WD_DestroyRfCommClient(d);
    Settle();
    EXPECT_EQ(win::test::CallCount("WD_Init"), 3);

    // Unplugged with no client at all: the reload waits, but the radio's return is still seen.
    Plug(kWidComm, true);
    Settle();
    Plug(kWidComm, false);
    Settle();
    Plug(kWidComm, true);
    Settle();
    EXPECT_TRUE(IsApiAvailable(baWidComm));
    EXPECT_EQ(win::test::CallCount("WD_Init"), 3);
    EXPECT_EQ(api.Unload(), 0);
}
