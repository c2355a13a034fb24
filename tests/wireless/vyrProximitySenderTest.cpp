// The proximity sender and device against simulated phones on every stack.
#include "AirPhones.h"
#include "PhoneRoads.h"
#include "sim/air/Air.h"
#include "sim/air/ObexLink.h"
#include "vcl/SysUtils.h"
#include "vyrAPI.h"
#include "vyrErrors.h"
#include "vyrProximitySender.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vyr;
using win::test::PumpUntil;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::u16string& s) {
    return vcl::Utf16ToUtf8(s);
}

air::Address PhoneAddress(int i) {
    return {0x00, 0x1E, 0x3A, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
}

std::string PhoneText(int i) {
    return air::AddressToText(PhoneAddress(i));
}

class ProximitySender : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001); // inquiries end at once
        win::test::SetTimeScale(200);             // a second of delay or sleep takes 5 ms
        dir_ = fs::temp_directory_path() / ("tavlin-prox-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "files");
        small_ = WriteFile("promo.txt", std::string(300, 'p'));
        large_ = WriteFile("picture.jpg", std::string(20000, 'j'));
    }
    void TearDown() override {
        sender_.reset();
        roads_.reset();
        win::test::PumpMessages();
        air::Air::Instance().Clear();
        win::test::Reset();
        fs::remove_all(dir_);
    }

    std::string WriteFile(const std::string& name, const std::string& content) {
        fs::path p = dir_ / "files" / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    // Radio of that stack, `count` bonded phones with Object Push, the library loaded, a sender on it.
    void World(int stack, int count, const std::function<void(air::Phone&)>& edit = {}) {
        tavtest::PlugRadio(stack, 0x55);
        for (int i = 1; i <= count; ++i) {
            air::Phone p = tavtest::PushPhone(PhoneAddress(i), "phone " + std::to_string(i),
                                              (dir_ / ("inbox" + std::to_string(i))).string());
            if (edit)
                edit(p);
            air::Air::Instance().AddPhone(p);
        }
        if (!roads_)
            roads_ = std::make_unique<tavtest::PhoneRoads>();
        ASSERT_TRUE(IsApiAvailable(static_cast<std::uint8_t>(stack))) << "stack " << stack;
        sender_ = std::make_unique<TvyrProximitySender>();
        TvyrBluetoothRadio radio(static_cast<TvyrBluetoothApi>(stack));
        sender_->SetSendRadio(&radio);
        sender_->SetDiscoveryRadio(&radio);
        sender_->SetDiscoverTimeout(1);
        sender_->SetSendDelay(1);
        sender_->SetSleepInterval(1);
        // The phones answer in real time while the sender's clock runs 200 times fast: the longest time-out
        // (255 s, 1.3 real seconds) keeps a busy machine from turning slow answers into time-outs.
        sender_->SetTimeout(255);
        Log(*sender_);
    }

    void Log(TvyrProximitySender& s) {
        s.OnStarted = [this](vcl::TObject*) { log_.push_back("started"); };
        s.OnDiscoveryStarted = [this](vcl::TObject*) { log_.push_back("discovery started"); };
        s.OnDevicesFound = [this](vcl::TObject*, TvyrBluetoothDevices* d) {
            log_.push_back("found " + std::to_string(d->Count()));
        };
        s.OnAcceptDevice = [this](vcl::TObject*, TvyrBluetoothDevice* d, bool& accept) {
            log_.push_back("accept " + Text(d->Address()));
            accept = !accept_ || accept_(Text(d->Address()));
        };
        s.OnGetFiles = [this](vcl::TObject*, TvyrBluetoothDevice* d, TvyrFileList& files) {
            log_.push_back("files " + Text(d->Address()));
            EXPECT_TRUE(files.empty());
            if (files_)
                files = files_(Text(d->Address()));
            else
                files = {small_};
        };
        s.OnDiscoveryComplete = [this](vcl::TObject*) { log_.push_back("discovery complete"); };
        s.OnStartDelay = [this](vcl::TObject*) { log_.push_back("start delay"); };
        s.OnStopDelay = [this](vcl::TObject*) { log_.push_back("stop delay"); };
        s.OnSendStarted = [this](vcl::TObject*, TvyrBluetoothDevice* d) {
            log_.push_back("send started " + Text(d->Address()));
            int connecting = 0;
            for (int i = 0; i < sender_->DeviceCount(); ++i)
                connecting += sender_->Devices(i)->Client()->State() == csConnecting ? 1 : 0;
            maxConnecting_ = std::max(maxConnecting_, connecting);
        };
        s.OnFileSendStarted = [this](vcl::TObject*, TvyrBluetoothDevice* d, const std::u16string& f) {
            log_.push_back("file started " + Text(d->Address()) + " " + fs::path(Text(f)).filename().string());
        };
        s.OnProgress = [this](vcl::TObject*, TvyrBluetoothDevice*, const std::u16string&, std::uint32_t,
                              std::uint32_t) { ++progress_; };
        s.OnFileSendComplete = [this](vcl::TObject*, TvyrBluetoothDevice* d, const std::u16string& f, int e) {
            log_.push_back("file complete " + Text(d->Address()) + " " + fs::path(Text(f)).filename().string() + " " +
                           std::to_string(e));
        };
        s.OnSendComplete = [this](vcl::TObject*, TvyrBluetoothDevice* d, int e) {
            log_.push_back("send complete " + Text(d->Address()) + " " + std::to_string(e));
            results_[Text(d->Address())].push_back(e);
        };
        s.OnStartSleep = [this](vcl::TObject*) {
            log_.push_back("start sleep");
            ++sleeps_;
        };
        s.OnStopSleep = [this](vcl::TObject*) { log_.push_back("stop sleep"); };
        s.OnStopped = [this](vcl::TObject*) { log_.push_back("stopped"); };
    }

    // Starts and runs until the first cycle has gone to sleep.
    void OneCycle() {
        ASSERT_EQ(sender_->Start(), 0);
        ASSERT_TRUE(PumpUntil([&] { return sleeps_ > 0; }, 10000));
    }

    bool Paired(int i) { return air::Air::Instance().FindPhone(PhoneAddress(i))->pairing.paired; }
    std::string Inbox(int i, const std::string& name) {
        std::ifstream in(dir_ / ("inbox" + std::to_string(i)) / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t Count(const std::string& prefix) const {
        return static_cast<size_t>(
            std::count_if(log_.begin(), log_.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }

    fs::path dir_;
    std::string small_, large_;
    std::unique_ptr<tavtest::PhoneRoads> roads_;
    std::unique_ptr<TvyrProximitySender> sender_;
    std::vector<std::string> log_;
    std::map<std::string, std::vector<int>> results_;
    std::function<bool(const std::string&)> accept_;
    std::function<TvyrFileList(const std::string&)> files_;
    int progress_ = 0, sleeps_ = 0, maxConnecting_ = 0;
};

} // namespace

TEST_F(ProximitySender, FullCycleOnEveryStackInOrder) {
    for (int stack : {baBlueSoleil, baMicrosoft, baToshiba, baWidComm}) {
        SCOPED_TRACE(stack);
        World(stack, 2);
        sender_->SetMaxConnections(1);
        files_ = [&](const std::string&) { return TvyrFileList{small_, large_}; };
        OneCycle();
        const std::string a = PhoneText(1), b = PhoneText(2);
        std::vector<std::string> expected = {"started",     "discovery started", "found 2",    "accept " + a,
                                             "accept " + b, "files " + a,        "files " + b, "discovery complete",
                                             "start delay", "stop delay"};
        for (const auto& p : {a, b}) {
            expected.push_back("send started " + p);
            expected.push_back("file started " + p + " promo.txt");
            expected.push_back("file complete " + p + " promo.txt 0");
            expected.push_back("file started " + p + " picture.jpg");
            expected.push_back("file complete " + p + " picture.jpg 0");
            expected.push_back("send complete " + p + " 0");
        }
        expected.push_back("start sleep");
        EXPECT_EQ(log_, expected);
        EXPECT_GT(progress_, 0);
        // Pushed under the file's own name, not the path; bonds removed after the push.
        EXPECT_EQ(Inbox(1, "picture.jpg"), std::string(20000, 'j'));
        EXPECT_EQ(Inbox(2, "promo.txt").size(), 300u);
        EXPECT_FALSE(Paired(1));
        EXPECT_FALSE(Paired(2));
        EXPECT_TRUE(TvyrProximitySender::StacksInUse().Contains(static_cast<unsigned>(stack)));

        // The sleep ends in the next discovery.
        log_.clear();
        ASSERT_TRUE(PumpUntil([&] { return Count("discovery started") > 0; }, 5000));
        EXPECT_EQ(log_.front(), "stop sleep");
        sender_->Stop();
        EXPECT_EQ(log_.back(), "stopped");
        EXPECT_FALSE(sender_->Active());
        EXPECT_FALSE(TvyrProximitySender::StacksInUse().Contains(static_cast<unsigned>(stack)));
        sender_.reset();
        roads_.reset();
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001);
        log_.clear();
        sleeps_ = progress_ = 0;
    }
}

TEST_F(ProximitySender, AcceptAndFileChoicesDecideWhoIsConnected) {
    World(baMicrosoft, 3);
    // Nobody accepted: no files asked, straight to sleep without a delay.
    accept_ = [](const std::string&) { return false; };
    OneCycle();
    EXPECT_EQ(Count("accept "), 3u);
    EXPECT_EQ(Count("files "), 0u);
    EXPECT_EQ(Count("start delay"), 0u);
    EXPECT_EQ(log_[log_.size() - 2], "discovery complete");
    sender_->Stop();

    // All accepted, only the second given files: one device is pushed to and unpaired.
    log_.clear();
    sleeps_ = 0;
    accept_ = {};
    files_ = [&](const std::string& a) { return a == PhoneText(2) ? TvyrFileList{small_} : TvyrFileList{}; };
    OneCycle();
    EXPECT_EQ(Count("files "), 3u);
    EXPECT_EQ(Count("send started"), 1u);
    EXPECT_EQ(results_[PhoneText(2)], std::vector<int>{0});
    EXPECT_TRUE(Paired(1));
    EXPECT_FALSE(Paired(2));
    EXPECT_TRUE(Paired(3));
    EXPECT_EQ(sender_->DeviceCount(), 1);
    sender_->Stop();

    // Nobody in range: an empty list is still reported.
    for (int i = 1; i <= 3; ++i)
        air::Air::Instance().SetPhoneInRange(PhoneAddress(i), false);
    log_.clear();
    sleeps_ = 0;
    OneCycle();
    EXPECT_EQ(log_, (std::vector<std::string>{"started", "discovery started", "found 0", "discovery complete",
                                              "start sleep"}));
}

TEST_F(ProximitySender, ConnectionCapAndOneAttemptAtATime) {
    for (int stack : {baMicrosoft, baBlueSoleil, baToshiba, baWidComm}) {
        const bool oneAttempt = stack == baBlueSoleil || stack == baToshiba;
        // Phones that answer at once: however the pushes interleave, never more links than the cap, and
        // on BlueSoleil and Toshiba never two connection attempts at a time.
        for (int cap : {1, 3}) {
            SCOPED_TRACE(std::to_string(stack) + " cap " + std::to_string(cap));
            World(stack, 8, [](air::Phone& p) { p.obex.delayMs = 2; });
            sender_->SetMaxConnections(static_cast<std::uint8_t>(cap));
            air::ResetObexLinkHighWater();
            maxConnecting_ = 0;
            OneCycle();
            EXPECT_EQ(Count("send complete"), 8u);
            EXPECT_GE(air::ObexLinkHighWater(), 1u);
            EXPECT_LE(air::ObexLinkHighWater(), static_cast<size_t>(cap));
            EXPECT_GE(maxConnecting_, 1);
            EXPECT_LE(maxConnecting_, oneAttempt ? 1 : cap);
            sender_.reset();
            log_.clear();
            sleeps_ = 0;
        }
        roads_.reset();
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001);

        // Phones that never answer hold their links until the sender gives up on them (255 s, over 12 real
        // seconds at this clock): with more of them waiting than the cap, the links fill up to the cap, and
        // the next phone waits for a free one.
        SCOPED_TRACE(std::to_string(stack) + " held links");
        win::test::SetTimeScale(20);
        World(stack, 5, [](air::Phone& p) { p.obex.mode = air::ObexMode::Silent; });
        sender_->SetMaxConnections(3);
        air::ResetObexLinkHighWater();
        maxConnecting_ = 0;
        ASSERT_EQ(sender_->Start(), 0);
        EXPECT_TRUE(PumpUntil([] { return air::ObexLinkHighWater() >= 3; }, 10000));
        win::test::PumpUntil([] { return false; }, 50); // a fourth link would show now
        EXPECT_EQ(air::ObexLinkHighWater(), 3u);
        EXPECT_EQ(Count("send started"), 3u);
        EXPECT_LE(maxConnecting_, oneAttempt ? 1 : 3);
        sender_->Stop();
        sender_.reset();
        roads_.reset();
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001);
        win::test::SetTimeScale(200);
        log_.clear();
        sleeps_ = 0;
    }
}

