// Inquiries cut short over and over while the stacks are still answering: terminating, deleting the
// component, unloading the API, the Toshiba grace running out and a proximity sender stopping mid-inquiry.
// Meant to run under the address sanitizer too: a stack writing into freed memory, or the library freeing
// memory a stack still writes, shows there.
#include "StackFixture.h"

#include "vyrAPI.h"
#include "vyrBlueSoleil.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrErrors.h"
#include "vyrProximitySender.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

using namespace vyr;

namespace {

class DiscoveryCancel : public StackFixture {
protected:
    void TearDown() override {
        component.reset();
        api.Unload();
        win::test::PumpUntilIdle(20, 500);
        StackFixture::TearDown();
    }
    void World(int stack, int phones) {
        SetRadio(stack, true);
        for (int i = 0; i < phones; ++i) {
            air::Phone p;
            p.address = {0x00, 0x1A, 0x7D, 0x00, static_cast<uint8_t>(i), 0x21};
            p.name = "phone " + std::to_string(i);
            air::Air::Instance().AddPhone(p);
        }
    }
    void Load(const std::u16string& blueSoleilVersion = u"6.4.236.0") {
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, blueSoleilVersion);
        ASSERT_EQ(api.Load(), 0);
        NewComponent();
    }
    void NewComponent() {
        component = std::make_unique<TvyrBluetoothDiscovery>();
        component->OnDiscoveryStarted = [this](vcl::TObject*, TvyrBluetoothRadio*) { ++started; };
        component->OnDiscoveryComplete = [this](vcl::TObject*, TvyrBluetoothRadio*, TvyrBluetoothDevices* d) {
            ++completed;
            found = d ? d->Count() : -1;
        };
    }
    // Starts, then cuts the inquiry short in one of several ways.
    void StartAndCut(TvyrBluetoothApi kind, int round) {
        TvyrBluetoothRadio radio(kind);
        const int before = completed;
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        if (round % 5 != 0) { // otherwise also before the worker reached the stack
            ASSERT_TRUE(win::test::PumpUntil([&] { return started > 0; }, 3000));
        }
        started = 0;
        switch (round % 4) {
        case 0:
        case 1:
            EXPECT_EQ(component->Terminate(), 0);
            EXPECT_EQ(completed, before + 1);
            EXPECT_EQ(found, -1);
            break;
        case 2:
            component.reset();
            NewComponent();
            break;
        case 3: // the stack goes away under the running inquiry
            ASSERT_EQ(api.Unload(), 0);
            EXPECT_EQ(completed, before + 1);
            ASSERT_EQ(api.Load(), 0);
            break;
        }
        win::test::PumpUntil([] { return false; }, round % 3 == 0 ? 5 : 0);
    }
    // The stack still answers in full after all that.
    void CompletesInFull(TvyrBluetoothApi kind, int phones) {
        TvyrBluetoothRadio radio(kind);
        const int before = completed;
        ASSERT_EQ(component->Discover(&radio, 15), 0);
        ASSERT_TRUE(win::test::PumpUntil([&] { return completed > before; }, 5000));
        EXPECT_EQ(found, phones);
    }

    TvyrAPI api;
    std::unique_ptr<TvyrBluetoothDiscovery> component;
    int started = 0, completed = 0, found = 0;
};

TEST_F(DiscoveryCancel, ToshibaInquiriesCutShortLeaveNoWritesIntoFreedMemory) {
    World(baToshiba, 20);
    air::Air::Instance().SetTimeScale(0.02); // a default inquiry lasts about 200 ms
    Load();
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        StartAndCut(baToshiba, round);
    }
    // The grace runs out while the stack still inquires: the library cancels and gives the slot up.
    win::test::SetTimeScale(400);
    for (int round = 0; round < 6; ++round) {
        const int before = completed;
        TvyrBluetoothRadio radio(baToshiba);
        ASSERT_EQ(component->Discover(&radio, 1), 0);
        ASSERT_TRUE(win::test::PumpUntil([&] { return completed > before; }, 3000));
    }
    win::test::SetTimeScale(1);
    CompletesInFull(baToshiba, 20);
}

