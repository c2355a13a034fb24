// Radios, devices and services through the four stand-in stacks and the simulated air.
#include "StackFixture.h"

#include "sim/air/SdpRecord.h"
#include "win32/Windows.h"
#include "vcl/SysUtils.h"
#include "vyrAPI.h"
#include "vyrBlueSoleil.h"
#include "vyrBluetoothDiscovery.h"

#include <gtest/gtest.h>

#include <ctime>
#include <set>

using namespace vyr;

namespace {

constexpr const char16_t* kPhoneText = u"(00:1E:3A:47:9C:01)";
const air::Address kPhone = {0x00, 0x1E, 0x3A, 0x47, 0x9C, 0x01};
const TvyrBluetoothApi kAllApis[] = {baBlueSoleil, baMicrosoft, baToshiba, baWidComm};

class Radios : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        for (int k = 0; k < 4; ++k) {
            air::Radio r;
            r.present = true;
            r.address = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
            r.name = "STATION";
            air::Air::Instance().SetRadio(k, r);
        }
        air::Phone p;
        p.address = kPhone;
        p.name = "Marta's phone";
        p.classOfDevice = 0x5A020C;
        air::Service opp;
        opp.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
        opp.channel = 9;
        opp.name = "OBEX Object Push";
        opp.handle = 0x10003;
        air::Service spp;
        spp.uuid = air::Service::FromUuid16(0x1101);
        spp.channel = 3;
        spp.name = "Serial";
        spp.handle = 0x10004;
        p.services = {opp, spp};
        air::Air::Instance().AddPhone(p);
    }
    void TearDown() override {
        api.Unload();
        StackFixture::TearDown();
    }
    void Load(const std::u16string& blueSoleilVersion = u"6.4.236.0") {
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, blueSoleilVersion);
        ASSERT_EQ(api.Load(), 0);
        for (auto k : kAllApis)
            ASSERT_EQ(IsApiAvailable(k), air::Air::Instance().RadioPresent(k)) << int(k);
        device.SetAddress(kPhoneText);
    }
    static void EditPhone(const std::function<void(air::Phone&)>& edit) {
        ASSERT_TRUE(air::Air::Instance().UpdatePhone(kPhone, edit));
    }

    TvyrAPI api;
    TvyrBluetoothDevice device;
};

TEST_F(Radios, OnePhoneReadsTheSameThroughEveryStack) {
    for (const char16_t* version : {u"6.4.236.0", u"6.0.0.0"}) { // BlueSoleil newer and older interface
        SCOPED_TRACE(vcl::Utf16ToUtf8(version));
        Load(version);
        for (auto k : kAllApis) {
            SCOPED_TRACE(int(k));
            TvyrBluetoothRadio radio(k);
            std::u16string address, name;
            int cod = 0;
            EXPECT_EQ(radio.GetAddress(address), 0);
            EXPECT_EQ(address, u"(00:1A:7D:DA:71:13)");
            EXPECT_EQ(device.GetName(&radio, name), 0);
            EXPECT_EQ(name, u"Marta's phone");
            EXPECT_EQ(device.GetClassOfDevice(&radio, cod), 0);
            EXPECT_EQ(cod, 0x5A020C);
        }
        api.Unload();
    }
}

TEST_F(Radios, FailuresLeaveOutParametersAndNamesStayInTheirBuffers) {
    Load(u"6.0.0.0");
    // Stacks that ask the phone (the others answer from their own cache).
    EditPhone([](air::Phone& p) { p.nameFailures = 100; });
    for (auto k : {baBlueSoleil, baToshiba, baWidComm}) {
        TvyrBluetoothRadio radio(k);
        std::u16string name = u"kept";
        EXPECT_EQ(device.GetName(&radio, name), 2) << int(k);
        EXPECT_EQ(name, u"kept");
    }
    // A 248-byte name fills the stacks' buffers with no terminator; each reads it within its buffer.
    EditPhone([](air::Phone& p) { p.nameFailures = 0, p.name = std::string(248, 'n'); });
    const std::map<TvyrBluetoothApi, size_t> expected = {
        {baBlueSoleil, 64}, {baMicrosoft, 247}, {baToshiba, 248}, {baWidComm, 248}};
    for (auto [k, length] : expected) {
        TvyrBluetoothRadio radio(k);
        std::u16string name;
        EXPECT_EQ(device.GetName(&radio, name), 0);
        EXPECT_EQ(name, std::u16string(length, u'n')) << int(k);
    }
    air::Air::Instance().SetPhoneInRange(kPhone, false);
    for (auto k : kAllApis) {
        TvyrBluetoothRadio radio(k);
        int cod = 7;
        EXPECT_EQ(device.GetClassOfDevice(&radio, cod), 2);
        EXPECT_EQ(cod, 7);
    }
}

