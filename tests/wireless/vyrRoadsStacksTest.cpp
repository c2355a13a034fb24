// The WidComm, BlueSoleil and Toshiba roads through their stand-in stacks and the simulated air.
#include "RoadEvents.h"
#include "ScopedEnv.h"
#include "StackFixture.h"
#include "TestWindow.h"
#include "Watchdog.h"

#include "sim/air/FarEnd.h"
#include "vcl/SysUtils.h"
#include "vyrAPI.h"
#include "vyrBlueSoleil.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrMessages.h"
#include "vyrOBEX.h"
#include "vyrWidComm.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace vyr;
using win::test::PumpUntil;
namespace fs = std::filesystem;

namespace {

const air::Address kPhone = {0x00, 0x1E, 0x3A, 0x47, 0x9C, 0x01};
const char16_t kPhoneText[] = u"(00:1E:3A:47:9C:01)";

using Events = tavtest::ConnectionEvents;
using tavtest::Pattern;

// Every stack's radio attached, one phone (Object Push on 9, a serial service on 3), a private COM folder
// and inbox, the library loaded with the real stand-ins.
class StackRoads : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        char pattern[] = "/tmp/tavlin-stackroads-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        fs::create_directories(dir_ + "/com");
        comDir_.emplace("TAVLIN_COM_DIR", dir_ + "/com");
        for (int k = 0; k < air::kStackKinds; ++k)
            SetRadio(k, true);
        air::Phone p = tavtest::TwoServicePhone(kPhone);
        p.inbox = dir_ + "/inbox";
        air::Air::Instance().AddPhone(p);
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, u"6.4.236.0");
        ASSERT_EQ(api.Load(), 0);
        events.Bind(conn);
    }
    void TearDown() override {
        conn.Disconnect();
        api.Unload();
        air::ClearFarEnds();
        comDir_.reset();
        StackFixture::TearDown();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The connection on a stack's radio, to the serial service (channel 3).
    void Use(TvyrBluetoothApi stack, TvyrCustomClientConnection& c) {
        TvyrBluetoothRadio radio(stack);
        c.BluetoothParams()->SetRadio(&radio);
        c.BluetoothParams()->SetAddress(kPhoneText);
        c.BluetoothParams()->SetAuthentication(false);
        c.BluetoothParams()->SetService(BluetoothUuid(0x1101));
        c.BluetoothParams()->SetChannel(3);
        c.SetConnectTimeout(400);
    }

    // Connects and returns the outcome (-1 when none came, 1000 + the start result when it failed).
    static int Outcome(TvyrCustomClientConnection& c, Events& e, win::DWORD ms = 5000) {
        e.connects.clear();
        int r = c.Connect();
        if (r != 0)
            return 1000 + r;
        if (!PumpUntil([&] { return !e.connects.empty(); }, ms))
            return -1;
        return e.connects.front();
    }

    // Both directions, each burst larger than every buffer on the way, through an echoing far end.
    static void EchoBurst(TvyrCustomClientConnection& c, Events& e, size_t size) {
        const std::string out = Pattern(size, static_cast<unsigned>(size));
        e.data.clear();
        ASSERT_EQ(c.Write(out.data(), static_cast<win::DWORD>(out.size())), 0);
        ASSERT_TRUE(PumpUntil([&] { return e.data.size() >= out.size(); }, 10000)) << e.data.size();
        EXPECT_TRUE(e.data == out) << "bytes came back changed or out of order";
    }

    void EchoBothWays(TvyrBluetoothApi stack) {
        Use(stack, conn);
        air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
        conn.Buffers()->SetReadBuffer(1024);
        conn.Buffers()->SetWriteBuffer(1024);
        ASSERT_EQ(Outcome(conn, events), 0);
        EchoBurst(conn, events, 200 * 1024);
        EchoBurst(conn, events, 1);
        conn.Disconnect();
        EXPECT_EQ(events.disconnects, 1);
    }

    // The far end drops after 100 bytes: one OnDisconnect, the bytes before the drop delivered.
    void LostLink(TvyrBluetoothApi stack) {
        Use(stack, conn);
        air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Drop, 100});
        events = {};
        events.Bind(conn);
        ASSERT_EQ(Outcome(conn, events), 0);
        const std::string out = Pattern(5000, 1);
        conn.Write(out.data(), static_cast<win::DWORD>(out.size())); // may or may not all go before the drop
        ASSERT_TRUE(PumpUntil([&] { return events.disconnects > 0; }, 5000));
        win::test::PumpUntilIdle(50, 1500);
        EXPECT_EQ(events.disconnects, 1);
        EXPECT_EQ(events.data, out.substr(0, 100));
        EXPECT_TRUE(conn.IsClosed());
    }

    // The stack's notice of a lost link overtakes the phone's last bytes, already on their way through the
    // virtual port: they are delivered before the connection ends, once. `notice` plays the stack's notice;
    // `arrived` says, without handling any message of this thread, that the bytes have reached the library.
    void NoticeOvertakesTheLastBytes(TvyrBluetoothApi stack, const std::function<void()>& notice,
                                     const std::function<bool()>& arrived) {
        Use(stack, conn);
        air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
        events = {};
        events.Bind(conn);
        ASSERT_EQ(Outcome(conn, events), 0);
        win::test::PumpUntilIdle(20, 300);
        notice();
        const std::string last = "the phone's last words";
        ASSERT_EQ(conn.Write(last.data(), static_cast<win::DWORD>(last.size())), 0);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(100);
        while (!arrived() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(arrived());
        ASSERT_TRUE(PumpUntil([&] { return events.disconnects > 0; }, 5000));
        win::test::PumpUntilIdle(20, 300);
        EXPECT_EQ(events.data, last);
        EXPECT_EQ(events.disconnects, 1);
        EXPECT_TRUE(conn.IsClosed());
    }

    // A silent phone: Disconnect in the middle of the attempt returns (the worker joined) and nothing fires.
    void DisconnectWhileConnecting(TvyrBluetoothApi stack, const char* startedCall) {
        Use(stack, conn);
        air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Silence});
        conn.SetConnectTimeout(60000);
        win::test::ClearJournal();
        ASSERT_EQ(conn.Connect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return win::test::CallCount(startedCall) > 0; }, 3000));
        conn.Disconnect();
        EXPECT_TRUE(conn.IsClosed());
        win::test::PumpUntilIdle(50, 500);
        EXPECT_TRUE(events.connects.empty());
        EXPECT_EQ(events.disconnects, 0);
    }

    // One Object Push of a file larger than a packet to the phone's own server: it lands whole.
    void PushToInbox(TvyrBluetoothApi stack) {
        TvyrOPPClient opp;
        Use(stack, opp);
        opp.BluetoothParams()->SetService(BluetoothUuid(air::kObexObjectPushUuid16));
        opp.BluetoothParams()->SetChannel(0);
        opp.SetConnectTimeout(5000);
        int connected = -1, put = -1;
        opp.OnConnect = [&](vcl::TObject*, int e) { connected = e; };
        opp.OnOBEXConnect = [&](vcl::TObject*, int e) { connected = 100 + e; };
        opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { put = e; };
        ASSERT_EQ(opp.Connect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return connected != -1; }, 5000));
        ASSERT_EQ(connected, 0);
        ASSERT_EQ(opp.OBEXConnect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return connected != 0; }, 5000));
        ASSERT_EQ(connected, 100);
        const std::string content = Pattern(70 * 1024 + 17, 3);
        vcl::TMemoryStream s;
        s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        const std::string name = "offer-" + std::to_string(static_cast<int>(stack)) + ".bin";
        ASSERT_EQ(opp.Put(vcl::Utf8ToUtf16(name), &s, u""), 0);
        ASSERT_TRUE(PumpUntil([&] { return put != -1; }, 20000));
        EXPECT_EQ(put, 0);
        opp.OBEXDisconnect();
        PumpUntil([&] { return opp.SessionState() == ssNone; }, 3000);
        opp.Disconnect();
        const fs::path file = fs::path(dir_) / "inbox" / name;
        ASSERT_TRUE(PumpUntil([&] { return fs::exists(file); }, 3000)) << file;
        std::ifstream in(file, std::ios::binary);
        std::stringstream got;
        got << in.rdbuf();
        EXPECT_TRUE(got.str() == content) << "the pushed object arrived changed";
    }

    TvyrAPI api;
    TvyrCustomClientConnection conn;
    Events events;
    std::string dir_;
    std::optional<tavtest::ScopedEnv> comDir_;
};

} // namespace