TEST_F(DiscoveryCancel, WidCommAndBlueSoleilInquiriesCutShortOverAndOver) {
    World(baWidComm, 20);
    SetRadio(baBlueSoleil, true);
    air::Air::Instance().SetTimeScale(0.02);
    for (const char16_t* version : {u"6.0.0.0", u"6.4.236.0"}) {
        Load(version);
        for (auto kind : {baWidComm, baBlueSoleil}) {
            SCOPED_TRACE(static_cast<int>(kind));
            for (int round = 0; round < 16; ++round) {
                SCOPED_TRACE(round);
                StartAndCut(kind, round);
            }
            CompletesInFull(kind, 20);
        }
        component.reset();
        api.Unload();
    }
}

TEST_F(DiscoveryCancel, AToshibaSenderStoppedMidInquiryOverAndOver) {
    World(baToshiba, 20);
    air::Air::Instance().SetTimeScale(0.02);
    ASSERT_EQ(api.Load(), 0);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        auto sender = std::make_unique<TvyrProximitySender>();
        TvyrBluetoothRadio radio(baToshiba);
        sender->SetSendRadio(&radio);
        sender->SetDiscoveryRadio(&radio);
        sender->SetDiscoverTimeout(10);
        bool discovering = false, stopped = false;
        sender->OnDiscoveryStarted = [&](vcl::TObject*) { discovering = true; };
        sender->OnStopped = [&](vcl::TObject*) { stopped = true; };
        ASSERT_EQ(sender->Start(), 0);
        if (round % 3 != 0) {
            ASSERT_TRUE(win::test::PumpUntil([&] { return discovering; }, 3000));
        }
        if (round % 2 == 0) {
            sender->Stop();
            EXPECT_TRUE(stopped);
        }
        sender.reset(); // deleting a running sender stops it too
        EXPECT_TRUE(TvyrProximitySender::StacksInUse().Empty());
    }
}

TEST_F(DiscoveryCancel, AToshibaInquiryRegisteredAfterTheTerminateIsCancelledByItsWorker) {
    World(baToshiba, 3);
    air::Air::Instance().SetTimeScale(1); // a default inquiry lasts over ten seconds
    Load();
    TvyrBluetoothRadio radio(baToshiba);
    const int freed = win::test::CallCount("BtMemFree");
    ASSERT_EQ(component->Discover(&radio, 15), 0);
    // Unpumped, the worker still waits on its start notice: the stack has no inquiry to cancel yet.
    EXPECT_EQ(component->Terminate(), 0);
    ASSERT_TRUE(win::test::PumpUntil(
        [&] {
            return win::test::CallCount("BtCancelDiscoverRemoteDevice") == 2 &&
                   win::test::CallCount("BtMemFree") > freed;
        },
        3000))
        << "the inquiry ran on for nobody";
    EXPECT_EQ(win::test::CallCount("BtDiscoverRemoteDevice2"), 1);
    EXPECT_EQ(win::test::CallCount("BtCancelDiscoverRemoteDevice"), 2);
    EXPECT_EQ(completed, 1);
}

TEST_F(DiscoveryCancel, AWidCommResultStillUnreadSurvivesTheNextInquiry) {
    World(baWidComm, 4);
    air::Air::Instance().SetTimeScale(0.002); // about 20 ms
    Load();
    TvyrBluetoothDiscovery other;
    int otherFound = -2;
    other.OnDiscoveryComplete = [&](vcl::TObject*, TvyrBluetoothRadio*, TvyrBluetoothDevices* d) {
        otherFound = d ? d->Count() : -1;
    };
    TvyrBluetoothRadio radio(baWidComm);
    ASSERT_EQ(component->Discover(&radio, 15), 0);
    ::usleep(120000); // the result is posted meanwhile, and stays unread
    ASSERT_EQ(other.Discover(&radio, 15), 0);
    ASSERT_TRUE(win::test::PumpUntil([&] { return completed == 1 && otherFound != -2; }, 3000));
    EXPECT_EQ(found, 4);
    EXPECT_EQ(otherFound, 4);
}

} // namespace
