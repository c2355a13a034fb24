// Object Push over every transport road the library has, to a simulated phone's own server: the objects
// land in the phone's inbox unchanged, with progress from nothing to the whole size.
#include "Bytes.h"
#include "AirPhones.h"
#include "ScopedEnv.h"
#include "StackFixture.h"

#include "sim/air/FarEnd.h"
#include "sim/air/ObexLink.h"
#include "vcl/SysUtils.h"
#include "vyrAPI.h"
#include "vyrBlueSoleil.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrLoaders.h"
#include "vyrOBEX.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vyr;
using win::test::PumpUntil;
namespace fs = std::filesystem;

namespace {

using tavtest::Pattern;
using tavtest::ReadFile;

const air::Address kPhone = {0x00, 0x1E, 0x3A, 0x47, 0x9C, 0x01};
const char16_t kPhoneText[] = u"(00:1E:3A:47:9C:01)";
const air::IrdaDeviceId kIrdaId = {0x04, 0x03, 0x02, 0x01}; // "(01:02:03:04)", last byte first

bool WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// A pseudo-terminal entered as COM<n> whose far end is relayed, byte for byte, to a link of the phone's
// Object Push server: the serial cable to a phone.
class PtyPhone {
public:
    PtyPhone(const std::string& comDir, unsigned number, const air::Phone& phone) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        ::grantpt(master_);
        ::unlockpt(master_);
        link_ = comDir + "/COM" + std::to_string(number);
        fs::create_symlink(::ptsname(master_), link_);
        obex_ = air::OpenObexLink(phone);
        EXPECT_GE(obex_, 0);
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        relay_ = std::thread([this] { Relay(); });
    }
    ~PtyPhone() {
        const std::uint64_t one = 1;
        (void)!::write(stop_, &one, sizeof one);
        relay_.join();
        ::close(stop_);
        ::close(obex_);
        ::close(master_);
        std::error_code ec;
        fs::remove(link_, ec);
    }

private:
    void Relay() {
        char buf[8192];
        for (;;) {
            pollfd p[3] = {{master_, POLLIN, 0}, {obex_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(p, 3, 100) < 0 && errno != EINTR)
                return;
            if (p[2].revents)
                return;
            if (p[0].revents & POLLIN) {
                ssize_t r = ::read(master_, buf, sizeof buf);
                if (r > 0 && !WriteAll(obex_, buf, static_cast<std::size_t>(r)))
                    return;
            } else if (p[0].revents & (POLLHUP | POLLERR)) {
                // No one has the port open (yet, or any more): nothing to carry.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (p[1].revents & (POLLIN | POLLHUP)) {
                ssize_t r = ::recv(obex_, buf, sizeof buf, 0);
                if (r <= 0 || !WriteAll(master_, buf, static_cast<std::size_t>(r)))
                    return;
            }
        }
    }

    int master_ = -1, obex_ = -1, stop_ = -1;
    std::string link_;
    std::thread relay_;
};

// Every stack's radio attached and IrDA present, one phone with an inbox, a private COM folder, the library
// loaded with every stack.
class ObexRoads : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        char pattern[] = "/tmp/tavlin-obexroads-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        fs::create_directories(dir_ + "/com");
        comDir_.emplace("TAVLIN_COM_DIR", dir_ + "/com");
        for (int k = 0; k < air::kStackKinds; ++k)
            SetRadio(k, true);
        air::Air::Instance().SetIrdaPresent(true);
        phone_ = tavtest::PushPhone(kPhone, "Marta", dir_ + "/inbox", false);
        air::Air::Instance().AddPhone(phone_);
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, u"6.4.236.0");
        savedMs_ = LoaderEntry(TvyrLoaderKind::Microsoft);
        savedIrda_ = LoaderEntry(TvyrLoaderKind::IrDA);
        LoaderEntry(TvyrLoaderKind::Microsoft) = {[](win::HWND) { return true; }, [] {}};
        LoaderEntry(TvyrLoaderKind::IrDA) = {[](win::HWND) { return true; }, [] {}};
        ASSERT_EQ(api.Load(), 0);
    }
    void TearDown() override {
        api.Unload();
        LoaderEntry(TvyrLoaderKind::Microsoft) = savedMs_;
        LoaderEntry(TvyrLoaderKind::IrDA) = savedIrda_;
        air::StopObexLinks();
        air::ClearFarEnds();
        comDir_.reset();
        StackFixture::TearDown();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The client on a stack's radio, to the phone's Object Push service found by its class.
    static void OnRadio(TvyrBluetoothApi stack, TvyrOPPClient& opp) {
        TvyrBluetoothRadio radio(stack);
        opp.BluetoothParams()->SetRadio(&radio);
        opp.BluetoothParams()->SetAddress(kPhoneText);
        opp.BluetoothParams()->SetChannel(0);
    }

    // One transport connection and one session for every object: the empty one refused before it is sent,
    // the others landing whole in the inbox with progress from 0 to their size; then a clean end.
    void PushAll(TvyrOPPClient& opp) {
        int connected = -1, session = -1, put = -1, disconnects = 0;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
        opp.SetConnectTimeout(5000);
        opp.OnConnect = [&](vcl::TObject*, int e) { connected = e; };
        opp.OnDisconnect = [&](vcl::TObject*) { ++disconnects; };
        opp.OnOBEXConnect = [&](vcl::TObject*, int e) { session = e; };
        opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { put = e; };
        opp.OnOBEXProgress = [&](vcl::TObject*, std::uint32_t p, std::uint32_t s) { progress.emplace_back(p, s); };

        ASSERT_EQ(opp.Connect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return connected != -1; }, 5000));
        ASSERT_EQ(connected, 0);
        ASSERT_EQ(opp.OBEXConnect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return session != -1; }, 5000));
        ASSERT_EQ(session, 0);

        vcl::TMemoryStream empty;
        EXPECT_EQ(opp.Put(u"empty.txt", &empty, u""), VYR_INVALID_ARGUMENT);
        EXPECT_EQ(opp.Operation(), opIdle);

        struct Case {
            std::u16string name;
            std::string file;
            std::size_t size;
        };
        const std::vector<Case> cases = {{u"one.bin", "one.bin", 1},
                                         {u"promo.jpg", "promo.jpg", 20 * 1024},
                                         {u"big.bin", "big.bin", 1024 * 1024},
                                         {u"Grüße ☃ Ελλάδα.txt", "Grüße ☃ Ελλάδα.txt", 3000}};
        for (const Case& k : cases) {
            SCOPED_TRACE(k.file);
            const std::string content = Pattern(k.size, static_cast<unsigned>(k.size));
            vcl::TMemoryStream s;
            s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
            put = -1;
            progress.clear();
            ASSERT_EQ(opp.Put(k.name, &s, u""), 0);
            ASSERT_TRUE(PumpUntil([&] { return put != -1; }, 20000));
            ASSERT_EQ(put, 0);
            EXPECT_TRUE(ReadFile(fs::path(phone_.inbox) / k.file) == content) << "the object arrived changed";
            ASSERT_FALSE(progress.empty());
            EXPECT_EQ(progress.front().first, 0u);
            EXPECT_EQ(progress.back().first, k.size);
            for (std::size_t i = 0; i < progress.size(); ++i) {
                EXPECT_EQ(progress[i].second, k.size);
                if (i > 0) {
                    EXPECT_GT(progress[i].first, progress[i - 1].first);
                }
            }
        }

        ASSERT_EQ(opp.OBEXDisconnect(), 0);
        EXPECT_TRUE(PumpUntil([&] { return opp.SessionState() == ssNone; }, 3000));
        opp.Disconnect();
        EXPECT_TRUE(opp.IsClosed());
        EXPECT_EQ(disconnects, 1);
    }

    // The phone goes away in the middle of a push: the put ends with the lost link's error, not success,
    // and the session and the link end once each.
    void LostMidPut(TvyrOPPClient& opp) {
        air::Air::Instance().UpdatePhone(kPhone, [](air::Phone& p) {
            p.obex.mode = air::ObexMode::DropMidPut;
            p.obex.after = 4;
        });
        int connected = -1, session = -1, put = -1, disconnects = 0, sessionEnds = 0;
        opp.SetConnectTimeout(5000);
        opp.OnConnect = [&](vcl::TObject*, int e) { connected = e; };
        opp.OnDisconnect = [&](vcl::TObject*) { ++disconnects; };
        opp.OnOBEXDisconnect = [&](vcl::TObject*) { ++sessionEnds; };
        opp.OnOBEXConnect = [&](vcl::TObject*, int e) { session = e; };
        opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { put = e; };
        ASSERT_EQ(opp.Connect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return connected != -1; }, 5000));
        ASSERT_EQ(connected, 0);
        ASSERT_EQ(opp.OBEXConnect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return session != -1; }, 5000));
        ASSERT_EQ(session, 0);
        const std::string content = Pattern(100000, 1);
        vcl::TMemoryStream s;
        s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        ASSERT_EQ(opp.Put(u"cut.bin", &s, u""), 0);
        ASSERT_TRUE(PumpUntil([&] { return put != -1 && disconnects > 0; }, 5000)) << put << " " << disconnects;
        win::test::PumpUntilIdle(20, 200);
        EXPECT_EQ(put, VYR_CONNECTION_TERMINATED);
        EXPECT_EQ(sessionEnds, 1);
        EXPECT_EQ(disconnects, 1);
        EXPECT_TRUE(opp.IsClosed());
        EXPECT_FALSE(fs::exists(fs::path(phone_.inbox) / "cut.bin"));
    }

    // A phone that hangs up the moment it has answered the final PUT: the push still ends with success
    // and the link ends once. Returns how many of `trials` pushes ended 0 with the object whole in the inbox.
    int PushesToAPhoneThatHangsUp(TvyrBluetoothApi stack, int trials) {
        air::Air::Instance().UpdatePhone(kPhone, [](air::Phone& p) { p.obex.closeAfterFinal = true; });
        int good = 0;
        for (int i = 0; i < trials; ++i) {
            SCOPED_TRACE(i);
            TvyrOPPClient opp;
            OnRadio(stack, opp);
            int connected = -1, session = -1, put = -1, disconnects = 0;
            opp.SetConnectTimeout(5000);
            opp.OnConnect = [&](vcl::TObject*, int e) { connected = e; };
            opp.OnDisconnect = [&](vcl::TObject*) { ++disconnects; };
            opp.OnOBEXConnect = [&](vcl::TObject*, int e) { session = e; };
            opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { put = e; };
            EXPECT_EQ(opp.Connect(), 0);
            EXPECT_TRUE(PumpUntil([&] { return connected != -1; }, 5000));
            EXPECT_EQ(connected, 0);
            if (connected != 0 || opp.OBEXConnect() != 0)
                continue;
            EXPECT_TRUE(PumpUntil([&] { return session != -1; }, 5000));
            EXPECT_EQ(session, 0);
            const std::string content = Pattern(3000 + 97 * static_cast<std::size_t>(i), 7);
            const std::string name = "last" + std::to_string(i) + ".bin";
            vcl::TMemoryStream s;
            s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
            if (opp.Put(vcl::Utf8ToUtf16(name), &s, u"") != 0)
                continue;
            EXPECT_TRUE(PumpUntil([&] { return put != -1 && disconnects > 0; }, 5000)) << put << " " << disconnects;
            win::test::PumpUntilIdle(5, 100);
            EXPECT_EQ(disconnects, 1);
            EXPECT_TRUE(opp.IsClosed());
            EXPECT_EQ(put, 0);
            if (put == 0 && ReadFile(fs::path(phone_.inbox) / name) == content)
                ++good;
        }
        air::Air::Instance().UpdatePhone(kPhone, [](air::Phone& p) { p.obex.closeAfterFinal = false; });
        return good;
    }

    TvyrAPI api;
    air::Phone phone_;
    std::string dir_;
    std::optional<tavtest::ScopedEnv> comDir_;
    TvyrLoaderEntry savedMs_{}, savedIrda_{};
};

} // namespace

