// The transport roads against the simulated air and real pseudo-terminals.
#include "RoadEvents.h"
#include "ScopedEnv.h"
#include "sim/air/Air.h"
#include "sim/air/FarEnd.h"
#include "vyrAPI.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrLoaders.h"
#include "vyrRoads.h"
#include "win32/Serial.h"
#include "win32/Sockets.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vyr;
using win::test::PumpUntil;

namespace {

const air::Address kPhone = {0x00, 0x1E, 0x3A, 0x47, 0x9C, 0x01};
const char16_t kPhoneText[] = u"(00:1E:3A:47:9C:01)";

using Events = tavtest::ConnectionEvents;
using tavtest::Pattern;

// The library with the Microsoft stack and IrDA present, an air with one phone, no COM folder.
class Roads : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        savedMs_ = LoaderEntry(TvyrLoaderKind::Microsoft);
        savedIrda_ = LoaderEntry(TvyrLoaderKind::IrDA);
        LoaderEntry(TvyrLoaderKind::Microsoft) = {[](win::HWND) { return true; }, [] {}};
        LoaderEntry(TvyrLoaderKind::IrDA) = {[](win::HWND) { return true; }, [] {}};
        ASSERT_EQ(api.Load(), 0);

        air::Air& a = air::Air::Instance();
        a.Clear();
        air::ClearFarEnds();
        air::Radio r;
        r.present = true;
        r.address = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
        a.SetRadio(static_cast<int>(air::StackKind::Microsoft), r);
        a.SetIrdaPresent(true);
        a.AddPhone(tavtest::TwoServicePhone(kPhone));

        radio = TvyrBluetoothRadio(baMicrosoft);
        conn.BluetoothParams()->SetRadio(&radio);
        conn.BluetoothParams()->SetAddress(kPhoneText);
        conn.BluetoothParams()->SetAuthentication(false);
        conn.BluetoothParams()->SetChannel(3);
        conn.SetConnectTimeout(300);
        events.Bind(conn);
        sockets_ = win::test::OpenSocketCount();
    }
    void TearDown() override {
        conn.Disconnect();
        RestoreRfcommPairing();
        api.Unload();
        win::test::PumpMessages();
        air::ClearFarEnds();
        air::Air::Instance().Clear();
        LoaderEntry(TvyrLoaderKind::Microsoft) = savedMs_;
        LoaderEntry(TvyrLoaderKind::IrDA) = savedIrda_;
        EXPECT_EQ(win::test::OpenSocketCount(), sockets_);
        win::test::Reset();
    }

    // Connects and returns the outcome (-1 when none came).
    int Outcome(TvyrCustomClientConnection& c, Events& e, win::DWORD ms = 3000) {
        e.connects.clear();
        int r = c.Connect();
        if (r != 0)
            return 1000 + r;
        if (!PumpUntil([&] { return !e.connects.empty(); }, ms))
            return -1;
        return e.connects.front();
    }

    // Both directions at once, each burst larger than every buffer, through an echoing far end.
    void EchoBurst(TvyrCustomClientConnection& c, Events& e, size_t size) {
        const std::string out = Pattern(size, 7);
        e.data.clear();
        ASSERT_EQ(c.Write(out.data(), static_cast<win::DWORD>(out.size())), 0);
        ASSERT_TRUE(PumpUntil([&] { return e.data.size() >= out.size(); }, 10000)) << e.data.size();
        EXPECT_TRUE(e.data == out) << "bytes came back changed or out of order";
    }

    TvyrAPI api;
    TvyrBluetoothRadio radio;
    TvyrCustomClientConnection conn;
    Events events;
    TvyrLoaderEntry savedMs_{}, savedIrda_{};
    int sockets_ = 0;
};

// A pseudo-terminal pair entered in a private COM folder as COM<n>.
class PtyPort {
public:
    explicit PtyPort(unsigned number) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master_, 0);
        ::grantpt(master_);
        ::unlockpt(master_);
        char templ[] = "/tmp/tavlin-com-XXXXXX";
        dir_ = ::mkdtemp(templ);
        std::filesystem::create_symlink(::ptsname(master_), dir_ + "/COM" + std::to_string(number));
        comDir_.Set(dir_);
    }
    ~PtyPort() {
        CloseMaster();
        std::filesystem::remove_all(dir_);
    }
    int Master() const { return master_; }
    void CloseMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    // Reads exactly n bytes from the far end (bounded in time).
    std::string Read(size_t n) const {
        std::string got;
        char buf[4096];
        while (got.size() < n) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                break;
            ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0)
                break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    void WriteAll(const std::string& s) const {
        size_t at = 0;
        while (at < s.size()) {
            ssize_t w = ::write(master_, s.data() + at, s.size() - at);
            if (w < 0 && errno != EINTR && errno != EAGAIN)
                return;
            at += w > 0 ? static_cast<size_t>(w) : 0;
        }
    }