TEST_F(Radios, ANameCutInsideACharacterEndsOnTheLastWholeOne) {
    std::u16string full = u"\u03B1"; // then 82 three-byte characters: 248 bytes
    full.append(82, u'\u540D');
    // BlueSoleil's 64 bytes end inside the 22nd character; the other stacks' buffers hold all 83.
    const std::map<TvyrBluetoothApi, size_t> kept = {
        {baBlueSoleil, 21}, {baMicrosoft, 83}, {baToshiba, 83}, {baWidComm, 83}};
    for (const char16_t* version : {u"6.4.236.0", u"6.0.0.0"}) {
        SCOPED_TRACE(vcl::Utf16ToUtf8(version));
        Load(version);
        for (auto [k, length] : kept) {
            TvyrBluetoothRadio radio(k);
            std::u16string name;
            EditPhone([&](air::Phone& p) { p.name = vcl::Utf16ToUtf8(full); });
            EXPECT_EQ(device.GetName(&radio, name), 0);
            EXPECT_EQ(name, full.substr(0, length)) << int(k);
            // A broken character no buffer cut is the phone's own, and still shows.
            EditPhone([](air::Phone& p) { p.name = "a\xE5\x90"; });
            EXPECT_EQ(device.GetName(&radio, name), 0);
            EXPECT_EQ(name, u"a\uFFFD") << int(k);
        }
        api.Unload();
    }
}

TEST_F(Radios, ChecksComeInOrderBeforeAnyStackCall) {
    TvyrBluetoothServices services;
    std::u16string text;
    int cod = 0;
    device.SetAddress(kPhoneText);
    // A nil radio raises even while nothing is loaded; nil services raise before the radio.
    EXPECT_THROW(device.GetName(nullptr, text), vyrEInvalidArgument);
    EXPECT_THROW(device.GetClassOfDevice(nullptr, cod), vyrEInvalidArgument);
    EXPECT_THROW(device.Pair(nullptr, u""), vyrEInvalidArgument);
    EXPECT_THROW(device.Unpair(nullptr), vyrEInvalidArgument);
    EXPECT_THROW(device.EnumServices(nullptr, nullptr, nullptr), vyrEInvalidArgument);
    try {
        TvyrBluetoothRadio radio;
        device.EnumServices(&radio, nullptr, nullptr);
        FAIL();
    } catch (const vyrEInvalidArgument& e) {
        EXPECT_EQ(e.Message(), u"Services parameter is not valid.");
    }
    for (auto k : kAllApis) {
        TvyrBluetoothRadio radio(k);
        EXPECT_EQ(radio.GetAddress(text), 13);
        EXPECT_EQ(radio.SetName(u"x"), 13);
        EXPECT_EQ(device.GetName(&radio, text), 13);
        EXPECT_EQ(device.Pair(&radio, u""), 13); // the PIN is checked only once the stack may be asked
        EXPECT_EQ(device.Unpair(&radio), 13);
        EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 13);
    }
    // Only WidComm present: the other stacks give 14, still without touching a stack.
    for (int k : {0, 1, 2})
        air::Air::Instance().SetRadioPresent(k, false);
    Load();
    win::test::ClearJournal();
    for (auto k : {baBlueSoleil, baMicrosoft, baToshiba}) {
        TvyrBluetoothRadio radio(k);
        EXPECT_EQ(radio.GetAddress(text), 14);
        EXPECT_EQ(device.GetClassOfDevice(&radio, cod), 14);
        EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 14);
    }
    EXPECT_TRUE(win::test::Journal().empty());
    TvyrBluetoothRadio widcomm(baWidComm);
    try {
        device.Pair(&widcomm, u"");
        FAIL();
    } catch (const vyrEInvalidArgument& e) {
        EXPECT_EQ(e.Message(), u"\"\" is not valid PIN.");
    }
}