// The library unloaded at varied moments of a connect attempt, on every stack: Unload returns (it never
// waits for a worker that can be waiting for the library's lock), and each attempt ends once: closed by
// the unload with no event, or with its one OnConnect (and one OnDisconnect when that was 0).
TEST_F(StackRoads, UnloadDuringAConnectReturnsAndEachAttemptEndsOnce) {
    tavtest::Watchdog watchdog(std::chrono::seconds(100), "Unload during a connect attempt hung");
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    double slowest = 0;
    for (TvyrBluetoothApi stack : {baWidComm, baToshiba, baBlueSoleil, baMicrosoft}) {
        for (int i = 0; i < 30; ++i) {
            SCOPED_TRACE(testing::Message() << "stack " << int(stack) << " try " << i);
            if (!api.IsLoaded()) {
                ASSERT_EQ(api.Load(), 0);
            }
            TvyrCustomClientConnection c;
            Events e;
            e.Bind(c);
            Use(stack, c);
            if (stack == baToshiba)
                c.BluetoothParams()->SetChannel(0); // the road looks the channel up on a thread of its own
            ASSERT_EQ(c.Connect(), 0);
            std::this_thread::sleep_for(std::chrono::microseconds(i * 2000 / 29));
            if (i % 2)
                win::test::PumpMessages(); // lets a reported outcome through now and then
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(api.Unload(), 0);
            slowest =
                std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            EXPECT_TRUE(c.IsClosed());
            win::test::PumpUntilIdle(20, 1000);
            ASSERT_LE(e.connects.size(), 1u);
            EXPECT_EQ(e.disconnects, e.connects == std::vector<int>{0} ? 1 : 0);
        }
    }
    // Some milliseconds when it works; the margin is for a busy machine.
    EXPECT_LT(slowest, 2.0);
    std::printf("slowest Unload: %.3f s\n", slowest);
}