private:
    int master_ = -1;
    std::string dir_;
    tavtest::ScopedEnv comDir_{"TAVLIN_COM_DIR"};
};

} // namespace

TEST_F(Roads, SerialPortOverAPseudoTerminalCarriesBurstsBothWaysAndReportsTheHangUp) {
    PtyPort pty(7);
    TvyrCustomClientConnection serial;
    Events e;
    e.Bind(serial);
    serial.SetTransport(ctSerial);
    serial.SerialParams()->SetPort(7);
    serial.Buffers()->SetReadBuffer(512);

    // A port that is not there fails at once, with no event.
    serial.SerialParams()->SetPort(8);
    EXPECT_EQ(serial.Connect(), VYR_INTERNAL_ERROR);
    win::test::PumpUntilIdle(20, 500);
    EXPECT_TRUE(e.connects.empty());
    EXPECT_TRUE(serial.IsClosed());

    // No peer needed: the outcome is 0 once the posted result is handled.
    serial.SerialParams()->SetPort(7);
    ASSERT_EQ(Outcome(serial, e), 0);
    ASSERT_TRUE(serial.IsConnected());

    // Raw line: no echo, no line editing, no CR/LF rewriting.
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);

    // The far end's burst, larger than the read buffer and the terminal's queue, arrives whole and in order.
    const std::string in = Pattern(48 * 1024, 3) + "\r\n\x03\x11\x13";
    std::thread writer([&] { pty.WriteAll(in); });
    ASSERT_TRUE(PumpUntil([&] { return e.data.size() >= in.size(); }, 10000)) << e.data.size();
    writer.join();
    EXPECT_TRUE(e.data == in);

    // Our burst reaches the far end the same way, while it reads slowly.
    const std::string out = Pattern(40 * 1024, 5);
    std::string got;
    std::thread reader([&] { got = pty.Read(out.size()); });
    EXPECT_EQ(serial.Write(out.data(), static_cast<win::DWORD>(out.size())), 0);
    reader.join();
    EXPECT_TRUE(got == out);

    // The far end hangs up: exactly one OnDisconnect, and the reader is gone.
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return e.disconnects > 0; }, 3000));
    win::test::PumpUntilIdle(30, 500);
    EXPECT_EQ(e.disconnects, 1);
    EXPECT_TRUE(serial.IsClosed());
    EXPECT_EQ(serial.Write("x", 1), VYR_NOT_CONNECTED);
}