TEST_F(ObexRoads, SerialCableToThePhone) {
    PtyPhone cable(dir_ + "/com", 7, phone_);
    TvyrOPPClient opp;
    opp.SetTransport(ctSerial);
    opp.SerialParams()->SetPort(7);
    PushAll(opp);
}

TEST_F(ObexRoads, Infrared) {
    air::SetIrdaFarEnd(kIrdaId, "OBEX", {air::FarEndMode::ObjectPush, 0, kPhone});
    TvyrOPPClient opp;
    opp.SetTransport(ctIrDA);
    opp.IrDAParams()->SetAddress(u"(01:02:03:04)");
    PushAll(opp);
}

TEST_F(ObexRoads, MicrosoftStack) {
    TvyrOPPClient opp;
    OnRadio(baMicrosoft, opp);
    PushAll(opp);
}

TEST_F(ObexRoads, WidCommStack) {
    TvyrOPPClient opp;
    OnRadio(baWidComm, opp);
    PushAll(opp);
}

TEST_F(ObexRoads, BlueSoleilStack) {
    TvyrOPPClient opp;
    OnRadio(baBlueSoleil, opp);
    PushAll(opp);
    EXPECT_EQ(BlueSoleilConnections().Count(), 0);
}

TEST_F(ObexRoads, ToshibaStack) {
    TvyrOPPClient opp;
    OnRadio(baToshiba, opp);
    PushAll(opp);
    EXPECT_TRUE(PumpUntil([&] { return fs::is_empty(dir_ + "/com"); }, 3000)) << "a virtual port outlived its link";
}