TEST_F(Radios, ModelObjectsAndLists) {
    TvyrBluetoothDevice d;
    EXPECT_EQ(d.Address(), u"(00:00:00:00:00:00)");
    d.SetAddress(u"(00:1e:3a:47:9c:01)");
    EXPECT_EQ(d.Address(), u"(00:1e:3a:47:9c:01)");
    try {
        d.SetAddress(u"00:1E:3A:47:9C:01");
        FAIL();
    } catch (const vyrEInvalidAddress& e) {
        EXPECT_EQ(e.Message(), u"00:1E:3A:47:9C:01 is not valid Bluetooth address.");
    }
    TvyrBluetoothRadios radios;
    for (auto k : {baMicrosoft, baToshiba, baWidComm})
        radios.Add(new TvyrBluetoothRadio(k));
    try {
        radios.Items(3);
        FAIL();
    } catch (const vyrEIndexOutOfBounds& e) {
        EXPECT_EQ(e.Message(), u"Index out of bounds (3).");
    }
    EXPECT_THROW(radios.Add(static_cast<TvyrBluetoothRadio*>(nullptr)), vyrEInvalidArgument);
    TvyrBluetoothRadio copy;
    copy.Assign(radios.Items(1));
    EXPECT_EQ(copy.Api(), baToshiba);

    TvyrBluetoothDevices two, five;
    for (int i = 0; i < 5; ++i)
        five.Add(new TvyrBluetoothDevice);
    for (const char16_t* a : {u"(00:00:00:00:00:01)", u"(00:00:00:00:00:02)"}) {
        auto* dev = new TvyrBluetoothDevice;
        dev->SetAddress(a);
        two.Add(dev);
    }
    five.Assign(&two);
    ASSERT_EQ(five.Count(), 2);
    EXPECT_NE(five.Items(0), two.Items(0));
    EXPECT_EQ(five.Items(1)->Address(), u"(00:00:00:00:00:02)");
    five.Assign(&five);
    EXPECT_EQ(five.Count(), 2);
    EXPECT_THROW(five.Assign(nullptr), vyrEInvalidArgument);
    TvyrBluetoothService s;
    EXPECT_TRUE(s.Uuid() == BluetoothBaseUuid);
}

TEST_F(Radios, PairingResultsOfEveryStack) {
    Load(u"6.0.0.0");
    auto pairWith = [&](TvyrBluetoothApi k, air::PairOutcome outcome, const std::string& phonePin, bool paired) {
        EditPhone([&](air::Phone& p) {
            p.pairing.outcome = outcome;
            p.pairing.pin = phonePin;
            p.pairing.paired = paired;
        });
        TvyrBluetoothRadio radio(k);
        return device.Pair(&radio, u"1234");
    };
    using O = air::PairOutcome;
    for (auto k : kAllApis) {
        SCOPED_TRACE(int(k));
        EXPECT_EQ(pairWith(k, O::Accept, "1234", false), 0);
        EXPECT_TRUE(air::Air::Instance().IsPaired(kPhone));
        TvyrBluetoothRadio radio(k);
        EXPECT_EQ(device.Unpair(&radio), 0);
        EXPECT_FALSE(air::Air::Instance().IsPaired(kPhone));
        if (k != baToshiba) { // a wrong PIN ends the Toshiba link with the failure notice: 2
            EXPECT_EQ(pairWith(k, O::Accept, "0000", false), 31);
        }
    }
    // Older BlueSoleil interface: 4 already paired, 5 wrong PIN, anything else 2.
    EXPECT_EQ(pairWith(baBlueSoleil, O::Accept, "", true), 30);
    EXPECT_EQ(pairWith(baBlueSoleil, O::Refuse, "", false), 2);
    // Microsoft: 259 already paired, 5 denied, 1223 cancelled, another code 2.
    EXPECT_EQ(pairWith(baMicrosoft, O::Accept, "", true), 30);
    EXPECT_EQ(pairWith(baMicrosoft, O::Refuse, "", false), 33);
    EXPECT_EQ(pairWith(baMicrosoft, O::Timeout, "", false), 32);
    win::test::FailNext("BluetoothAuthenticateDevice");
    win::test::SetValue("BluetoothAuthenticateDevice", 87);
    EXPECT_EQ(pairWith(baMicrosoft, O::Accept, "", false), 2);
    // WidComm: the bridge's code as it is, 14 when it lacks the entry point.
    EXPECT_EQ(pairWith(baWidComm, O::Refuse, "", false), 33);
    EXPECT_EQ(pairWith(baWidComm, O::Timeout, "", false), 32);
    // Toshiba: the failure notice gives 2, and the PIN reached the stack's auto reply and was cleared.
    EXPECT_EQ(pairWith(baToshiba, O::Refuse, "", false), 2);
    EXPECT_EQ(win::test::Calls("BtSetAutoReplyPinCode").back(), "1234");
    EXPECT_EQ(win::test::Calls("BtSetIOCapabilityResponse").back(), "0 0 4");
    // A known Toshiba device loses its link key before the new pairing.
    win::test::ClearJournal();
    EXPECT_EQ(pairWith(baToshiba, O::Accept, "", true), 0);
    EXPECT_EQ(win::test::CallCount("BtDeleteLinkKey"), 1);
    EXPECT_EQ(win::test::CallCount("BtClearAutoReplyPinCode"), 1);
    EXPECT_EQ(win::test::CallCount("BtClearIOCapabilityResponse"), 1);
    EXPECT_EQ(win::test::Calls("BtConnect").back(), "3 1025");

    // Newer BlueSoleil interface: 1029 wrong PIN, 1030 cancelled, 1048 denied.
    api.Unload();
    Load(u"6.4.236.0");
    EXPECT_EQ(pairWith(baBlueSoleil, O::Accept, "1234", false), 0);
    EXPECT_EQ(pairWith(baBlueSoleil, O::Accept, "0000", false), 31);
    EXPECT_EQ(pairWith(baBlueSoleil, O::Timeout, "", false), 32);
    EXPECT_EQ(pairWith(baBlueSoleil, O::Refuse, "", false), 33);
}

