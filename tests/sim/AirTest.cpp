// The air's description, control API and observers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/air/Air.h"

using namespace air;

namespace {

struct Recorder {
    std::vector<Notice> seen;
    int token;
    Recorder() {
        token = Air::Instance().Subscribe([this](const Notice& n) { seen.push_back(n); });
    }
    ~Recorder() { Air::Instance().Unsubscribe(token); }
    int Count(AirEvent e, int stack = -1) const {
        int c = 0;
        for (const auto& n : seen)
            c += n.event == e && (stack < 0 || n.stack == stack);
        return c;
    }
};

const char* kTestAir = R"J({
  "time_scale": 0.01,
  "radios": [ { "stack": "toshiba", "address": "00:11:22:33:44:55", "name": "T" },
              { "stack": 0, "present": false, "address": "(AA:BB:CC:DD:EE:FF)" } ],
  "irda": true,
  "phones": [
    { "address": "(00:1E:3A:47:9C:01)", "name": "One", "class": "0x5A020C",
      "pairing": { "pin": "1234", "outcome": "accept" },
      "services": [ { "uuid": "1105", "channel": 7, "name": "OPP", "handle": 7 },
                    { "uuid": "00001101-0000-1000-8000-00805F9B34FB", "channel": 2, "name": "SP" } ],
      "obex": { "mode": "bad_request" } },
    { "address": "001E3A479C02", "name": "Far", "in_range": false, "pairing": { "outcome": "refuse" },
      "obex": { "close_after_final": true } },
    { "address": "00-1E-3A-47-9C-03", "name": "Only BlueSoleil", "radios": ["bluesoleil"], "name_failures": 3,
      "obex": { "mode": "drop" }, "inbox": "/tmp/x-inbox" }
  ]
})J";

} // namespace

TEST(Air, AddressTextRoundTripsAndRejectsJunk) {
    auto a = AddressFromText("(00:1a:7D:DA:71:13)");
    ASSERT_TRUE(a);
    EXPECT_EQ(AddressToText(*a), "(00:1A:7D:DA:71:13)");
    EXPECT_EQ(AddressFromText("001A7DDA7113"), a);
    EXPECT_EQ(AddressFromText("00-1A-7D-DA-71-13"), a);
    for (const char* bad : {"", "(00:1A:7D:DA:71)", "00:1A:7D:DA:71:1G", "00:1A-7D:DA:71:13", "(00:1A:7D:DA:71:13",
                            "0:01A:7D:DA:71:13", "(::::::::::::::::)"})
        EXPECT_FALSE(AddressFromText(bad)) << bad;
    std::string longName(300, 'x');
    longName[246] = '\xC3'; // a two-byte character straddling the limit is dropped whole
    longName[247] = '\xA9';
    longName[248] = '\xC3';
    longName[249] = '\xA9';
    EXPECT_EQ(ClampName(longName).size(), 248u);
    EXPECT_EQ(ClampName(std::string(248, 'y')).size(), 248u);
}

