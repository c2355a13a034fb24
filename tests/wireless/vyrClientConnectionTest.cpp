#include "vyrAPI.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "vyrTransportRoad.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vyr;
using win::HWND;
using win::test::PumpUntil;

namespace {

// What the next fake road does, and what it saw.
struct RoadScript {
    int openResult = 0;
    bool armConnectTimer = false;
    bool armLinkTimer = false;
    std::vector<std::string> log;
    std::string written;
    std::vector<win::UINT> messages;  // the window messages left to the road
    win::HANDLE workerDies = nullptr; // once set, the worker throws
};
RoadScript script;
// Written by the fake road's worker threads, read by the test's.
std::atomic<bool> workerRunning{false};

class FakeRoad;
FakeRoad* road = nullptr;

class FakeRoad : public TvyrTransportRoad {
public:
    explicit FakeRoad(TvyrCustomClientConnection& c) : TvyrTransportRoad(c) { road = this; }
    ~FakeRoad() override {
        if (road == this)
            road = nullptr;
    }
    HWND Wnd() const { return Window(); }

    int Open() override {
        script.log.push_back("open");
        if (script.openResult)
            return script.openResult;
        if (script.armConnectTimer && !ArmConnectTimer())
            return VYR_OUT_OF_RESOURCES;
        if (script.armLinkTimer)
            ArmLinkTimer();
        return StartWorker([](win::HANDLE terminate) {
            workerRunning = true;
            win::HANDLE wait[2] = {terminate, script.workerDies};
            if (win::WaitForMultipleObjects(script.workerDies ? 2 : 1, wait, win::FALSE, win::INFINITE) ==
                win::WAIT_OBJECT_0 + 1) {
                workerRunning = false;
                throw std::runtime_error("the worker failed");
            }
            workerRunning = false;
        });
    }
    void Close() override {
        StopWorker();
        script.log.push_back(workerRunning ? "close, worker running" : "close");
    }
    int Write(const void* buffer, win::DWORD size) override {
        script.written.append(static_cast<const char*>(buffer), size);
        return VYR_SUCCESS;
    }
    bool HandleMessage(win::UINT msg, win::WPARAM, win::LPARAM) override {
        script.messages.push_back(msg);
        return true;
    }

    // What a worker would report, posted from another thread as the real roads do.
    void Result(int code) {
        OnThread([&] { PostConnectResult(code); });
    }
    void Lost() {
        OnThread([&] { PostLinkLost(); });
    }
    void Data(const std::string& bytes) {
        OnThread([&] { PostData(bytes.data(), static_cast<win::DWORD>(bytes.size())); });
    }
    void ArmLink() { ArmLinkTimer(); }

private:
    static void OnThread(std::function<void()> fn) {
        win::HANDLE t = win::CreateThread([fn]() -> win::DWORD {
            fn();
            return 0;
        });
        win::WaitForSingleObject(t, win::INFINITE);
        win::CloseHandle(t);
    }
};

// Records the events of a connection in one list.
struct Events {
    std::vector<std::string> list;
    std::vector<int> connectCodes;
    int disconnects = 0;
    std::string data;
    std::vector<TvyrConnectionState> stateInConnect;