TEST_F(Roads, SerialPortSettingsAndRefusals) {
    PtyPort pty(5);
    TvyrCustomClientConnection serial;
    Events e;
    e.Bind(serial);
    serial.SetTransport(ctSerial);
    serial.SerialParams()->SetPort(5);

    // Two stop bits reach the line (a pseudo-terminal keeps eight bits and no parity whatever it is told).
    serial.SerialParams()->SetByteSize(bs7);
    serial.SerialParams()->SetParity(paEven);
    serial.SerialParams()->SetStopBits(sb2);
    ASSERT_EQ(Outcome(serial, e), 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    // The port is taken while the connection holds it.
    win::HANDLE second = win::CreateFileW(u"\\\\.\\COM5", win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                                          win::OPEN_EXISTING, win::FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(second, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    serial.Disconnect();
    EXPECT_EQ(e.disconnects, 1);

    // Four data bits do not exist on this line; a refused setting closes the port again.
    serial.SerialParams()->SetByteSize(bs4);
    EXPECT_EQ(serial.Connect(), VYR_INTERNAL_ERROR);
    serial.SerialParams()->SetByteSize(bs8);
    win::test::FailNext("SetCommTimeouts");
    EXPECT_EQ(serial.Connect(), VYR_INTERNAL_ERROR);
    win::test::FailNext("CreateEventW"); // the worker's terminate event
    EXPECT_EQ(serial.Connect(), VYR_OUT_OF_RESOURCES);
    ASSERT_EQ(Outcome(serial, e), 0) << "the port was not released after the failures";
    serial.Disconnect();
    win::test::PumpUntilIdle(20, 300);
    EXPECT_EQ(e.connects.size(), 1u);
}

TEST_F(Roads, RfcommCarriesBurstsBothWaysThroughAnEchoingPhone) {
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    conn.Buffers()->SetReadBuffer(1024);
    conn.Buffers()->SetWriteBuffer(1024);
    ASSERT_EQ(Outcome(conn, events), 0);
    EchoBurst(conn, events, 256 * 1024);
    EchoBurst(conn, events, 1);
    conn.Disconnect();
    EXPECT_EQ(events.disconnects, 1);
}

TEST_F(Roads, RfcommLinkEndsAtOnceWhenIdleOrFromInsideItsOwnDataHandler) {
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    // Idle: the reader is waiting on a silent socket and must still let go at once.
    ASSERT_EQ(Outcome(conn, events), 0);
    auto started = std::chrono::steady_clock::now();
    conn.Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(events.disconnects, 1);

    // From inside the delivery of an echo: the bytes are the handler's, the link ends once.
    std::string heard;
    int ends = 0;
    conn.OnData = [&](vcl::TObject*, const void* buffer, win::DWORD size) {
        heard.append(static_cast<const char*>(buffer), size);
        conn.Disconnect();
    };
    conn.OnDisconnect = [&](vcl::TObject*) { ++ends; };
    ASSERT_EQ(Outcome(conn, events), 0);
    ASSERT_EQ(conn.Write("ping", 4), 0);
    ASSERT_TRUE(PumpUntil([&] { return ends > 0; }, 5000));
    win::test::PumpUntilIdle(20, 200);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(heard.substr(0, 1), "p");
    EXPECT_TRUE(conn.IsClosed());

    // And the road connects again afterwards, carrying bytes as before.
    events.Bind(conn);
    events.data.clear();
    ASSERT_EQ(Outcome(conn, events), 0);
    EchoBurst(conn, events, 64 * 1024);
}

TEST_F(Roads, RfcommReachesThePhonesOwnObjectPushServer) {
    // Channel 0 takes the service class's channel from the phone's records.
    conn.BluetoothParams()->SetChannel(0);
    win::GUID opp = BluetoothBaseUuid;
    opp.Data1 = 0x1105;
    conn.BluetoothParams()->SetService(opp);
    ASSERT_EQ(Outcome(conn, events), 0);
    const unsigned char connect[] = {0x80, 0x00, 0x07, 0x10, 0x00, 0x10, 0x00};
    ASSERT_EQ(conn.Write(connect, sizeof connect), 0);
    ASSERT_TRUE(PumpUntil([&] { return events.data.size() >= 7; }, 3000));
    EXPECT_EQ(static_cast<unsigned char>(events.data[0]), 0xA0);
}

TEST_F(Roads, RfcommFailuresMapToTheLibraryCodes) {
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Silence});
    EXPECT_EQ(Outcome(conn, events), VYR_TIMEOUT);
    EXPECT_TRUE(conn.IsClosed());

    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Refuse});
    EXPECT_EQ(Outcome(conn, events), VYR_CONNECTION_REJECTED);

    conn.BluetoothParams()->SetChannel(12); // nothing listens there
    EXPECT_EQ(Outcome(conn, events), VYR_SERVICE_NOT_FOUND);
    conn.BluetoothParams()->SetChannel(3);

    air::Air::Instance().SetPhoneInRange(kPhone, false);
    EXPECT_EQ(Outcome(conn, events), VYR_TIMEOUT);
    air::Air::Instance().SetPhoneInRange(kPhone, true);

    // Start-up failures inside the worker.
    win::test::FailNext("socket");
    EXPECT_EQ(Outcome(conn, events), VYR_OUT_OF_RESOURCES);
    win::test::FailNext("setsockopt");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    win::test::FailNext("WSAEventSelect");
    EXPECT_EQ(Outcome(conn, events), VYR_INTERNAL_ERROR);
    EXPECT_EQ(events.disconnects, 0);

    // The socket-error table, with each road's reading of 10022.
    EXPECT_EQ(SocketErrorToError(10013, 33), 33);
    EXPECT_EQ(SocketErrorToError(10022, 33), 33);
    EXPECT_EQ(SocketErrorToError(10022, 45), 45);
    EXPECT_EQ(SocketErrorToError(10048, 33), 42);
    EXPECT_EQ(SocketErrorToError(10056, 33), 42);
    EXPECT_EQ(SocketErrorToError(10049, 33), 44);
    EXPECT_EQ(SocketErrorToError(10053, 33), 32);
    EXPECT_EQ(SocketErrorToError(10064, 33), 46);
    EXPECT_EQ(SocketErrorToError(10050, 33), 45);
    EXPECT_EQ(PairingResultToError(259), 30);
    EXPECT_EQ(PairingResultToError(1244), 31);
    EXPECT_EQ(PairingResultToError(87), 2);
}