TEST_F(ProximitySender, EveryDeviceEndsOnceWithItsCode) {
    // 1 good; 2 a missing file between two good ones; 3 an empty file; 4 drops during the PUT;
    // 5 refuses the link; 6 refuses the object; 7 wants a bond first (one retry with authentication).
    const std::string empty = WriteFile("empty.txt", "");
    const std::string missing = (dir_ / "files" / "gone.txt").string();
    World(baMicrosoft, 7, [](air::Phone& p) {
        switch (p.address[5]) {
        case 4:
            p.obex.mode = air::ObexMode::DropMidPut;
            p.obex.after = 1;
            break;
        case 5:
            p.link = air::LinkPolicy::Refuse;
            break;
        case 6:
            p.obex.mode = air::ObexMode::Refuse;
            break;
        case 7:
            p.link = air::LinkPolicy::NeedsPairing;
            p.pairing.paired = false;
            break;
        }
    });
    files_ = [&](const std::string& a) {
        if (a == PhoneText(2))
            return TvyrFileList{small_, missing, large_};
        if (a == PhoneText(3))
            return TvyrFileList{empty};
        return TvyrFileList{large_};
    };
    OneCycle();
    std::map<std::string, std::vector<int>> expected = {
        {PhoneText(1), {0}},
        {PhoneText(2), {VYR_PROXIMITY_INVALID_FILE}},
        {PhoneText(3), {VYR_INVALID_ARGUMENT}},
        {PhoneText(4), {VYR_CONNECTION_TERMINATED}},
        {PhoneText(5), {VYR_CONNECTION_REJECTED}},
        {PhoneText(6), {VYR_OBEX_FORBIDDEN}},
        {PhoneText(7), {0}},
    };
    EXPECT_EQ(results_, expected);
    const std::string two = PhoneText(2);
    EXPECT_EQ(Count("file complete " + two + " promo.txt 0"), 1u);
    EXPECT_EQ(Count("file complete " + two + " gone.txt 404"), 1u);
    EXPECT_EQ(Count("file started " + two + " picture.jpg"), 0u);
    EXPECT_EQ(Inbox(2, "promo.txt").size(), 300u);
    EXPECT_EQ(Count("file complete " + PhoneText(4) + " picture.jpg 47"), 1u);
    EXPECT_EQ(Count("file started " + PhoneText(5)), 0u);
    EXPECT_EQ(Count("file complete " + PhoneText(6) + " picture.jpg 117"), 1u);
    EXPECT_EQ(Inbox(7, "picture.jpg").size(), 20000u);
    EXPECT_EQ(log_.back(), "start sleep");
}