    void Bind(TvyrCustomClientConnection& c) {
        c.OnConnect = [this, &c](vcl::TObject* sender, int code) {
            EXPECT_EQ(sender, &c);
            connectCodes.push_back(code);
            stateInConnect.push_back(c.State());
            list.push_back("connect " + std::to_string(code));
        };
        c.OnDisconnect = [this](vcl::TObject*) {
            ++disconnects;
            list.push_back("disconnect");
        };
        c.OnData = [this](vcl::TObject*, const void* buffer, win::DWORD size) {
            data.append(static_cast<const char*>(buffer), size);
            list.push_back("data " + std::to_string(size));
        };
    }
};

HWND apiWindow = nullptr;
bool msPresent = true, toshibaPresent = true;

class ClientConnection : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        script = RoadScript{};
        workerRunning = false;
        apiWindow = nullptr;
        msPresent = toshibaPresent = true;
        savedMs_ = LoaderEntry(TvyrLoaderKind::Microsoft);
        savedToshiba_ = LoaderEntry(TvyrLoaderKind::Toshiba);
        LoaderEntry(TvyrLoaderKind::Microsoft) = {[](HWND w) {
                                                      apiWindow = w;
                                                      return msPresent;
                                                  },
                                                  [] {}};
        LoaderEntry(TvyrLoaderKind::Toshiba) = {[](HWND) { return toshibaPresent; }, [] {}};
        SetTransportRoadFactory(
            [](TvyrCustomClientConnection& c, TvyrRoadKind) { return std::make_unique<FakeRoad>(c); });
        ASSERT_EQ(api.Load(), 0);
        radio = TvyrBluetoothRadio(baMicrosoft);
        conn.BluetoothParams()->SetRadio(&radio);
        events.Bind(conn);
    }
    void TearDown() override {
        conn.Disconnect();
        api.Unload();
        win::test::PumpMessages();
        SetTransportRoadFactory({});
        LoaderEntry(TvyrLoaderKind::Microsoft) = savedMs_;
        LoaderEntry(TvyrLoaderKind::Toshiba) = savedToshiba_;
        win::test::Reset();
    }
    // Starts and completes a connect.
    void Connected() {
        ASSERT_EQ(conn.Connect(), 0);
        road->Result(0);
        ASSERT_TRUE(PumpUntil([&] { return conn.IsConnected(); }, 2000));
    }
    void Settle() { win::test::PumpUntilIdle(10, 1000); }

    TvyrAPI api;
    TvyrBluetoothRadio radio;
    TvyrCustomClientConnection conn;
    Events events;
    TvyrLoaderEntry savedMs_{}, savedToshiba_{};
};

class ConsumingConnection : public TvyrCustomClientConnection {
public:
    std::string consumed;
    bool consume = true;

protected:
    bool ProcessData(const void* buffer, win::DWORD size) override {
        consumed.append(static_cast<const char*>(buffer), size);
        return consume;
    }
};

} // namespace

TEST_F(ClientConnection, ConnectRefusalsComeBackAtOnceAndLeaveNothingBehind) {
    int windows = win::test::LiveWindowCount();

    // No radio, then a radio whose stack is gone.
    TvyrCustomClientConnection bare;
    EXPECT_EQ(bare.Connect(), VYR_BLUETOOTH_API_NOT_AVAILABLE);
    TvyrBluetoothRadio widcomm(baWidComm);
    bare.BluetoothParams()->SetRadio(&widcomm);
    EXPECT_EQ(bare.Connect(), VYR_BLUETOOTH_API_NOT_AVAILABLE);
    EXPECT_TRUE(bare.IsClosed());

    // Transport first, before any window exists.
    TvyrCustomClientConnection ir;
    ir.SetTransport(ctIrDA);
    win::test::ClearJournal();
    EXPECT_EQ(ir.Connect(), VYR_TRANSPORT_NOT_AVAILABLE);
    EXPECT_EQ(win::test::CallCount("CreateWindowExW"), 0);

    win::test::FailNext("CreateWindowExW");
    EXPECT_EQ(conn.Connect(), VYR_OUT_OF_RESOURCES);
    EXPECT_TRUE(conn.IsClosed());

    script.openResult = VYR_UNABLE_CONNECT;
    EXPECT_EQ(conn.Connect(), VYR_UNABLE_CONNECT);
    EXPECT_TRUE(conn.IsClosed());
    EXPECT_EQ(road, nullptr);
    EXPECT_EQ(win::test::LiveWindowCount(), windows);

    // A road this build does not have.
    SetTransportRoadFactory({});
    TvyrCustomClientConnection missing;
    TvyrBluetoothRadio toshiba(baToshiba);
    missing.BluetoothParams()->SetRadio(&toshiba);
    const TvyrRoadCreator saved = RoadCreator(TvyrRoadKind::Toshiba);
    RoadCreator(TvyrRoadKind::Toshiba) = {};
    EXPECT_EQ(missing.Connect(), VYR_NOT_IMPLEMENTED);
    RoadCreator(TvyrRoadKind::Toshiba) = saved;
    EXPECT_EQ(win::test::LiveWindowCount(), windows);

    Settle();
    EXPECT_TRUE(events.list.empty());

    // Closed again, the connection still works and is no listener any more.
    script.openResult = 0;
    SetTransportRoadFactory([](TvyrCustomClientConnection& c, TvyrRoadKind) { return std::make_unique<FakeRoad>(c); });
    ASSERT_EQ(conn.Connect(), 0);
    EXPECT_EQ(conn.State(), csConnecting);
    EXPECT_EQ(conn.Connect(), VYR_CONNECTION_EXISTS);
    EXPECT_EQ(conn.State(), csConnecting);
    EXPECT_EQ(win::test::LiveWindowCount(), windows + 1);
}