TEST_F(Roads, RfcommToAPhoneThatWantsABondIsDeniedUntilTheAuthenticatedRetryPairs) {
    air::Air::Instance().UpdatePhone(kPhone, [](air::Phone& p) { p.link = air::LinkPolicy::NeedsPairing; });
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    std::vector<std::string> asked;
    unsigned answer = 1223;
    RfcommPairing().IsAuthenticated = [](const std::u16string&) { return air::Air::Instance().IsPaired(kPhone); };
    RfcommPairing().Authenticate = [&](const std::u16string& address) -> unsigned {
        asked.push_back(vcl::Utf16ToUtf8(address));
        if (answer == 0)
            air::Air::Instance().Pair(static_cast<int>(air::StackKind::Microsoft), kPhone, "");
        return answer;
    };

    EXPECT_EQ(Outcome(conn, events), VYR_ACCESS_DENIED);
    EXPECT_TRUE(asked.empty()) << "pairing asked without authentication";

    conn.BluetoothParams()->SetAuthentication(true);
    EXPECT_EQ(Outcome(conn, events), VYR_CANCELLED_BY_USER);
    answer = 0;
    ASSERT_EQ(Outcome(conn, events), 0);
    EXPECT_EQ(asked.size(), 2u);
    EchoBurst(conn, events, 10000);
    conn.Disconnect();

    // A bonded device is not asked again.
    ASSERT_EQ(Outcome(conn, events), 0);
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(Roads, DisconnectWhileConnectingIsSilentAndJoinsTheWorker) {
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Silence});
    conn.SetConnectTimeout(60000);
    ASSERT_EQ(conn.Connect(), 0);
    ASSERT_TRUE(PumpUntil([&] { return win::test::OpenSocketCount() > sockets_; }, 2000));
    conn.Disconnect(); // would hang here if the worker were not told to stop
    EXPECT_EQ(win::test::OpenSocketCount(), sockets_);
    win::test::PumpUntilIdle(30, 300);
    EXPECT_TRUE(events.connects.empty());
    EXPECT_EQ(events.disconnects, 0);

    // Also while the user is still being asked to pair.
    std::atomic<bool> release{false};
    conn.BluetoothParams()->SetAuthentication(true);
    RfcommPairing().Authenticate = [&](const std::u16string&) -> unsigned {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return 0;
    };
    ASSERT_EQ(conn.Connect(), 0);
    conn.Disconnect();
    release = true;
    win::test::PumpUntilIdle(30, 300);
    EXPECT_TRUE(events.connects.empty());
}

TEST_F(Roads, LostRfcommLinkGivesOneDisconnect) {
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Drop, 100});
    ASSERT_EQ(Outcome(conn, events), 0);
    const std::string out = Pattern(5000, 1);
    conn.Write(out.data(), static_cast<win::DWORD>(out.size())); // may or may not all go before the drop
    ASSERT_TRUE(PumpUntil([&] { return events.disconnects > 0; }, 3000));
    win::test::PumpUntilIdle(30, 300);
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_EQ(events.data, out.substr(0, 100));
    EXPECT_TRUE(conn.IsClosed());
}