TEST_F(ProximitySender, FullPushIsReportedAsItsDisconnectGoesOutAndItsLinkStaysCounted) {
    // Phone 1 never answers DISCONNECT; phone 2 answers everything late. One link at a time.
    World(baMicrosoft, 2, [](air::Phone& p) {
        p.obex.mode = p.address[5] == 1 ? air::ObexMode::SilentAfter : air::ObexMode::Accept;
        p.obex.after = 4; // CONNECT and the small file's three PUT packets
        p.obex.delayMs = p.address[5] == 1 ? 0 : 100;
    });
    sender_->SetMaxConnections(1);
    auto link = [&](int i) {
        for (int d = 0; d < sender_->DeviceCount(); ++d)
            if (Text(sender_->Devices(d)->Device()->Address()) == PhoneText(i))
                return int(sender_->Devices(d)->Client()->State());
        return int(csClosed);
    };
    // Each phone's link as its result comes, phone 1's link as phone 2 starts, and how long that took.
    std::vector<int> links;
    std::chrono::steady_clock::time_point firstResult, secondStart;
    auto logResult = sender_->OnSendComplete;
    sender_->OnSendComplete = [&, logResult](vcl::TObject* o, TvyrBluetoothDevice* d, int e) {
        logResult(o, d, e);
        links.push_back(link(Text(d->Address()) == PhoneText(1) ? 1 : 2));
        firstResult = std::chrono::steady_clock::now();
    };
    auto logStart = sender_->OnSendStarted;
    sender_->OnSendStarted = [&, logStart](vcl::TObject* o, TvyrBluetoothDevice* d) {
        logStart(o, d);
        links.push_back(link(1));
        secondStart = std::chrono::steady_clock::now();
    };
    ASSERT_EQ(sender_->Start(), 0);

    // Phone 1's success comes with its final reply, while its DISCONNECT is unanswered; the link still counts.
    ASSERT_TRUE(PumpUntil([&] { return results_.count(PhoneText(1)) > 0; }, 10000));
    const auto reported = firstResult;
    EXPECT_EQ(*(std::find(log_.begin(), log_.end(), "send complete " + PhoneText(1) + " 0") - 1),
              "file complete " + PhoneText(1) + " promo.txt 0");
    // Only the time-out (255 s, 1.3 real seconds) frees that link for phone 2, whose result also comes
    // before its DISCONNECT reply.
    ASSERT_TRUE(PumpUntil([&] { return results_.count(PhoneText(2)) > 0; }, 10000));
    EXPECT_GT(secondStart - reported, std::chrono::seconds(1));
    // Stopped before that reply: the link is closed and the phone unpaired, nothing is reported again.
    sender_->Stop();
    EXPECT_EQ(link(2), csClosed);
    EXPECT_FALSE(Paired(1));
    EXPECT_FALSE(Paired(2));
    EXPECT_EQ(log_.back(), "stopped");
    EXPECT_EQ(Count("start sleep"), 0u);
    EXPECT_EQ(results_, (std::map<std::string, std::vector<int>>{{PhoneText(1), {0}}, {PhoneText(2), {0}}}));
    // Started: phone 1 connecting; its result: connected; phone 2 started: phone 1 closed; phone 2's result.
    EXPECT_EQ(links, (std::vector<int>{csConnecting, csConnected, csClosed, csConnected}));
}