TEST_F(ClientConnection, OutcomeFiresOnceWithTheStateSettled) {
    ASSERT_EQ(conn.Connect(), 0);
    road->Result(0);
    road->Result(VYR_TIMEOUT); // a second outcome is ignored
    Settle();
    EXPECT_EQ(events.list, (std::vector<std::string>{"connect 0"}));
    EXPECT_EQ(events.stateInConnect, (std::vector<TvyrConnectionState>{csConnected}));
    EXPECT_EQ(conn.Connect(), VYR_CONNECTION_EXISTS);
    EXPECT_EQ(conn.Write("hi", 2), 0);
    EXPECT_EQ(script.written, "hi");

    // The user's Disconnect of a live link: one OnDisconnect, the worker joined; a repeat does nothing.
    conn.Disconnect();
    conn.Disconnect();
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_EQ(script.log.back(), "close");
    EXPECT_TRUE(conn.IsClosed());
}

TEST_F(ClientConnection, FailedOutcomeArrivesClosedSoTheHandlerMayRetry) {
    int retries = 0;
    conn.OnConnect = [&](vcl::TObject*, int code) {
        events.connectCodes.push_back(code);
        EXPECT_TRUE(conn.IsClosed());
        if (code != 0 && retries++ == 0) {
            conn.BluetoothParams()->SetChannel(5); // parameters may change again
            EXPECT_EQ(conn.Connect(), 0);
        }
    };
    ASSERT_EQ(conn.Connect(), 0);
    road->Result(VYR_ACCESS_DENIED);
    ASSERT_TRUE(PumpUntil([&] { return events.connectCodes.size() == 1; }, 2000));
    EXPECT_EQ(conn.State(), csConnecting); // the retry runs
    EXPECT_EQ(script.log, (std::vector<std::string>{"open", "close", "open"}));
    Settle();
    EXPECT_EQ(events.disconnects, 0);
}

TEST_F(ClientConnection, AWorkerThatDiesStillEndsItsConnectionOnce) {
    script.workerDies = win::CreateEventW(nullptr, win::TRUE, win::TRUE, nullptr);
    // While connecting: the attempt fails with 2.
    ASSERT_EQ(conn.Connect(), 0);
    ASSERT_TRUE(PumpUntil([&] { return conn.IsClosed(); }, 3000));
    Settle();
    EXPECT_EQ(events.list, (std::vector<std::string>{"connect 2"}));

    // Established: the link ends with its one OnDisconnect.
    win::ResetEvent(script.workerDies);
    events.list.clear();
    Connected();
    win::SetEvent(script.workerDies);
    ASSERT_TRUE(PumpUntil([&] { return conn.IsClosed(); }, 3000));
    Settle();
    EXPECT_EQ(events.list, (std::vector<std::string>{"connect 0", "disconnect"}));
    win::CloseHandle(script.workerDies);
    script.workerDies = nullptr;
}