TEST_F(Roads, IrdaCarriesBurstsAndMapsItsFailures) {
    TvyrCustomClientConnection ir;
    Events e;
    e.Bind(ir);
    ir.SetTransport(ctIrDA);
    ir.IrDAParams()->SetAddress(u"(01:02:03:04)");
    ir.IrDAParams()->SetService(u"OBEX");
    ir.SetConnectTimeout(300);
    const air::IrdaDeviceId id = {0x04, 0x03, 0x02, 0x01}; // the text's bytes, last first
    air::SetIrdaFarEnd(id, "OBEX", {air::FarEndMode::Echo});
    ASSERT_EQ(Outcome(ir, e), 0);
    EchoBurst(ir, e, 100 * 1024);
    ir.Disconnect();
    EXPECT_EQ(e.disconnects, 1);

    ir.IrDAParams()->SetService(u"IrDA:IrCOMM");
    EXPECT_EQ(Outcome(ir, e), VYR_SERVICE_NOT_FOUND);
    ir.IrDAParams()->SetService(u"a service name far too long for the field");
    EXPECT_EQ(Outcome(ir, e), VYR_SERVICE_NOT_FOUND);
    ir.IrDAParams()->SetService(u"OBEX");
    ir.IrDAParams()->SetAddress(u"(09:09:09:09)");
    EXPECT_EQ(Outcome(ir, e), VYR_TIMEOUT);
    ir.IrDAParams()->SetAddress(u"(01:02:03:04)");
    air::SetIrdaFarEnd(id, "OBEX", {air::FarEndMode::Refuse});
    ir.IrDAParams()->SetService(u"OBEX");
    EXPECT_EQ(Outcome(ir, e), VYR_CONNECTION_REJECTED);
    air::SetIrdaFarEnd(id, "OBEX", {air::FarEndMode::Silence});
    EXPECT_EQ(Outcome(ir, e), VYR_TIMEOUT);
    air::Air::Instance().SetIrdaPresent(false);
    EXPECT_EQ(Outcome(ir, e), VYR_UNABLE_CONNECT);
    EXPECT_EQ(e.disconnects, 1);
}
// A socket selected to a window is watched by the window's own message wait: a thread blocked in its
// queue wakes for the socket alone, gets one notice until it reads, and none once the socket is closed.
TEST_F(Roads, SelectedSocketWakesItsWindowsThreadOneNoticeAtATime) {
    constexpr win::UINT kNotice = win::WM_USER + 500;
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    win::SOCKET s = win::socket(win::AF_BTH, win::WS_SOCK_STREAM, win::BTHPROTO_RFCOMM);
    ASSERT_NE(s, win::INVALID_SOCKET);
    win::SOCKADDR_BTH addr{};
    addr.addressFamily = win::AF_BTH;
    for (int i = 0; i < 6; ++i)
        addr.btAddr = (addr.btAddr << 8) | kPhone[i];
    addr.port = 3;
    ASSERT_EQ(win::connect(s, &addr, sizeof addr), 0);
    win::HWND hwnd =
        win::CreateWindowExW(0, u"Message", u"", 0, 0, 0, 0, 0, win::HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);

    // Selected from another thread while this one already waits in its queue, as a road's worker does.
    ASSERT_EQ(win::send(s, "ping", 4, 0), 4);
    std::thread selector([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(win::WSAAsyncSelect(s, hwnd, kNotice, win::FD_READ | win::FD_CLOSE), 0);
    });
    win::MSG m{};
    const auto started = std::chrono::steady_clock::now();
    const win::DWORD woke = win::MsgWaitForMultipleObjects(0, nullptr, win::FALSE, 8000, win::QS_ALLINPUT);
    selector.join();
    ASSERT_EQ(woke, win::WAIT_OBJECT_0);
    // Woken by the socket, not found only when the wait ran out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    ASSERT_EQ(win::GetMessageW(&m, nullptr, 0, 0), win::TRUE);
    EXPECT_EQ(m.message, kNotice);
    EXPECT_EQ(m.hwnd, hwnd);
    EXPECT_EQ(m.wParam, s);
    EXPECT_EQ(m.lParam, win::FD_READ);

    // Unread bytes raise no second notice; a read lets the next one come.
    ASSERT_EQ(win::send(s, "pong", 4, 0), 4);
    EXPECT_EQ(win::MsgWaitForMultipleObjects(0, nullptr, win::FALSE, 100, win::QS_ALLINPUT), win::WAIT_TIMEOUT);
    std::string got;
    char buf[64];
    while (got.size() < 8) {
        int n = win::recv(s, buf, sizeof buf, 0);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        ASSERT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);
        ASSERT_EQ(win::MsgWaitForMultipleObjects(0, nullptr, win::FALSE, 5000, win::QS_ALLINPUT), win::WAIT_OBJECT_0);
        ASSERT_TRUE(win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE));
        EXPECT_EQ(m.message, kNotice);
    }
    EXPECT_EQ(got, "pingpong");

    // A notice waiting when the socket is closed goes with it: its number may soon be another socket's.
    ASSERT_EQ(win::send(s, "more", 4, 0), 4);
    ASSERT_EQ(win::MsgWaitForMultipleObjects(0, nullptr, win::FALSE, 5000, win::QS_ALLINPUT), win::WAIT_OBJECT_0);
    ASSERT_EQ(win::closesocket(s), 0);
    EXPECT_FALSE(win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE));
    EXPECT_EQ(win::WSAAsyncSelect(s, hwnd, kNotice, win::FD_READ), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAENOTSOCK);
    win::DestroyWindow(hwnd);
}

TEST_F(Roads, RfcommLinkIsLostWhenItsSocketCannotBeSelected) {
    air::SetRfcommFarEnd(kPhone, 3, {air::FarEndMode::Echo});
    win::test::FailNext("WSAAsyncSelect");
    ASSERT_EQ(Outcome(conn, events), 0);
    ASSERT_TRUE(PumpUntil([&] { return events.disconnects == 1; }, 5000));
    EXPECT_TRUE(conn.IsClosed());
}