TEST_F(Radios, ToshibaPairingWaitIsBounded) {
    Load();
    win::test::SetTimeScale(1000); // a minute of clock time passes in a real 60 ms
    EditPhone([](air::Phone& p) { p.pairing.outcome = air::PairOutcome::Timeout; });
    TvyrBluetoothRadio radio(baToshiba);
    const int windows = win::test::LiveWindowCount();
    EXPECT_EQ(device.Pair(&radio, u"1234"), 2);
    EXPECT_EQ(win::test::LiveWindowCount(), windows);
    EXPECT_EQ(win::test::CallCount("BtClearAutoReplyPinCode"), 1);
}

TEST_F(Radios, NameChangesAreCutAtEachStacksLimit) {
    Load(u"6.0.0.0");
    // Three-byte characters: neither limit falls between two of them, so each cut backs up to one that does.
    const std::u16string longName(100, u'\u540D'); // 300 UTF-8 bytes
    const std::string utf8 = vcl::Utf16ToUtf8(longName);
    const std::map<TvyrBluetoothApi, size_t> limits = {{baBlueSoleil, 63}, {baToshiba, 246}, {baWidComm, 246}};
    for (auto [k, limit] : limits) {
        TvyrBluetoothRadio radio(k);
        EXPECT_EQ(radio.SetName(longName), 0) << int(k);
        EXPECT_EQ(air::Air::Instance().GetRadio(k).name, utf8.substr(0, limit)) << int(k);
    }
    TvyrBluetoothRadio blueSoleil(baBlueSoleil);
    EXPECT_EQ(blueSoleil.SetName(u"Kiosk"), 0);
    EXPECT_EQ(air::Air::Instance().GetRadio(0).name, "Kiosk");
    // The Microsoft radio already called so needs nothing.
    TvyrBluetoothRadio microsoft(baMicrosoft);
    EXPECT_EQ(microsoft.SetName(u"STATION"), 0);
    win::test::FailNext("BT_SetLocalDeviceInfo");
    EXPECT_EQ(blueSoleil.SetName(u"Other"), 2);
    EXPECT_EQ(air::Air::Instance().GetRadio(0).name, "Kiosk");
}

// ---- Services ----

win::GUID Opp() {
    return BluetoothUuid(0x1105);
}