TEST_F(ClientConnection, TimersGiveTimeoutAndLostLinkByTheirOwnIds) {
    win::test::SetTimeScale(100);
    conn.SetConnectTimeout(3000);
    script.armConnectTimer = true;
    ASSERT_EQ(conn.Connect(), 0);
    ASSERT_TRUE(PumpUntil([&] { return !events.connectCodes.empty(); }, 2000));
    EXPECT_EQ(events.connectCodes, (std::vector<int>{VYR_TIMEOUT}));
    EXPECT_TRUE(conn.IsClosed());

    // A link tick while the connect timer is still armed is a lost link, not a time-out.
    events = Events{};
    events.Bind(conn);
    conn.SetConnectTimeout(600000);
    script.armLinkTimer = true;
    ASSERT_EQ(conn.Connect(), 0);
    ASSERT_TRUE(PumpUntil([&] { return !events.connectCodes.empty(); }, 2000));
    EXPECT_EQ(events.connectCodes, (std::vector<int>{VYR_CONNECTION_REJECTED}));
    EXPECT_EQ(events.disconnects, 0);

    // A link timer the road arms on a live link ends it one second later.
    events = Events{};
    events.Bind(conn);
    script.armConnectTimer = script.armLinkTimer = false;
    Connected();
    road->ArmLink();
    ASSERT_TRUE(PumpUntil([&] { return events.disconnects == 1; }, 2000));
    EXPECT_TRUE(conn.IsClosed());
}

TEST_F(ClientConnection, LostLinkGivesOneOutcomeOrOneDisconnect) {
    // While connecting: the attempt ends with 46 and the connection is closed first.
    ASSERT_EQ(conn.Connect(), 0);
    road->Lost();
    ASSERT_TRUE(PumpUntil([&] { return !events.connectCodes.empty(); }, 2000));
    EXPECT_EQ(events.connectCodes, (std::vector<int>{VYR_CONNECTION_REJECTED}));
    EXPECT_EQ(events.stateInConnect, (std::vector<TvyrConnectionState>{csClosed}));

    // While connected: exactly one OnDisconnect.
    events = Events{};
    events.Bind(conn);
    Connected();
    road->Lost();
    road->Lost();
    Settle();
    EXPECT_EQ(events.list, (std::vector<std::string>{"connect 0", "disconnect"}));

    // Bytes that reached the connection before the loss, their delivery notice still behind it, are heard
    // before the end.
    events = Events{};
    events.Bind(conn);
    Connected();
    conn.AppendData("last", 4);
    road->Lost();
    Settle();
    EXPECT_EQ(events.list, (std::vector<std::string>{"connect 0", "data 4", "disconnect"}));
    EXPECT_EQ(events.data, "last");

    // The user's Disconnect while connecting is silent, and a late outcome goes nowhere.
    events = Events{};
    events.Bind(conn);
    ASSERT_EQ(conn.Connect(), 0);
    HWND old = road->Wnd();
    conn.Disconnect();
    EXPECT_FALSE(win::PostMessageW(old, WM_CONNECT_RESULT, 0, 0));
    Settle();
    EXPECT_TRUE(events.list.empty());
}