TEST_F(StackRoads, WidCommCarriesBurstsBothWaysAndEndsOnALostLinkOnce) {
    EchoBothWays(baWidComm);
    EXPECT_EQ(WidCommClientCount(), 0);
    LostLink(baWidComm);
    EXPECT_EQ(WidCommClientCount(), 0);
}

TEST_F(StackRoads, WidCommFailuresMapToTheLibraryCodes) {
    Use(baWidComm, conn);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Silence}); // no outcome from the bridge
    EXPECT_EQ(Outcome(conn, events), VYR_TIMEOUT);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Refuse});
    EXPECT_EQ(Outcome(conn, events), VYR_CONNECTION_REJECTED);
    conn.BluetoothParams()->SetChannel(12); // no service found has it
    EXPECT_EQ(Outcome(conn, events), VYR_SERVICE_NOT_FOUND);
    conn.BluetoothParams()->SetChannel(3);
    win::test::FailNext("WD_CreateRfCommClient");
    EXPECT_EQ(Outcome(conn, events), VYR_OUT_OF_RESOURCES);
    win::test::FailNext("WD_OpenRfCommClient");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    EXPECT_EQ(events.disconnects, 0);
    EXPECT_EQ(WidCommClientCount(), 0);
    // The open goes out with the found service's name and channel, security off.
    auto opens = win::test::Calls("WD_OpenRfCommClient");
    ASSERT_FALSE(opens.empty());
    EXPECT_NE(opens.back().find("00:1E:3A:47:9C:01 3 Serial 0 0"), std::string::npos) << opens.back();
}

TEST_F(StackRoads, WidCommDisconnectWhileConnectingIsSilent) {
    DisconnectWhileConnecting(baWidComm, "WD_OpenRfCommClient");
    EXPECT_EQ(WidCommClientCount(), 0);
    EXPECT_EQ(win::test::CallCount("WD_DestroyRfCommClient"), 1);
}

TEST_F(StackRoads, WidCommObjectPushArrivesWhole) {
    PushToInbox(baWidComm);
}

namespace {

int SppLinks() {
    win::HMODULE m = win::LoadLibraryW(u"btfunc.dll");
    auto count = m ? reinterpret_cast<int (*)()>(win::GetProcAddress(m, "TavlinBtfunc_SppLinks")) : nullptr;
    const int r = count ? count() : -1;
    if (m)
        win::FreeLibrary(m);
    return r;
}

} // namespace

TEST_F(StackRoads, BlueSoleilCarriesBurstsBothWaysAndEndsOnALostLinkOnce) {
    EchoBothWays(baBlueSoleil);
    EXPECT_EQ(SppLinks(), 0);
    EXPECT_EQ(BlueSoleilConnections().Count(), 0);
    LostLink(baBlueSoleil);
    EXPECT_EQ(BlueSoleilConnections().Count(), 0);
    EXPECT_TRUE(fs::is_empty(dir_ + "/com")) << "a virtual port outlived its link";
}