TEST_F(ProximitySender, StopFromEveryStateAndFromInsideEvents) {
    World(baMicrosoft, 2, [](air::Phone& p) { p.obex.delayMs = 200; });
    files_ = [&](const std::string&) { return TvyrFileList{large_}; };

    // During the discovery: it ends unheard.
    air::Air::Instance().SetTimeScale(1);
    ASSERT_EQ(sender_->Start(), 0);
    ASSERT_TRUE(PumpUntil([&] { return Count("discovery started") > 0; }, 3000));
    sender_->Stop();
    win::test::PumpUntilIdle(20, 500);
    EXPECT_EQ(log_, (std::vector<std::string>{"started", "discovery started", "stopped"}));
    air::Air::Instance().SetTimeScale(0.001);

    // During the delay.
    log_.clear();
    sender_->SetSendDelay(200);
    ASSERT_EQ(sender_->Start(), 0);
    ASSERT_TRUE(PumpUntil([&] { return Count("start delay") > 0; }, 3000));
    sender_->Stop();
    EXPECT_EQ(std::vector<std::string>(log_.end() - 3, log_.end()),
              (std::vector<std::string>{"start delay", "stop delay", "stopped"}));
    sender_->SetSendDelay(1);

    // While sending: no completion reaches the owner, the devices are unpaired all the same.
    log_.clear();
    ASSERT_EQ(sender_->Start(), 0);
    ASSERT_TRUE(PumpUntil([&] { return Count("file started") == 2; }, 3000)) << ::testing::PrintToString(log_);
    sender_->Stop();
    EXPECT_EQ(log_.back(), "stopped");
    EXPECT_EQ(Count("send complete"), 0u);
    EXPECT_FALSE(Paired(1));
    EXPECT_FALSE(Paired(2));
    EXPECT_FALSE(sender_->Devices(0)->Busy());

    // From inside the owner's events: the step ends there, nothing more runs.
    for (const std::string where : {"accept", "files", "send started", "send complete"}) {
        SCOPED_TRACE(where);
        log_.clear();
        auto stopIn = [&, where](const std::string& entry) {
            if (entry.rfind(where, 0) == 0)
                sender_->Stop();
        };
        sender_->OnAcceptDevice = [&](vcl::TObject*, TvyrBluetoothDevice* d, bool& accept) {
            log_.push_back("accept " + Text(d->Address()));
            accept = true;
            stopIn("accept");
        };
        sender_->OnGetFiles = [&](vcl::TObject*, TvyrBluetoothDevice*, TvyrFileList& f) {
            log_.push_back("files");
            f = {small_};
            stopIn("files");
        };
        sender_->OnSendStarted = [&](vcl::TObject*, TvyrBluetoothDevice*) {
            log_.push_back("send started");
            stopIn("send started");
        };
        sender_->OnSendComplete = [&](vcl::TObject*, TvyrBluetoothDevice*, int) {
            log_.push_back("send complete");
            stopIn("send complete");
        };
        ASSERT_EQ(sender_->Start(), 0);
        ASSERT_TRUE(PumpUntil([&] { return Count("stopped") > 0; }, 5000));
        win::test::PumpUntilIdle(20, 500);
        EXPECT_EQ(log_.back(), "stopped");
        EXPECT_EQ(Count(where), 1u);
        // Nothing runs after the stop, and a stop before the devices were built leaves none.
        EXPECT_EQ(Count("start sleep"), 0u);
        if (where == "accept" || where == "files") {
            EXPECT_EQ(Count("discovery complete") + Count("send started"), 0u);
        }
        EXPECT_TRUE(TvyrProximitySender::StacksInUse().Empty());
    }
}