TEST_F(ClientConnection, ReceivedBytesAreDroppedUntilConnectedThenCoalesced) {
    ASSERT_EQ(conn.Connect(), 0);
    road->Data("early");
    EXPECT_EQ(conn.PendingSize(), 0u);
    EXPECT_EQ(conn.Write("x", 1), VYR_NOT_CONNECTED);
    road->Result(0);
    ASSERT_TRUE(PumpUntil([&] { return conn.IsConnected(); }, 2000));

    road->Data("ab");
    road->Data("cd");
    // A stack's own notice is the road's to read, never bytes for the connection.
    static const char widcomm[] = "ef";
    script.messages.clear();
    win::PostMessageW(road->Wnd(), WM_WIDCOMM_DATA, reinterpret_cast<win::WPARAM>(widcomm), 2);
    Settle();
    EXPECT_EQ(events.data, "abcd");
    // The two worker appends share one delivery.
    EXPECT_EQ(events.list, (std::vector<std::string>{"connect 0", "data 4"}));
    EXPECT_EQ(script.messages, (std::vector<win::UINT>{WM_WIDCOMM_DATA}));

    // A handler that disconnects from inside OnData keeps its private block.
    conn.OnData = [&](vcl::TObject*, const void* buffer, win::DWORD size) {
        conn.Disconnect();
        events.data.append(static_cast<const char*>(buffer), size);
    };
    road->Data("gh");
    Settle();
    EXPECT_EQ(events.data, "abcdgh");
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_TRUE(conn.IsClosed());

    // ProcessData may take the bytes; OnData then hears nothing.
    ConsumingConnection obex;
    obex.BluetoothParams()->SetRadio(&radio);
    std::string heard;
    obex.OnData = [&](vcl::TObject*, const void* b, win::DWORD n) { heard.append(static_cast<const char*>(b), n); };
    ASSERT_EQ(obex.Connect(), 0);
    road->Result(0);
    ASSERT_TRUE(PumpUntil([&] { return obex.IsConnected(); }, 2000));
    road->Data("taken");
    Settle();
    obex.consume = false;
    road->Data("passed");
    Settle();
    EXPECT_EQ(obex.consumed, "takenpassed");
    EXPECT_EQ(heard, "passed");
}

TEST_F(ClientConnection, OneDataMessageIsPendingAtATimeAndBytesReachTheOwnerInOrder) {
    Connected();
    // Delivery messages waiting in the queue now (taken out and handed on, in order).
    auto drainDeliveries = [&] {
        int n = 0;
        win::MSG m;
        while (win::PeekMessageW(&m, road->Wnd(), WM_DATA_PENDING, WM_DATA_PENDING, win::PM_REMOVE)) {
            ++n;
            win::DispatchMessageW(&m);
        }
        return n;
    };
    const win::DWORD owner = win::GetCurrentThreadId();
    std::vector<win::DWORD> threads;
    conn.OnData = [&](vcl::TObject*, const void* buffer, win::DWORD size) {
        threads.push_back(win::GetCurrentThreadId());
        events.data.append(static_cast<const char*>(buffer), size);
    };
    std::string sent;
    for (int i = 0; i < 40; ++i) {
        sent += std::to_string(i) + ",";
        road->Data(std::to_string(i) + ",");
    }
    EXPECT_EQ(drainDeliveries(), 1) << "every append while one delivery waits rides on it";
    EXPECT_EQ(events.data, sent);
    road->Data("next");
    EXPECT_EQ(drainDeliveries(), 1) << "after a delivery the next bytes ask for one of their own";
    EXPECT_EQ(events.data, sent + "next");
    EXPECT_EQ(threads, (std::vector<win::DWORD>{owner, owner}));

    // A handler that pumps the queue inside its delivery sees the later bytes after its own, once each.
    std::string order;
    int depth = 0;
    conn.OnData = [&](vcl::TObject*, const void* buffer, win::DWORD size) {
        order.append(static_cast<const char*>(buffer), size);
        if (depth++ == 0) {
            road->Data("+inner");
            Settle();
        }
    };
    road->Data("outer");
    Settle();
    EXPECT_EQ(order, "outer+inner");

    // Bytes still waiting when the link ends are dropped with it; the next link delivers from scratch.
    conn.OnData = [&](vcl::TObject*, const void* buffer, win::DWORD size) {
        events.data.append(static_cast<const char*>(buffer), size);
    };
    road->Data("lost");
    conn.Disconnect();
    Settle();
    events.data.clear();
    Connected();
    road->Data("fresh");
    Settle();
    EXPECT_EQ(events.data, "fresh");
    EXPECT_EQ(conn.PendingSize(), 0u);
}

