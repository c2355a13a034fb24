// The lists and the manual send as an operator meets them in the main window: a phone found
// with the picker and black-listed is no longer served by the running station; a file sent by
// hand lands in another phone's inbox.
#include "AirPhones.h"
#include "StationSettings.h"
#include "StationHome.h"
#include "ModalSteps.h"
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "TestDatabase.h"
#include "dbsettings.h"
#include "devicelist.h"
#include "main.h"
#include "msgbox.h"
#include "qt/MessageBridge.h"
#include "searchfordevices.h"
#include "sendtodevice.h"
#include "sim/air/Air.h"
#include "stddialogs.h"
#include "translation.h"
#include "vcl/Registry.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

namespace {

air::Address PhoneAddress(int i) {
    return {0x00, 0x1E, 0x3A, 0x47, 0x9C, static_cast<uint8_t>(i)};
}

class StationListsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(tavtest::WriteDbSettings(QString::fromStdString(testDb.Path())));

        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001);
        win::test::SetTimeScale(200);
        tavtest::PlugRadio(1, 0x51);
        const char* const names[] = {"Marta's phone", "Tomas"};
        for (int i = 1; i <= 2; ++i)
            air::Air::Instance().AddPhone(tavtest::PushPhone(PhoneAddress(i), names[i - 1], Inbox(i).toStdString()));
    }
    void TearDown() override {
        TOpenDialog::ExecuteHook = nullptr;
        window.reset();
        roads.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
    }
    QString Inbox(int i) const { return home.filePath("inbox" + QString::number(i)); }
    QStringList Received(int i) const { return QDir(Inbox(i)).entryList(QDir::Files, QDir::Name); }
    void Exec(const std::string& sql) { tavlin::test::ExecCommitted(window->IBTransaction, sql); }
    QString ProcessStatus(const QString& mac) const {
        for (int i = 0; i < window->lvProcess->topLevelItemCount(); ++i)
            if (window->lvProcess->topLevelItem(i)->text(0) == mac)
                return window->lvProcess->topLevelItem(i)->text(4);
        return {};
    }
    // Picks the phone of that name in the picker once its search has ended.
    static void Pick(tavtest::ModalSteps& steps, const QString& name) {
        steps.Then<TfmSearchForDevices>(
            [name](TfmSearchForDevices& p) {
                const auto found = p.ListView->findItems(name, Qt::MatchExactly);
                ASSERT_EQ(found.size(), 1);
                p.ListView->setCurrentItem(found.first());
                p.btOK->click();
            },
            [](TfmSearchForDevices& p) { return p.ListView->count() == 2; });
    }

    tavtest::StationHome home;
    tavlin::test::TestDatabase testDb;
    std::unique_ptr<TfmMain> window;
    std::unique_ptr<tavtest::PhoneRoads> roads;
    TMessageBoxScript boxes;
};

TEST_F(StationListsTest, PickedPhoneBlackListedIsNotServedAndAFileSentByHandArrives) {
    window = std::make_unique<TfmMain>();
    ASSERT_TRUE(window->Connected);
    roads = std::make_unique<tavtest::PhoneRoads>();
    TfmMain& w = *window;
    Exec("update SETTINGS set SETTINGS_MAX_CONN = 2, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
         "SETTINGS_CONNECT_TIMEOUT = 255, SETTINGS_DELAY = 1, SETTINGS_USE_BL = 1, SETTINGS_USE_WL = 0");
    Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
         "CAMPAIGNS_FILE_NAME, CAMPAIGNS_DATA) values (1, 'Price list', 0, 0, 'prices.txt', 'Bread 1.20')");
    w.LoadCampaigns();

    // Tools, Black list, Add, Find: the picker finds the phone and fills the entry.
    tavtest::ModalSteps steps;
    steps.Then<TfmBlackList>([](TfmBlackList& l) { l.acAdd->trigger(); });
    steps.Then<TfmEditDevice>([](TfmEditDevice& e) { e.btFind->click(); });
    Pick(steps, "Marta's phone");
    steps.Then<TfmEditDevice>([](TfmEditDevice& e) { e.btOK->click(); },
                              [](TfmEditDevice& e) { return !e.edMAC->text().isEmpty(); });
    steps.Then<TfmBlackList>([](TfmBlackList& l) { l.btOK->click(); },
                             [](TfmBlackList& l) { return l.ListView->topLevelItemCount() == 1; });
    w.UpdateActions();
    w.acSettingsBlackList->trigger();
    ASSERT_TRUE(steps.Done());
    const QString marta = QString::fromStdString(air::AddressToText(PhoneAddress(1)));
    const QString tomas = QString::fromStdString(air::AddressToText(PhoneAddress(2)));

    // The running station serves Tomas and leaves the black-listed phone alone.
    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Engine->Running);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Received(2).contains("prices.txt") && ProcessStatus(marta) == "In black list"; }, 30000))
        << ProcessStatus(marta).toStdString();
    w.acSenderStop->trigger();
    EXPECT_TRUE(Received(1).isEmpty());

    // Sender, Send to device: find Tomas, load a file, send, close.
    QFile file(home.filePath("hello.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Hello from the station");
    file.close();
    TOpenDialog::ExecuteHook = [&](QWidget*, const TOpenDialog& d) {
        EXPECT_EQ(d.Filters.size(), 8);
        return file.fileName();
    };
    tavtest::ModalSteps send;
    send.Then<TfmSendToDevice>([](TfmSendToDevice& d) { d.btFind->click(); });
    Pick(send, "Tomas");
    send.Then<TfmSendToDevice>(
        [](TfmSendToDevice& d) {
            d.sbLoad->click();
            d.btSend->click();
        },
        [](TfmSendToDevice& d) { return !d.edDevice->text().isEmpty(); });
    send.Then<TfmSendToDevice>(
        [](TfmSendToDevice& d) { d.btOK->click(); },
        [](TfmSendToDevice& d) { return d.btSend->isEnabled() && d.laStatus->text() == "Send complete with succes."; });
    w.UpdateActions();
    ASSERT_TRUE(w.acSenderSendToDevice->isEnabled());
    w.acSenderSendToDevice->trigger();
    EXPECT_TRUE(send.Done());
    EXPECT_EQ(Received(2), (QStringList{"hello.txt", "prices.txt"}));
    QFile got(Inbox(2) + "/hello.txt");
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll(), "Hello from the station");
    EXPECT_TRUE(Received(1).isEmpty());
    EXPECT_TRUE(boxes.Asked().empty());
}

} // namespace