TEST_F(ProximitySender, StartChecksPropertiesAndTheApiUnloading) {
    World(baMicrosoft, 1);
    // Setters refuse 0 and keep the value.
    EXPECT_THROW(sender_->SetMaxConnections(0), vyrEInvalidArgument);
    EXPECT_THROW(sender_->SetSendDelay(0), vyrEInvalidArgument);
    EXPECT_THROW(sender_->SetSleepInterval(0), vyrEInvalidArgument);
    EXPECT_THROW(sender_->SetTimeout(0), vyrEInvalidArgument);
    EXPECT_EQ(sender_->MaxConnections(), 7);
    sender_->SetDiscoverTimeout(0);
    EXPECT_EQ(sender_->DiscoverTimeout(), 0);
    sender_->SetDiscoverTimeout(1);

    TvyrProximitySender other;
    EXPECT_EQ(other.Start(), VYR_PROXIMITY_NO_SEND_RADIO);
    TvyrBluetoothRadio ms(baMicrosoft), ts(baToshiba);
    other.SetSendRadio(&ms);
    EXPECT_EQ(other.Start(), VYR_PROXIMITY_NO_DISCOVERY_RADIO);
    other.SetDiscoveryRadio(&ts);
    EXPECT_EQ(other.Start(), VYR_BLUETOOTH_API_NOT_AVAILABLE); // no Toshiba radio here
    other.SetDiscoveryRadio(&ms);

    // One running sender per stack.
    ASSERT_EQ(sender_->Start(), 0);
    EXPECT_EQ(sender_->Start(), VYR_PROXIMITY_STARTED);
    EXPECT_EQ(other.Start(), VYR_PROXIMITY_RUNNING);
    EXPECT_THROW(sender_->SetSendRadio(nullptr), vyrEProximitySenderActive);
    // Replacing one of two radios on one stack keeps the stack taken.
    sender_->SetSendRadio(&ms);
    EXPECT_EQ(other.Start(), VYR_PROXIMITY_RUNNING);
    // So does replacing either of them by a radio of another stack; putting it back frees that stack.
    TvyrBluetoothRadio wc(baWidComm);
    for (auto set : {&TvyrProximitySender::SetSendRadio, &TvyrProximitySender::SetDiscoveryRadio}) {
        (sender_.get()->*set)(&wc);
        EXPECT_TRUE(TvyrProximitySender::StacksInUse().Contains(baMicrosoft));
        EXPECT_TRUE(TvyrProximitySender::StacksInUse().Contains(baWidComm));
        EXPECT_EQ(other.Start(), VYR_PROXIMITY_RUNNING);
        (sender_.get()->*set)(&ms);
        EXPECT_FALSE(TvyrProximitySender::StacksInUse().Contains(baWidComm));
    }

    // The library unloads: the sender stops by itself and frees the stack.
    roads_->Api().Unload();
    EXPECT_FALSE(sender_->Active());
    EXPECT_EQ(log_.back(), "stopped");
    EXPECT_EQ(other.Start(), VYR_TRANSPORT_NOT_AVAILABLE);
    ASSERT_EQ(roads_->Api().Load(), 0);
    EXPECT_EQ(other.Start(), 0);
    other.Stop();
}