TEST(Air, LoadsTheDemoAndATestDescription) {
    Air& a = Air::Instance();
    std::string err;
    ASSERT_TRUE(a.LoadFile(std::string(TAVLIN_SOURCE_DIR) + "/sim/air/demo.json", &err)) << err;
    EXPECT_TRUE(a.RadioPresent(1));
    EXPECT_TRUE(a.RadioPresent(3));
    EXPECT_FALSE(a.RadioPresent(0));
    EXPECT_EQ(AddressToText(a.GetRadio(1).address), "(00:1A:7D:DA:71:13)");
    EXPECT_GE(a.Phones().size(), 4u);
    bool refuser = false, slow = false;
    for (const auto& p : a.Phones()) {
        ASSERT_NE(p.FindService(kObexObjectPushUuid16), nullptr) << p.name;
        refuser = refuser || (p.obex.mode == ObexMode::Refuse && p.obex.refuseCode == 0xC3);
        slow = slow || p.obex.delayMs > 0;
    }
    EXPECT_TRUE(refuser);
    EXPECT_TRUE(slow);

    ASSERT_TRUE(a.LoadJson(kTestAir, &err)) << err;
    EXPECT_DOUBLE_EQ(a.TimeScale(), 0.01);
    EXPECT_TRUE(a.RadioPresent(2));
    EXPECT_FALSE(a.RadioPresent(0));
    EXPECT_FALSE(a.RadioPresent(1));
    EXPECT_EQ(AddressToText(a.GetRadio(0).address), "(AA:BB:CC:DD:EE:FF)");
    EXPECT_TRUE(a.IrdaPresent());
    EXPECT_FALSE(a.WifiPresent());
    auto one = a.FindPhone("(00:1E:3A:47:9C:01)");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->classOfDevice, 0x5A020Cu);
    ASSERT_EQ(one->services.size(), 2u);
    EXPECT_EQ(one->services[0].channel, 7);
    EXPECT_EQ(one->services[0].handle, 7u);
    EXPECT_EQ(one->services[1].Uuid16(), 0x1101);
    EXPECT_EQ(one->obex.mode, ObexMode::Refuse);
    EXPECT_EQ(one->obex.refuseCode, 0xC0);
    EXPECT_EQ(one->inbox.front(), '/');
    auto three = a.FindPhone("(00:1E:3A:47:9C:03)");
    ASSERT_TRUE(three);
    EXPECT_EQ(three->obex.mode, ObexMode::DropMidPut);
    EXPECT_EQ(three->obex.after, 1);
    EXPECT_EQ(three->inbox, "/tmp/x-inbox");
    EXPECT_FALSE(three->obex.closeAfterFinal);
    // A phone described without services still offers Object Push.
    EXPECT_NE(a.FindPhone("(00:1E:3A:47:9C:02)")->FindService(0x1105), nullptr);
    EXPECT_TRUE(a.FindPhone("(00:1E:3A:47:9C:02)")->obex.closeAfterFinal);
}

TEST(Air, BadDescriptionsAreReportedAndChangeNothing) {
    Air& a = Air::Instance();
    ASSERT_TRUE(a.LoadJson(kTestAir));
    const std::pair<const char*, const char*> cases[] = {
        {"{", "not valid JSON"},
        {R"({"phones":[{"address":"nope"}]})", "air.phones[0].address"},
        {R"({"phones":[{"name":"x"}]})", "missing \"address\""},
        {R"({"phones":[{"address":"001E3A479C01","nmae":"x"}]})", "unknown key \"nmae\""},
        {R"({"phones":[{"address":"001E3A479C01"},{"address":"001E3A479C01"}]})", "twice"},
        {R"({"radios":[{"stack":"zune"}]})", "unknown stack"},
        {R"({"radios":[{"stack":1},{"stack":"microsoft"}]})", "second radio"},
        {R"({"time_scale":0})", "time_scale"},
        {R"({"phones":[{"address":"001E3A479C01","class":-1}]})", "negative"},
        {R"({"phones":[{"address":"001E3A479C01","obex":{"mode":"sulk"}}]})", "expected one of"},
        {R"({"phones":[{"address":"001E3A479C01","obex":{"max_packet":100}}]})", "minimum"},
        {R"({"phones":[{"address":"001E3A479C01","services":[{"channel":31}]}]})", "out of range"},
        {R"({"phones":[{"address":"001E3A479C01","inbox":"a/../../b"}]})", "stay under"},
    };
    for (const auto& [text, expect] : cases) {
        std::string err;
        EXPECT_FALSE(a.LoadJson(text, &err)) << text;
        EXPECT_NE(err.find(expect), std::string::npos) << text << " -> " << err;
    }
    EXPECT_TRUE(a.RadioPresent(2));
    EXPECT_EQ(a.Phones().size(), 3u);
}