TEST_F(ObexRoads, APhoneLostMidPushFailsThePutOnEveryWirelessRoad) {
    for (TvyrBluetoothApi stack : {baMicrosoft, baWidComm, baBlueSoleil, baToshiba}) {
        SCOPED_TRACE(static_cast<int>(stack));
        TvyrOPPClient opp;
        OnRadio(stack, opp);
        LostMidPut(opp);
    }
    SCOPED_TRACE("infrared");
    air::SetIrdaFarEnd(kIrdaId, "OBEX", {air::FarEndMode::ObjectPush, 0, kPhone});
    TvyrOPPClient opp;
    opp.SetTransport(ctIrDA);
    opp.IrDAParams()->SetAddress(u"(01:02:03:04)");
    LostMidPut(opp);
}

TEST_F(ObexRoads, APhoneThatHangsUpAfterItsLastReplyStillGetsADeliveredPushOnEveryWirelessRoad) {
    // The BlueSoleil road lost about every other such push, the Toshiba road every one; the Toshiba and
    // WidComm roads spend a second on every connect or close, so a few tries tell there.
    for (TvyrBluetoothApi stack : {baMicrosoft, baWidComm, baBlueSoleil, baToshiba}) {
        SCOPED_TRACE(static_cast<int>(stack));
        const int trials = stack == baBlueSoleil ? 10 : 3;
        EXPECT_EQ(PushesToAPhoneThatHangsUp(stack, trials), trials);
    }
}