TEST_F(StackRoads, BlueSoleilFailuresMapToTheLibraryCodes) {
    Use(baBlueSoleil, conn);
    EXPECT_EQ(conn.Write("x", 1), VYR_NOT_CONNECTED);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Silence}); // the stack's connect call does not return
    EXPECT_EQ(Outcome(conn, events), VYR_TIMEOUT);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Refuse});
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    win::test::FailNext("BT_ConnectSPPExService");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    EXPECT_EQ(events.disconnects, 0);

    // No port from the connect information: the connect record's port serves; with neither, 2.
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    win::test::SetValue("BT_GetConnectInfo.port", 0);
    ASSERT_EQ(Outcome(conn, events), 0);
    EchoBurst(conn, events, 3000);
    conn.Disconnect();
    EXPECT_EQ(SppLinks(), 0);
    win::test::ClearValue("BT_GetConnectInfo.port");
    // The port the stack names is not there any more: the inner serial start fails.
    win::test::FailNext("CreateFileW");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    EXPECT_EQ(SppLinks(), 0);
    EXPECT_EQ(BlueSoleilConnections().Count(), 0);
}

TEST_F(StackRoads, BlueSoleilDisconnectWhileConnectingIsSilentAndALateLinkIsTakenDown) {
    DisconnectWhileConnecting(baBlueSoleil, "BT_ConnectSPPExService");
    // The phone answers after all: the abandoned call ends the link it got.
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    EXPECT_TRUE(PumpUntil(
        [&] {
            return win::test::CallCount("BT_DisconnectSPPExService") == 1 && SppLinks() == 0 &&
                   fs::is_empty(dir_ + "/com");
        },
        3000));
    EXPECT_TRUE(events.connects.empty());
    // The stack's connect lock is free again.
    EXPECT_EQ(Outcome(conn, events), 0);
}

TEST_F(StackRoads, BlueSoleilObjectPushArrivesWhole) {
    PushToInbox(baBlueSoleil);
}

TEST_F(StackRoads, BlueSoleilDeliversWhatCameBeforeTheStacksLinkLostNotice) {
    // The inner connection hands its bytes on from the road's worker, so they wait in the connection.
    NoticeOvertakesTheLastBytes(
        baBlueSoleil,
        [] {
            ASSERT_EQ(BlueSoleilConnections().Count(), 1);
            const int handle = BlueSoleilConnections().Item(0).Handle;
            win::HMODULE m = win::LoadLibraryW(u"btfunc.dll");
            ASSERT_TRUE(m);
            auto raise = reinterpret_cast<int (*)(std::uint8_t, std::uint32_t, std::uint8_t)>(
                win::GetProcAddress(m, "TavlinBtfunc_RaiseEvent"));
            ASSERT_TRUE(raise);
            EXPECT_EQ(raise(7, static_cast<std::uint32_t>(handle), 4), 1);
            win::FreeLibrary(m);
        },
        [&] { return conn.PendingSize() > 0; });
}

namespace {

int ToshibaPorts() {
    win::HMODULE m = win::LoadLibraryW(u"TosBtAPI.dll");
    auto count = m ? reinterpret_cast<int (*)()>(win::GetProcAddress(m, "tavlin_tosbtapi_ports")) : nullptr;
    const int r = count ? count() : -1;
    if (m)
        win::FreeLibrary(m);
    return r;
}

} // namespace

TEST_F(StackRoads, ToshibaCarriesBurstsBothWaysAndEndsOnALostLinkOnce) {
    EchoBothWays(baToshiba);
    EXPECT_EQ(ToshibaPorts(), 0);
    LostLink(baToshiba);
    EXPECT_EQ(ToshibaPorts(), 0);
    EXPECT_TRUE(fs::is_empty(dir_ + "/com")) << "a virtual port outlived its connection";
}

TEST_F(StackRoads, ToshibaDeliversWhatCameBeforeTheStacksLinkLostNotice) {
    // The inner connection lives on this thread: its bytes wait as its own data message.
    NoticeOvertakesTheLastBytes(
        baToshiba,
        [] {
            win::HMODULE m = win::LoadLibraryW(u"TosBtAPI.dll");
            ASSERT_TRUE(m);
            auto notify = reinterpret_cast<int (*)()>(win::GetProcAddress(m, "tavlin_tosbtapi_notify_link_lost"));
            ASSERT_TRUE(notify);
            EXPECT_EQ(notify(), 1);
            win::FreeLibrary(m);
        },
        [] {
            win::MSG msg;
            return win::PeekMessageW(&msg, nullptr, WM_DATA_PENDING, WM_DATA_PENDING, win::PM_NOREMOVE) != 0;
        });
}