TEST_F(Radios, ObjectPushOnItsChannelThroughEveryStack) {
    Load();
    for (auto k : kAllApis) {
        SCOPED_TRACE(int(k));
        TvyrBluetoothRadio radio(k);
        TvyrBluetoothServices services;
        const win::GUID opp = Opp();
        ASSERT_EQ(device.EnumServices(&radio, &services, &opp), 0);
        ASSERT_EQ(services.Count(), 1);
        const TvyrBluetoothService* s = services.Items(0);
        EXPECT_TRUE(s->Uuid() == opp);
        EXPECT_EQ(s->Channel(), 9);
        EXPECT_EQ(s->Name(), u"OBEX Object Push");
        EXPECT_EQ(s->Handle(), 0x10003u);

        ASSERT_EQ(device.EnumServices(&radio, &services, nullptr), 0);
        ASSERT_EQ(services.Count(), 2);
        std::set<int> channels;
        for (const auto& svc : services)
            channels.insert(svc->Channel());
        EXPECT_EQ(channels, (std::set<int>{3, 9}));
    }
    // No Toshiba window or stack block outlives the search.
    EXPECT_EQ(win::test::CallCount("BtMemFree"), 2 * 3);
}

TEST_F(Radios, NoServiceAndUnknownClassResults) {
    Load();
    const win::GUID unknown = BluetoothUuid(0x1234);
    std::map<TvyrBluetoothApi, int> expected = {{baBlueSoleil, 44}, {baMicrosoft, 2}, {baToshiba, 0}, {baWidComm, 0}};
    for (auto [k, code] : expected) {
        TvyrBluetoothRadio radio(k);
        TvyrBluetoothServices services;
        services.Add(new TvyrBluetoothService);
        EXPECT_EQ(device.EnumServices(&radio, &services, &unknown), code) << int(k);
        // Success leaves only what was found; a failure keeps the list as it was.
        EXPECT_EQ(services.Count(), code ? 1 : 0) << int(k);
    }
    // A phone out of reach.
    air::Air::Instance().SetPhoneInRange(kPhone, false);
    for (auto k : kAllApis) {
        TvyrBluetoothRadio radio(k);
        TvyrBluetoothServices services;
        EXPECT_NE(device.EnumServices(&radio, &services, nullptr), 0) << int(k);
    }
}

TEST_F(Radios, MicrosoftAuthenticatesOnceWhenTheDeviceWantsABond) {
    Load();
    EditPhone([](air::Phone& p) { p.link = air::LinkPolicy::NeedsPairing; });
    TvyrBluetoothRadio radio(baMicrosoft);
    TvyrBluetoothServices services;
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 0);
    EXPECT_EQ(services.Count(), 2);
    EXPECT_EQ(win::test::Calls("BluetoothAuthenticateDevice"), (std::vector<std::string>{"(00:1E:3A:47:9C:01) len=0"}));
    EXPECT_EQ(win::test::CallCount("WSALookupServiceBeginW"), 2);

    air::Air::Instance().Unpair(kPhone);
    EditPhone([](air::Phone& p) { p.pairing.outcome = air::PairOutcome::Refuse; });
    services.Add(new TvyrBluetoothService);
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 2);
    EXPECT_EQ(services.Count(), 3);
}

TEST_F(Radios, ToshibaSearchFailuresAndSilence) {
    Load();
    TvyrBluetoothRadio radio(baToshiba);
    TvyrBluetoothServices services;
    win::test::SetValue("BtServiceSearchAttribute2:fail", 1);
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 2);
    win::test::ClearValue("BtServiceSearchAttribute2:fail");
    win::test::SetTimeScale(1000);
    win::test::SetValue("BtConnectSDP:silent", 1);
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 2);
    // A failed connect leaves out the disconnect; the search's own buffers are freed either way.
    EXPECT_EQ(win::test::CallCount("BtDisconnectSDP"), 1);
    EXPECT_EQ(win::test::CallCount("BtMemFree"), 2 * 2 + 1);
}