TEST_F(ObexRoads, OnBlueSoleilAPhoneThatDropsItsLinkFailsOnlyItsOwnPush) {
    air::Air::Instance().UpdatePhone(kPhone, [](air::Phone& p) {
        p.obex.mode = air::ObexMode::DropMidPut;
        p.obex.after = 4;
    });
    struct Push {
        air::Phone phone;
        TvyrOPPClient opp;
        vcl::TMemoryStream stream;
        int connected = -1, session = -1, put = -1;
    };
    std::vector<std::unique_ptr<Push>> pushes;
    for (std::uint8_t i = 0; i < 5; ++i) {
        auto push = std::make_unique<Push>();
        push->phone = phone_;
        if (i > 0) {
            push->phone.address[5] = static_cast<std::uint8_t>(0x10 + i);
            push->phone.inbox = dir_ + "/inbox" + std::to_string(i);
            air::Air::Instance().AddPhone(push->phone);
        }
        TvyrBluetoothRadio radio(baBlueSoleil);
        Push& p = *push;
        p.opp.BluetoothParams()->SetRadio(&radio);
        p.opp.BluetoothParams()->SetAddress(vcl::Utf8ToUtf16(air::AddressToText(p.phone.address)));
        p.opp.BluetoothParams()->SetChannel(0);
        p.opp.SetConnectTimeout(5000);
        p.opp.OnConnect = [&p](vcl::TObject*, int e) { p.connected = e; };
        p.opp.OnOBEXConnect = [&p](vcl::TObject*, int e) { p.session = e; };
        p.opp.OnOBEXPutComplete = [&p](vcl::TObject*, int e) { p.put = e; };
        pushes.push_back(std::move(push));
    }
    auto all = [&](auto done) {
        return PumpUntil(
            [&] {
                for (const auto& p : pushes)
                    if (!done(*p))
                        return false;
                return true;
            },
            20000);
    };
    for (auto& p : pushes)
        ASSERT_EQ(p->opp.Connect(), 0);
    ASSERT_TRUE(all([](const Push& p) { return p.connected != -1; }));
    for (auto& p : pushes) {
        ASSERT_EQ(p->connected, 0);
        ASSERT_EQ(p->opp.OBEXConnect(), 0);
    }
    ASSERT_TRUE(all([](const Push& p) { return p.session != -1; }));
    const std::string content = Pattern(1536 * 1024, 5); // larger than 1 MiB: still going when the drop comes
    for (auto& p : pushes) {
        ASSERT_EQ(p->session, 0);
        p->stream.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        ASSERT_EQ(p->opp.Put(u"big.bin", &p->stream, u""), 0);
    }
    ASSERT_TRUE(all([](const Push& p) { return p.put != -1; }));
    EXPECT_EQ(pushes[0]->put, VYR_CONNECTION_TERMINATED);
    EXPECT_FALSE(fs::exists(fs::path(phone_.inbox) / "big.bin"));
    for (std::size_t i = 1; i < pushes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pushes[i]->put, 0);
        EXPECT_TRUE(ReadFile(fs::path(pushes[i]->phone.inbox) / "big.bin") == content) << "the object arrived changed";
        pushes[i]->opp.Disconnect();
    }
    pushes.clear();
    EXPECT_EQ(BlueSoleilConnections().Count(), 0);
}