TEST_F(StackRoads, ToshibaStepsAndFailures) {
    Use(baToshiba, conn);
    EXPECT_EQ(conn.Write("x", 1), VYR_NOT_CONNECTED);
    // Channel 0 and no such service: 44 before any port is made.
    conn.BluetoothParams()->SetChannel(0);
    conn.BluetoothParams()->SetService(BluetoothUuid(0x1234));
    win::test::ClearJournal();
    EXPECT_EQ(Outcome(conn, events), VYR_SERVICE_NOT_FOUND);
    EXPECT_EQ(win::test::CallCount("BtCreateCOMM"), 0);
    Use(baToshiba, conn);

    // Every port name taken: 1, and the event registration undone.
    for (int n = 1; n <= 255; ++n)
        std::ofstream(dir_ + "/com/COM" + std::to_string(n)).put('x');
    EXPECT_EQ(Outcome(conn, events), VYR_OUT_OF_RESOURCES);
    for (int n = 1; n <= 255; ++n)
        fs::remove(dir_ + "/com/COM" + std::to_string(n));

    // The stack reports a failed connect: 45; a silent phone: the connect timer's 43.
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Refuse});
    EXPECT_EQ(Outcome(conn, events), VYR_UNABLE_CONNECT);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Silence});
    EXPECT_EQ(Outcome(conn, events), VYR_TIMEOUT);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Refuse});
    win::test::FailNext("BtConnectCOMM2");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    win::test::FailNext("BtNotifyEvent");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    EXPECT_EQ(events.disconnects, 0);
    EXPECT_EQ(ToshibaPorts(), 0);

    // A full connect and stop, step by step, with security bits; every port made is destroyed again.
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    conn.BluetoothParams()->SetEncryption(true);
    win::test::ClearJournal();
    ASSERT_EQ(Outcome(conn, events), 0);
    conn.Disconnect();
    std::vector<std::string> calls;
    for (const auto& e : win::test::Journal())
        if (e.name.rfind("Bt", 0) == 0 && e.name != "BtMemFree")
            calls.push_back(e.name + " " + e.args);
    ASSERT_GE(calls.size(), 7u);
    EXPECT_EQ(calls[0].rfind("BtNotifyEvent 0x800000", 0), 0u) << calls[0];
    EXPECT_EQ(calls[1], "BtCreateCOMM COM1");
    EXPECT_EQ(calls[2].rfind("BtNotifyEvent 0x0", 0), 0u) << calls[2];
    EXPECT_EQ(calls[3], "BtConnectCOMM2 COM1 00:1E:3A:47:9C:01 3 3 3 1042");
    EXPECT_EQ(calls[4].rfind("BtNotifyCOMM COM1 2 ", 0), 0u) << calls[4];
    EXPECT_EQ(calls[calls.size() - 3].rfind("BtNotifyCOMM COM1 0 ", 0), 0u) << calls[calls.size() - 3];
    EXPECT_EQ(calls[calls.size() - 2], "BtDisconnectCOMM COM1");
    EXPECT_EQ(calls.back(), "BtDestroyCOMM COM1");
    EXPECT_EQ(ToshibaPorts(), 0);
}

TEST_F(StackRoads, ToshibaDisconnectWhileConnectingIsSilent) {
    DisconnectWhileConnecting(baToshiba, "BtConnectCOMM2");
    EXPECT_EQ(ToshibaPorts(), 0);
    // Also while the channel lookup runs, and on a system that waits for the stack's own port notice.
    win::test::SetOsVersion(5, 1);
    Use(baToshiba, conn);
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    ASSERT_EQ(conn.Connect(), 0);
    conn.Disconnect();
    EXPECT_EQ(Outcome(conn, events), 0);
    conn.Disconnect();
    EXPECT_EQ(ToshibaPorts(), 0);

    // A Disconnect that runs inside the road's own pause before the serial port opens.
    TestWindow trigger([&](win::UINT msg, win::WPARAM, win::LPARAM) -> win::LRESULT {
        if (msg == win::WM_USER + 77)
            conn.Disconnect();
        return 0;
    });
    win::test::ClearJournal();
    events = {};
    events.Bind(conn);
    ASSERT_EQ(conn.Connect(), 0);
    std::thread watcher([&] {
        for (int i = 0; i < 500 && win::test::CallCount("BtNotifyCOMM") == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        win::PostMessageW(trigger.Hwnd(), win::WM_USER + 77, 0, 0);
    });
    PumpUntil([&] { return conn.IsClosed(); }, 3000);
    watcher.join();
    win::test::PumpUntilIdle(50, 500);
    EXPECT_TRUE(conn.IsClosed());
    EXPECT_TRUE(events.connects.empty());
    EXPECT_EQ(ToshibaPorts(), 0);
}

TEST_F(StackRoads, ToshibaObjectPushArrivesWhole) {
    PushToInbox(baToshiba);
}
