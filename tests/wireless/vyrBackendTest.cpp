// A radio's stack chooses its backend: the right stack is asked, whichever way the radio was made.
#include "StackFixture.h"

#include "vyrAPI.h"
#include "vyrBackend.h"
#include "vyrBlueSoleil.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrConnections.h"

#include <gtest/gtest.h>

#include <set>

using namespace vyr;

namespace {

constexpr const char16_t* kPhoneText = u"(00:1E:3A:47:9C:01)";

// The call each stack's radio address goes through, by stack kind.
const char* const kAddressCall[] = {"BT_GetLocalDeviceInfo", "BluetoothFindFirstRadio", "BtGetLocalInfo2",
                                    "WD_GetLocalDeviceVersionInfo"};

class Backends : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        for (int k = 0; k < 4; ++k)
            SetRadio(k, true);
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, u"6.4.236.0");
        ASSERT_EQ(api.Load(), 0);
    }
    void TearDown() override {
        api.Unload();
        StackFixture::TearDown();
    }

    // The stacks whose address call ran since the journal was cleared.
    static std::set<int> StacksAsked() {
        std::set<int> asked;
        for (int k = 0; k < 4; ++k)
            if (win::test::CallCount(kAddressCall[k]) > 0)
                asked.insert(k);
        return asked;
    }

    TvyrAPI api;
};

} // namespace

TEST(BackendTable, EveryStackKindHasItsOwnBackendRoadAndTurnRule) {
    const TvyrRoadKind roads[] = {TvyrRoadKind::BlueSoleil, TvyrRoadKind::Microsoft, TvyrRoadKind::Toshiba,
                                  TvyrRoadKind::WidComm};
    const bool oneAtATime[] = {true, false, true, false};
    std::set<const TvyrBluetoothBackend*> seen;
    for (auto k : {baBlueSoleil, baMicrosoft, baToshiba, baWidComm}) {
        SCOPED_TRACE(int(k));
        const TvyrBluetoothBackend* backend = BluetoothBackend(k);
        ASSERT_NE(backend, nullptr);
        EXPECT_TRUE(seen.insert(backend).second) << "two stacks share a backend";
        EXPECT_EQ(backend->RoadKind(), roads[k]);
        EXPECT_EQ(backend->OneAttemptAtATime(), oneAtATime[k]);
        EXPECT_EQ(BluetoothBackend(k), backend) << "a backend is one object for the process";
    }
    for (int k : {4, 7, 255})
        EXPECT_EQ(BluetoothBackend(static_cast<TvyrBluetoothApi>(k)), nullptr) << k;
}

TEST_F(Backends, ARadioAsksItsOwnStackHoweverItWasMade) {
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const TvyrBluetoothRadio source(static_cast<TvyrBluetoothApi>(k));
        // Made for the kind, copied, and assigned over a radio of every other kind.
        TvyrBluetoothRadio copied(source);
        std::vector<TvyrBluetoothRadio> assigned;
        for (int other = 0; other < 4; ++other) {
            assigned.emplace_back(static_cast<TvyrBluetoothApi>(other));
            assigned.back().Assign(&source);
        }
        std::vector<const TvyrBluetoothRadio*> radios = {&source, &copied};
        for (const auto& r : assigned)
            radios.push_back(&r);
        for (const TvyrBluetoothRadio* radio : radios) {
            win::test::ClearJournal();
            std::u16string address;
            EXPECT_EQ(radio->GetAddress(address), 0);
            EXPECT_EQ(StacksAsked(), std::set<int>{k});
        }
    }
}

TEST_F(Backends, AKindNoBackendServesIsRefusedEverywhereWithoutAStackCall) {
    const TvyrBluetoothRadio stray(static_cast<TvyrBluetoothApi>(6));
    TvyrBluetoothRadio assigned(baToshiba);
    assigned.Assign(&stray);
    TvyrBluetoothDevice device;
    device.SetAddress(kPhoneText);
    win::test::ClearJournal();
    for (const TvyrBluetoothRadio* radio : {&stray, static_cast<const TvyrBluetoothRadio*>(&assigned)}) {
        std::u16string text;
        int cod = 0;
        TvyrBluetoothServices services;
        EXPECT_EQ(radio->GetAddress(text), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_EQ(radio->SetName(u"x"), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_EQ(device.GetName(radio, text), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_EQ(device.GetClassOfDevice(radio, cod), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_EQ(device.Pair(radio, u"1234"), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_EQ(device.Unpair(radio), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_EQ(device.EnumServices(radio, &services, nullptr), VYR_BLUETOOTH_API_NOT_AVAILABLE);

        TvyrBluetoothDiscovery discovery;
        bool completed = false;
        discovery.OnDiscoveryComplete = [&](vcl::TObject*, TvyrBluetoothRadio*, TvyrBluetoothDevices*) {
            completed = true;
        };
        EXPECT_EQ(discovery.Discover(radio, 1), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_FALSE(discovery.Running());
        EXPECT_EQ(discovery.Terminate(), VYR_DISCOVERY_NOT_STARTED);
        EXPECT_FALSE(completed);

        TvyrCustomClientConnection conn;
        conn.BluetoothParams()->SetRadio(radio);
        conn.BluetoothParams()->SetAddress(kPhoneText);
        EXPECT_EQ(conn.Connect(), VYR_BLUETOOTH_API_NOT_AVAILABLE);
        EXPECT_TRUE(conn.IsClosed());
    }
    EXPECT_TRUE(StacksAsked().empty());
}