TEST_F(ClientConnection, ApiNoticesCloseOnlyWhatDependsOnTheGoneStack) {
    Connected();
    // Toshiba goes: this Microsoft connection does not care.
    win::PostMessageW(apiWindow, WM_BLUETOOTH_API_CHANGED, 3, 0);
    Settle();
    EXPECT_TRUE(conn.IsConnected());

    TvyrCustomClientConnection serial;
    serial.SetTransport(ctSerial);
    Events serialEvents;
    serialEvents.Bind(serial);
    ASSERT_EQ(serial.Connect(), 0);
    road->Result(0);
    ASSERT_TRUE(PumpUntil([&] { return serial.IsConnected(); }, 2000));

    // Microsoft goes: the Bluetooth connection closes with OnDisconnect; the serial one stays.
    win::PostMessageW(apiWindow, WM_BLUETOOTH_API_CHANGED, 2, 0);
    Settle();
    EXPECT_TRUE(conn.IsClosed());
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_TRUE(serial.IsConnected());

    // Unloading closes the established connection with OnDisconnect, and a connecting one silently.
    TvyrCustomClientConnection connecting;
    connecting.SetTransport(ctSerial);
    Events connectingEvents;
    connectingEvents.Bind(connecting);
    ASSERT_EQ(connecting.Connect(), 0);
    ASSERT_EQ(api.Unload(), 0);
    EXPECT_TRUE(serial.IsClosed());
    EXPECT_TRUE(connecting.IsClosed());
    Settle();
    EXPECT_EQ(serialEvents.list, (std::vector<std::string>{"connect 0", "disconnect"}));
    EXPECT_TRUE(connectingEvents.list.empty());
}

TEST_F(ClientConnection, PropertiesRefuseChangesWhileActiveAndFreeingDisconnects) {
    EXPECT_THROW(conn.SetConnectTimeout(0), vyrEInvalidArgument);
    EXPECT_THROW(conn.SetBluetoothParams(nullptr), vyrEInvalidArgument);
    EXPECT_THROW(conn.SetBuffers(nullptr), vyrEInvalidArgument);
    try {
        conn.SetSerialParams(nullptr);
        FAIL();
    } catch (const vyrEInvalidArgument& e) {
        EXPECT_EQ(e.Message(), u"SerialParams object is not valid.");
    }
    TvyrCustomClientConnection other;
    other.IrDAParams()->SetService(u"OBEX");
    conn.SetIrDAParams(other.IrDAParams());
    EXPECT_EQ(conn.IrDAParams()->Service(), u"OBEX");

    ASSERT_EQ(conn.Connect(), 0);
    EXPECT_THROW(conn.SetTransport(ctSerial), vyrEConnectionActive);
    EXPECT_THROW(conn.SetConnectTimeout(5), vyrEConnectionActive);
    EXPECT_THROW(conn.SetIrDAParams(other.IrDAParams()), vyrEConnectionActive);
    EXPECT_NO_THROW(conn.SetIrDAParams(conn.IrDAParams()));
    EXPECT_NO_THROW(conn.SetConnectTimeout(conn.ConnectTimeout()));
    conn.Disconnect();

    int disconnects = 0;
    {
        auto* owned = new TvyrCustomClientConnection;
        owned->BluetoothParams()->SetRadio(&radio);
        owned->OnDisconnect = [&](vcl::TObject*) { ++disconnects; };
        ASSERT_EQ(owned->Connect(), 0);
        road->Result(0);
        ASSERT_TRUE(PumpUntil([&] { return owned->IsConnected(); }, 2000));
        delete owned;
    }
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(road, nullptr);
}