// The roads whose stacks bond inside the connect (the Microsoft road's own pairing step has its own tests):
// an authenticated link to a phone that takes only bonded links bonds first, then carries the push.
TEST_F(ObexRoads, APhoneThatTakesOnlyBondedLinksIsServedWithAuthenticationOnBlueSoleilAndToshiba) {
    for (TvyrBluetoothApi stack : {baBlueSoleil, baToshiba}) {
        SCOPED_TRACE(static_cast<int>(stack));
        air::Air::Instance().UpdatePhone(kPhone, [](air::Phone& p) {
            p.link = air::LinkPolicy::NeedsPairing;
            p.pairing.paired = false;
        });
        TvyrOPPClient opp;
        OnRadio(stack, opp);
        opp.BluetoothParams()->SetAuthentication(true);
        int connected = -1, session = -1, put = -1;
        opp.SetConnectTimeout(5000);
        opp.OnConnect = [&](vcl::TObject*, int e) { connected = e; };
        opp.OnOBEXConnect = [&](vcl::TObject*, int e) { session = e; };
        opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { put = e; };
        ASSERT_EQ(opp.Connect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return connected != -1; }, 5000));
        ASSERT_EQ(connected, 0);
        EXPECT_TRUE(air::Air::Instance().IsPaired(kPhone));
        ASSERT_EQ(opp.OBEXConnect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return session != -1; }, 5000));
        ASSERT_EQ(session, 0);
        const std::string content = Pattern(5000, static_cast<unsigned>(stack));
        const std::string name = "bonded" + std::to_string(static_cast<int>(stack)) + ".bin";
        vcl::TMemoryStream s;
        s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        ASSERT_EQ(opp.Put(vcl::Utf8ToUtf16(name), &s, u""), 0);
        ASSERT_TRUE(PumpUntil([&] { return put != -1; }, 5000));
        EXPECT_EQ(put, 0);
        EXPECT_TRUE(ReadFile(fs::path(phone_.inbox) / name) == content);
        opp.Disconnect();
    }
}