TEST(Air, PlugAndUnplugNotifySubscribers) {
    Air& a = Air::Instance();
    a.Clear();
    {
        Recorder r;
        a.SetRadioPresent(1, true);
        a.SetRadioPresent(1, true); // no change, no notice
        a.SetRadioPresent(3, true);
        a.SetRadioPresent(1, false);
        a.SetIrdaPresent(true);
        a.SetWifiPresent(true);
        a.SetDeviceLinkConnected(true);
        a.SetDeviceLinkConnected(false);
        EXPECT_EQ(r.Count(AirEvent::RadioArrived, 1), 1);
        EXPECT_EQ(r.Count(AirEvent::RadioArrived, 3), 1);
        EXPECT_EQ(r.Count(AirEvent::RadioRemoved, 1), 1);
        EXPECT_EQ(r.Count(AirEvent::IrdaArrived), 1);
        EXPECT_EQ(r.Count(AirEvent::WifiArrived), 1);
        EXPECT_EQ(r.Count(AirEvent::DeviceLinkConnected), 1);
        EXPECT_EQ(r.Count(AirEvent::DeviceLinkDisconnected), 1);

        // A reload raises the notices of what it changed.
        r.seen.clear();
        ASSERT_TRUE(a.LoadJson(kTestAir));
        EXPECT_EQ(r.Count(AirEvent::RadioRemoved, 3), 1);
        EXPECT_EQ(r.Count(AirEvent::RadioArrived, 2), 1);
        EXPECT_EQ(r.Count(AirEvent::WifiRemoved), 1);
        EXPECT_EQ(r.Count(AirEvent::IrdaArrived), 0);
        EXPECT_EQ(r.Count(AirEvent::PhonesChanged), 1);
    }
    // A listener that throws or unsubscribes itself does not stop the others.
    int self = 0, calls = 0;
    self = a.Subscribe([&](const Notice&) {
        a.Unsubscribe(self);
        throw std::runtime_error("listener fault");
    });
    int other = a.Subscribe([&](const Notice&) { ++calls; });
    a.SetRadioPresent(0, true);
    a.SetRadioPresent(0, false);
    EXPECT_EQ(calls, 2);
    a.Unsubscribe(other);
    a.SetRadioPresent(0, true);
    EXPECT_EQ(calls, 2);
}

TEST(Air, UnsubscribeWaitsForADeliveryOnAnotherThread) {
    Air& a = Air::Instance();
    a.Clear();
    std::atomic<bool> inside{false}, release{false}, finished{false};
    int token = a.Subscribe([&](const Notice&) {
        inside = true;
        while (!release)
            std::this_thread::yield();
        finished = true;
    });
    std::thread t([&] { a.SetRadioPresent(2, true); });
    while (!inside)
        std::this_thread::yield();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release = true;
    });
    a.Unsubscribe(token);
    EXPECT_TRUE(finished); // the callback had ended before Unsubscribe returned
    t.join();
    releaser.join();

    // Leaving does not wait for other listeners' deliveries: a listener that waits for this
    // thread (as a device broadcast does) must not dead-lock against it.
    std::atomic<bool> otherLeft{false}, sawIt{false};
    int waiter = a.Subscribe([&](const Notice&) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!otherLeft && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
        sawIt = otherLeft.load();
    });
    int other = a.Subscribe([](const Notice&) {});
    std::thread changer([&] { a.SetRadioPresent(2, false); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    a.Unsubscribe(other);
    otherLeft = true;
    changer.join();
    EXPECT_TRUE(sawIt);
    a.Unsubscribe(waiter);
}

TEST(Air, NameReadsFailNTimesThenSucceed) {
    Air& a = Air::Instance();
    ASSERT_TRUE(a.LoadJson(kTestAir));
    auto addr = *AddressFromText("(00:1E:3A:47:9C:03)");
    std::string name = "unchanged";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a.ReadName(addr, name), NameResult::Failed);
        EXPECT_EQ(name, "unchanged");
    }
    EXPECT_EQ(a.ReadName(addr, name), NameResult::Ok);
    EXPECT_EQ(name, "Only BlueSoleil");
    EXPECT_EQ(a.ReadName(addr, name), NameResult::Ok);
    EXPECT_EQ(a.ReadName(*AddressFromText("(00:1E:3A:47:9C:02)"), name), NameResult::NotFound); // out of range
    EXPECT_EQ(a.ReadName(*AddressFromText("(00:00:00:00:00:01)"), name), NameResult::NotFound);
    // An empty and a 248-byte name come through as they are.
    a.UpdatePhone(addr, [](Phone& p) { p.name = std::string(300, 'N'); });
    ASSERT_EQ(a.ReadName(addr, name), NameResult::Ok);
    EXPECT_EQ(name.size(), 248u);
    a.UpdatePhone(addr, [](Phone& p) { p.name.clear(); });
    ASSERT_EQ(a.ReadName(addr, name), NameResult::Ok);
    EXPECT_EQ(name, "");
}