// Real milliseconds the calling thread has spent runnable but waiting for a processor.
static double RunQueueWaitMs() {
    std::ifstream in("/proc/thread-self/schedstat");
    unsigned long long running = 0, waiting = 0;
    in >> running >> waiting;
    return static_cast<double>(waiting) / 1e6;
}

// A 50 ms timer of the owner's thread keeps firing on time while a Toshiba radio connects to 20 phones
// one after the other: the two half-second waits the stack needs after each connect never hold up the
// thread. The clock runs only twice as fast here, and the time the thread only waited for a processor is
// not counted as late, so a busy machine stays far below the bound while a half-second block is well above.
TEST_F(ProximitySender, OwnerTimersFireOnTimeWhileToshibaConnects) {
    win::test::SetTimeScale(2);
    World(baToshiba, 20);
    struct Tick {
        win::DWORD clockMs;
        double waitedMs;
    };
    struct Ticks : TvyrHiddenWindowOwner {
        std::vector<Tick> at;
        void HiddenWindowMessage(win::UINT msg, win::WPARAM, win::LPARAM) override {
            if (msg == win::WM_TIMER)
                at.push_back({win::GetTickCount(), RunQueueWaitMs()});
        }
    } ticks;
    win::HWND window = CreateHiddenWindow();
    ASSERT_TRUE(window);
    AttachHiddenWindow(window, &ticks);
    ASSERT_TRUE(win::SetTimer(window, 1, 50, nullptr));
    const Tick start{win::GetTickCount(), RunQueueWaitMs()};
    ASSERT_EQ(sender_->Start(), 0);
    const bool slept = PumpUntil([&] { return sleeps_ > 0; }, 60000);
    ticks.at.insert(ticks.at.begin(), start);
    DestroyHiddenWindow(window);
    ASSERT_TRUE(slept);
    EXPECT_EQ(results_.size(), 20u);
    for (const auto& [phone, codes] : results_)
        EXPECT_EQ(codes, std::vector<int>{0}) << phone;
    double late = 0;
    for (size_t i = 1; i < ticks.at.size(); ++i) {
        const double waited = (ticks.at[i].waitedMs - ticks.at[i - 1].waitedMs) * win::test::TimeScale();
        late = std::max(late, static_cast<double>(ticks.at[i].clockMs - ticks.at[i - 1].clockMs) - 50 - waited);
    }
    std::printf("owner timer: %zu ticks, at most %.0f ms late\n", ticks.at.size() - 1, late);
    EXPECT_LE(late, 250);
}

TEST(ProximityDevice, PushNameIsTheFilesOwnName) {
    EXPECT_EQ(TvyrProximityDevice::PushName(u"c:\\promo\\spring\\offer.jpg"), u"offer.jpg");
    EXPECT_EQ(TvyrProximityDevice::PushName(u"/var/lib/tavlin/0/offer.jpg"), u"offer.jpg");
    EXPECT_EQ(TvyrProximityDevice::PushName(u"c:offer.jpg"), u"offer.jpg");
    EXPECT_EQ(TvyrProximityDevice::PushName(u"offer.jpg"), u"offer.jpg");
}