// The search waits in its thread's own queue. A message for another window left there meanwhile costs no
// CPU while the stack stays silent, and stays queued; a WM_QUIT ends the wait as the stack's end notice
// does and stays queued for the thread's own loop.
TEST_F(Radios, ToshibaSearchWaitsWithoutSpinningAndLeavesQuitQueued) {
    Load();
    TvyrBluetoothRadio radio(baToshiba);
    TvyrBluetoothServices services;
    win::test::SetTimeScale(15); // the silent stack's 30 s bound passes in 2 s
    win::test::SetValue("BtConnectSDP:silent", 1);
    const win::UINT kOther = win::WM_USER + 77;
    win::PostMessageW(nullptr, kOther, 5, 0);
    timespec t0{}, t1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 2);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    EXPECT_LT(static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9, 0.25);
    win::MSG m{};
    EXPECT_TRUE(win::PeekMessageW(&m, nullptr, kOther, kOther, win::PM_REMOVE));

    win::PostQuitMessage(7);
    const win::DWORD start = win::GetTickCount();
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 0);
    EXPECT_LT(win::GetTickCount() - start, ToshibaServiceWaitMs);
    EXPECT_EQ(services.Count(), 2);
    ASSERT_TRUE(win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<win::UINT>(win::WM_QUIT));
    EXPECT_EQ(m.wParam, 7u);
}

TEST_F(Radios, WidCommCountIsClampedAndNamesStayInTheirField) {
    Load();
    EditPhone([](air::Phone& p) { p.services[0].name = std::string(150, 'o'); });
    win::test::SetValue("WD_EnumServices:count", 100000);
    TvyrBluetoothRadio radio(baWidComm);
    TvyrBluetoothServices services;
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 0);
    ASSERT_EQ(services.Count(), 100);
    EXPECT_EQ(services.Items(0)->Name(), std::u16string(101, u'o'));
    win::test::FailNext("WD_EnumServices");
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 2);
    EXPECT_EQ(services.Count(), 100);
}

TEST_F(Radios, BlueSoleilBrowseKeepsOnlyServicesItFinds) {
    Load(u"6.0.0.0");
    TvyrBluetoothRadio radio(baBlueSoleil);
    TvyrBluetoothServices services;
    win::test::FailNext("BT_SearchSPPExServices");
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 0);
    ASSERT_EQ(services.Count(), 1);
    EXPECT_EQ(services.Items(0)->Name(), u"Serial");
    win::test::FailNext("BT_BrowseServices");
    EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 2);
    EXPECT_EQ(services.Count(), 1);
}

// ---- Raw records from the air (the Microsoft stack parses them itself) ----

std::vector<uint8_t> Record(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& attributes) {
    std::vector<uint8_t> members;
    for (auto& [id, value] : attributes) {
        air::sdp::PutUint16(members, id);
        members.insert(members.end(), value.begin(), value.end());
    }
    std::vector<uint8_t> out;
    air::sdp::PutSequence(out, members);
    return out;
}
std::vector<uint8_t> U32(uint32_t v) {
    std::vector<uint8_t> o;
    air::sdp::PutUint32(o, v);
    return o;
}
std::vector<uint8_t> Seq(const std::vector<uint8_t>& members) {
    std::vector<uint8_t> o;
    air::sdp::PutSequence(o, members);
    return o;
}
std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> o;
    for (auto& p : parts)
        o.insert(o.end(), p.begin(), p.end());
    return o;
}
std::vector<uint8_t> Uuid16(uint16_t u) {
    return {0x19, uint8_t(u >> 8), uint8_t(u)};
}
std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> o;
    air::sdp::PutText(o, s);
    return o;
}

class RawRecords : public Radios {
protected:
    // The services the Microsoft road makes of these records.
    std::vector<TvyrBluetoothService> Enumerate(std::vector<std::vector<uint8_t>> records) {
        EditPhone([&](air::Phone& p) { p.rawSdpRecords = records; });
        TvyrBluetoothRadio radio(baMicrosoft);
        TvyrBluetoothServices services;
        EXPECT_EQ(device.EnumServices(&radio, &services, nullptr), 0);
        std::vector<TvyrBluetoothService> out;
        for (const auto& s : services)
            out.push_back(*s);
        return out;
    }
};