TEST(Air, InquiryReachAndTimeScale) {
    Air& a = Air::Instance();
    ASSERT_TRUE(a.LoadJson(kTestAir));
    a.SetRadioPresent(0, true);
    auto r = a.Inquire(0, 10240);
    EXPECT_TRUE(r.radioPresent);
    EXPECT_EQ(r.durationMs, 102);
    ASSERT_EQ(r.found.size(), 2u); // "Far" is out of range
    EXPECT_EQ(r.found[0].name, "One");
    EXPECT_EQ(r.found[1].name, "Only BlueSoleil");
    r = a.Inquire(2, 10240); // the Toshiba radio does not reach the BlueSoleil-only phone
    ASSERT_EQ(r.found.size(), 1u);
    EXPECT_FALSE(a.Inquire(1, 10240).radioPresent);
    EXPECT_TRUE(a.Inquire(1, 10240).found.empty());
    a.SetPhoneInRange(*AddressFromText("001E3A479C02"), true);
    EXPECT_EQ(a.Inquire(2, 1000).found.size(), 2u);
    a.SetTimeScale(1.0);
    EXPECT_EQ(a.Inquire(2, 1500).durationMs, 1500);
    a.SetTimeScale(0.0001);
    EXPECT_EQ(a.Inquire(2, 1500).durationMs, 1); // scaled down, never to nothing
    EXPECT_EQ(a.ScaledMs(0), 0);
}

TEST(Air, Pairing) {
    Air& a = Air::Instance();
    ASSERT_TRUE(a.LoadJson(kTestAir));
    auto one = *AddressFromText("(00:1E:3A:47:9C:01)");
    EXPECT_EQ(a.Pair(2, one, "0000"), PairResult::WrongPin);
    EXPECT_FALSE(a.IsPaired(one));
    EXPECT_EQ(a.Pair(1, one, "1234"), PairResult::NotFound); // no Microsoft radio
    EXPECT_EQ(a.Pair(2, one, "1234"), PairResult::Paired);
    EXPECT_TRUE(a.IsPaired(one));
    EXPECT_TRUE(a.Unpair(one));
    EXPECT_FALSE(a.Unpair(one));
    auto far = *AddressFromText("(00:1E:3A:47:9C:02)");
    a.SetPhoneInRange(far, true);
    EXPECT_EQ(a.Pair(2, far, ""), PairResult::Refused);
    a.UpdatePhone(far, [](Phone& p) { p.pairing.outcome = PairOutcome::Timeout; });
    EXPECT_EQ(a.Pair(2, far, ""), PairResult::Timeout);
}

TEST(Air, ReloadsTheFileWhenItChanges) {
    Air& a = Air::Instance();
    auto dir = std::filesystem::temp_directory_path() / ("tavlin-air-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto file = (dir / "air.json").string();
    { std::ofstream(file) << R"({"radios":[{"stack":"microsoft"}]})"; }
    ASSERT_TRUE(a.LoadFile(file));
    EXPECT_FALSE(a.PollFileChange());
    Recorder r;
    { std::ofstream(file) << R"({"radios":[{"stack":"widcomm"}], "wifi": true})"; }
    EXPECT_TRUE(a.PollFileChange());
    EXPECT_FALSE(a.RadioPresent(1));
    EXPECT_TRUE(a.RadioPresent(3));
    EXPECT_EQ(r.Count(AirEvent::RadioRemoved, 1), 1);
    EXPECT_EQ(r.Count(AirEvent::RadioArrived, 3), 1);
    // A broken edit is reported once and the air stays as it was.
    { std::ofstream(file) << R"({"radios":[{"stack":"widcomm"})"; }
    std::string err;
    EXPECT_FALSE(a.PollFileChange(&err));
    EXPECT_FALSE(err.empty());
    err.clear();
    EXPECT_FALSE(a.PollFileChange(&err));
    EXPECT_TRUE(err.empty());
    EXPECT_TRUE(a.RadioPresent(3));
    std::filesystem::remove_all(dir);
}