TEST_F(RawRecords, RecordToServiceRules) {
    Load();
    const auto protocols = Seq(Cat({Seq(Uuid16(0x0100)), Seq(Cat({Uuid16(0x0003), {0x08, 9}})), Seq(Uuid16(0x0008))}));
    // SerialPort then a vendor class; a 3-byte UTF-8 name; handle 7.
    auto s = Enumerate({Record({{0x0000, U32(7)},
                                {0x0001, Seq(Cat({Uuid16(0x1101), Uuid16(0x1105)}))},
                                {0x0004, protocols},
                                {0x0100, Text("\xC3\xA9x")}})});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_TRUE(s[0].Uuid() == BluetoothUuid(0x1105));
    EXPECT_EQ(s[0].Channel(), 9);
    EXPECT_EQ(s[0].Name(), u"\u00E9x");
    EXPECT_EQ(s[0].Comment(), u"");
    EXPECT_EQ(s[0].Handle(), 7u);

    // The profile list wins over the class list; encoding 4 reads the name as wide text.
    const auto language = Seq(Cat({{0x09, 'e', 'n'}, {0x09, 0x00, 0x04}, {0x09, 0x01, 0x00}}));
    s = Enumerate({Record({{0x0000, U32(1)},
                           {0x0001, Seq(Uuid16(0x1105))},
                           {0x0006, language},
                           {0x0009, Seq(Seq(Cat({Uuid16(0x1106), {0x09, 0x01, 0x00}})))},
                           {0x0100, Text(std::string("A\0B\0C", 5))}})});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_TRUE(s[0].Uuid() == BluetoothUuid(0x1106));
    EXPECT_EQ(s[0].Name(), u"AB"); // five bytes: the odd last one is left out
    EXPECT_EQ(s[0].Channel(), 0);

    // A 128-bit class in big-endian order; a PSM makes element 2 the RFCOMM UUID.
    std::vector<uint8_t> uuid128 = {0x1C};
    const uint8_t bytes[16] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 1, 2, 3, 4, 5, 6, 7, 8};
    uuid128.insert(uuid128.end(), bytes, bytes + 16);
    s = Enumerate({Record({{0x0000, U32(2)},
                           {0x0001, Seq(uuid128)},
                           {0x0004, Seq(Cat({Seq(Cat({Uuid16(0x0100), {0x09, 0x00, 0x03}})),
                                             Seq(Cat({Uuid16(0x0003), {0x08, 5}}))}))}})});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].Uuid().Data1, 0x12345678u);
    EXPECT_EQ(s[0].Uuid().Data2, 0x9ABC);
    EXPECT_EQ(s[0].Uuid().Data3, 0xDEF0);
    EXPECT_EQ(s[0].Uuid().Data4[7], 8);
    EXPECT_EQ(s[0].Channel(), 0x00); // the RFCOMM UUID's first byte
}

TEST_F(RawRecords, HostileRecordsGiveNoServiceOrSafeValues) {
    Load();
    // A class element of size 1 or 8 gives no service; a record without classes is skipped.
    auto s = Enumerate({Record({{0x0000, U32(1)}, {0x0001, Seq({0x08, 0x05})}}),
                        Record({{0x0000, U32(2)}, {0x0001, Seq({0x0B, 1, 2, 3, 4, 5, 6, 7, 8})}}),
                        Record({{0x0000, U32(3)}, {0x0100, Text("no class")}}),
                        // An empty channel element (size 0) gives channel 0; a short encoding keeps UTF-8.
                        Record({{0x0000, U32(4)},
                                {0x0001, Seq(Uuid16(0x1105))},
                                {0x0004, Seq(Cat({Seq(Uuid16(0x0100)), Uuid16(0x0003), {0x25, 0x00}}))},
                                {0x0006, Seq(Cat({{0x09, 'e', 'n'}, {0x08, 0x04}}))},
                                {0x0100, Text("ok")}})});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].Handle(), 4u);
    EXPECT_EQ(s[0].Channel(), 0);
    EXPECT_EQ(s[0].Name(), u"ok");

    // Truncated, empty and length-lying records end the parse without a service and without harm.
    auto good = Record({{0x0000, U32(9)}, {0x0001, Seq(Uuid16(0x1105))}});
    std::vector<uint8_t> truncated(good.begin(), good.begin() + 9);
    std::vector<uint8_t> lying = {0x37, 0xFF, 0xFF, 0xFF, 0xF0, 0x09, 0x00, 0x00, 0x0A, 0, 0, 0};
    s = Enumerate({truncated, {}, lying, {0x09}, good});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].Handle(), 9u);
}

} // namespace
