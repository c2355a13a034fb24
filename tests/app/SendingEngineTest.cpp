// The station end to end: the main window's senders on simulated radios push the stored
// campaigns to simulated phones, and the database records what happened to each phone.
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "TestDatabase.h"
#include "campchart.h"
#include "dbsettings.h"
#include "main.h"
#include "msgbox.h"
#include "qt/MessageBridge.h"
#include "reportdialog.h"
#include "sim/air/Air.h"
#include "translation.h"
#include "vcl/IniFiles.h"
#include "vcl/Registry.h"
#include "win32/Testing.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <set>

namespace {

enum Phone {
    Good1 = 1,
    Good2,
    Good3,
    Good4,
    BlackListed,
    NotWhiteListed,
    Busy,
    Served,
    Refusing,
    Silent,
    TempBlackListed,
    Good5,
    PhoneCount = Good5
};
const std::set<int> GoodPhones{Good1, Good2, Good3, Good4, Good5};
const char* const OtherStation = "(00:99:99:99:99:99)";

air::Address PhoneAddress(int i) {
    return {0x00, 0x1E, 0x3A, 0x00, 0x00, static_cast<uint8_t>(i)};
}
std::string PhoneText(int i) {
    return air::AddressToText(PhoneAddress(i));
}

class SendingEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        dataEnv.Set(home.filePath("data").toStdString());
        registryEnv.Set(home.filePath("registry").toStdString());
        Translator().SetFileName(home.filePath("langs.dat"));
        testDb = std::make_unique<tavlin::test::TestDatabase>();
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(SettingsKeyPath().toStdU16String(), true));
        reg.WriteString(u"UserName", u"SYSDBA");
        reg.WriteString(u"Password", u"pw");
        reg.WriteString(u"Path", QString::fromStdString(testDb->Path()).toStdU16String());
        reg.WriteString(u"Server", u"");

        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001); // inquiries end at once
        win::test::SetTimeScale(200);             // a second of delay or sleep takes 5 ms
        for (int kind : {1, 3}) Plug(kind, true);
        for (int i = 1; i <= PhoneCount; ++i) {
            air::Phone p;
            p.address = PhoneAddress(i);
            p.name = "phone " + std::to_string(i);
            p.classOfDevice = 0x5A020C;
            p.inbox = Inbox(i).toStdString();
            p.pairing.paired = true;
            air::Service s;
            s.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
            s.channel = 9;
            s.name = "OBEX Object Push";
            p.services.push_back(s);
            if (i == Refusing) p.obex.mode = air::ObexMode::Refuse;
            if (i == Silent) p.obex.mode = air::ObexMode::Silent;
            air::Air::Instance().AddPhone(p);
        }
    }
    void TearDown() override {
        window.reset();
        roads.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
        Translator().SetFileName(QString());
    }

    static void Plug(int kind, bool present) {
        air::Radio r;
        r.present = present;
        r.address = {0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(0x50 + kind)};
        r.name = "STATION";
        air::Air::Instance().SetRadio(kind, r);
    }
    QString Inbox(int i) const { return home.filePath("inbox" + QString::number(i)); }
    QStringList Received(int i) const {
        return QDir(Inbox(i)).entryList(QDir::Files, QDir::Name);
    }

    // Three campaigns, the lists and the records that make each phone's case, and settings that
    // send at once and put a phone on the temporary black list at its first failure.
    // The phones answer in real time while the station's clock runs 200 times fast: the connect and
    // OBEX time-out (seconds on that clock) must leave a busy machine room to answer; 255 s is 1.3 s real.
    void CreateStation(int connectTimeout = 255) {
        window = std::make_unique<TfmMain>();
        ASSERT_TRUE(window->Connected);
        ASSERT_TRUE(window->vyrAPI.IsLoaded());
        // Every road reaches the air's phones; the window keeps the process's one loaded API.
        roads = std::make_unique<tavtest::PhoneRoads>();
        Exec("update SETTINGS set SETTINGS_MAX_CONN = 4, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
             "SETTINGS_CONNECT_TIMEOUT = " + std::to_string(connectTimeout) + ", SETTINGS_DELAY = 1, "
             "SETTINGS_NAME = 'TAVLIN', "
             "SETTINGS_MAX_PER_DONGLE = 50, SETTINGS_USE_BL = 1, SETTINGS_USE_WL = 1, SETTINGS_BL_TIMEOUT = 24, "
             "SETTINGS_REJECT_RETRY = 0, SETTINGS_IGNORE_RETRY = 0");
        Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
             "CAMPAIGNS_FILE_NAME, CAMPAIGNS_DATA) values (1, 'Price list', 0, 0, 'prices.txt', 'Bread 1.20')");
        Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
             "CAMPAIGNS_FILE_NAME, CAMPAIGNS_DATA) values (2, 'Card', 1, 0, 'shop.vcf', "
             "'BEGIN:VCARD' || ascii_char(13) || ascii_char(10) || 'VERSION:2.1' || ascii_char(13) || ascii_char(10) "
             "|| 'ORG:Shop' || ascii_char(13) || ascii_char(10) || 'END:VCARD' || ascii_char(13) || ascii_char(10))");
        Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
             "CAMPAIGNS_FILE_NAME, CAMPAIGNS_VALIGN, CAMPAIGNS_HALIGN, CAMPAIGNS_USE_COUPON, CAMPAIGNS_MESSAGE, "
             "CAMPAIGNS_FONT_NAME, CAMPAIGNS_FONT_SIZE, CAMPAIGNS_FONT_STYLE, CAMPAIGNS_FONT_COLOR, "
             "CAMPAIGNS_VALID_IN) values (3, 'Coupon', 2, 0, 'promo.jpg', 1, 1, 1, '10% off', 'Sans', 10, 1, 0, 48)");
        window->LoadCampaigns();
        for (int i = 1; i <= PhoneCount; ++i)
            if (i != NotWhiteListed)
                Exec("insert into WHITE_LIST (WHITE_LIST_ID, WHITE_LIST_MAC, WHITE_LIST_ENABLED) values (" +
                     std::to_string(i) + ", '" + PhoneText(i) + "', 1)");
        Exec("insert into BLACK_LIST (BLACK_LIST_ID, BLACK_LIST_MAC, BLACK_LIST_ENABLED) values (1, '" +
             PhoneText(BlackListed) + "', 1)");
        Exec("insert into DEVICE_LOCKS (DEVICE_LOCKS_DEVICE_MAC, DEVICE_LOCKS_DONGLE_MAC, DEVICE_LOCKS_CAMPAIGNS_ID, "
             "DEVICE_LOCKS_LOCK_TIME) values ('" + PhoneText(Busy) + "', '" + OtherStation + "', 1, current_timestamp)");
        Exec("insert into DEVICES (DEVICES_ID, DEVICES_MAC, DEVICES_COUNT) values (101, '" + PhoneText(Served) +
             "', 1)");
        Exec("insert into PROCESSED (PROCESSED_ID, PROCESSED_CAMPAIGNS_ID, PROCESSED_DEVICES_ID) "
             "select 900 + CAMPAIGNS_ID, CAMPAIGNS_ID, 101 from CAMPAIGNS");
        Exec("insert into DEVICES (DEVICES_ID, DEVICES_MAC, DEVICES_COUNT) values (102, '" + PhoneText(TempBlackListed) +
             "', 1)");
        Exec("insert into WORK_BLACK_LIST (WORK_BLACK_LIST_ID, WORK_BLACK_LIST_CAMPAIGNS_ID, WORK_BLACK_LIST_DEVICES_ID, "
             "WORK_BLACK_LIST_DATE_TIME) select 900 + CAMPAIGNS_ID, CAMPAIGNS_ID, 102, current_timestamp from CAMPAIGNS");
    }

    void Exec(const std::string& sql) {
        ibx::TIBQuery q;
        q.SetTransaction(&window->IBTransaction);
        q.SetSQL(sql);
        q.ExecSQL();
        window->IBTransaction.CommitRetaining();
    }
    int Count(const std::string& sql) {
        ibx::TIBQuery q;
        q.SetTransaction(&window->IBTransaction);
        q.SetSQL(sql);
        q.Open();
        const int n = q.Eof() ? 0 : q.Fields(0).AsInteger();
        q.Close();
        return n;
    }
    // Results per phone in HISTORY, as "campaign:result" sorted.
    std::map<std::string, std::multiset<std::string>> History() {
        ibx::TIBQuery q;
        q.SetTransaction(&window->IBTransaction);
        q.SetSQL("select d.DEVICES_MAC, h.HISTORY_CAMPAIGNS_ID, h.HISTORY_RESULT from HISTORY h join DEVICES d on "
                 "d.DEVICES_ID = h.HISTORY_DEVICES_ID");
        std::map<std::string, std::multiset<std::string>> out;
        for (q.Open(); !q.Eof(); q.Next())
            out[q.Fields(0).AsString()].insert(std::to_string(q.Fields(1).AsInteger()) + ":" +
                                               std::to_string(q.Fields(2).AsInteger()));
        q.Close();
        return out;
    }
    bool WorkFoldersEmpty() const {
        for (int tag = 0; tag < 4; ++tag)
            if (!QDir(window->SenderFolders[size_t(tag)]).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
                return false;
        return true;
    }
    int OurLocks() {
        return Count("select count(*) from CAMPAIGN_LOCKS") +
               Count(std::string("select count(*) from DEVICE_LOCKS where DEVICE_LOCKS_DONGLE_MAC <> '") +
                     OtherStation + "'");
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 30000) { return QTest::qWaitFor(done, ms); }

    QTemporaryDir home;
    tavtest::ScopedEnv dataEnv{"XDG_DATA_HOME"}, registryEnv{"TAVLIN_REGISTRY_DIR"};
    std::unique_ptr<tavlin::test::TestDatabase> testDb;
    std::unique_ptr<tavtest::PhoneRoads> roads;
    TMessageBoxScript boxes;
    std::unique_ptr<TfmMain> window;
};

} // namespace

TEST_F(SendingEngineTest, TwoRadiosServeEveryPhoneAsTheDatabaseDecides) {
    // The silent phone must time out once per campaign, each in a cycle of its own: 100 s (0.5 s real)
    // keeps that short and still gives the good phones twenty times what they ever needed.
    CreateStation(100);
    TfmMain& w = *window;
    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Running);
    EXPECT_EQ(w.StatusPanelText(1), "Sender is running");
    EXPECT_TRUE(w.vyrProximitySender1->Active());
    EXPECT_TRUE(w.vyrProximitySender2->Active());
    EXPECT_FALSE(w.vyrProximitySender3->Active());

    // Every good phone gets all three campaigns; the refusing and the silent one fail once per
    // campaign and are then on its temporary black list.
    bool sawProcessRows = false;
    const int expectedHistory = int(GoodPhones.size()) * 3 + 2 * 3;
    ASSERT_TRUE(WaitFor([&] {
        sawProcessRows = sawProcessRows || w.lvProcess->topLevelItemCount() > 0;
        return Count("select count(*) from HISTORY") >= expectedHistory;
    })) << Count("select count(*) from HISTORY");
    w.acSenderStop->trigger();
    EXPECT_FALSE(w.Running);
    EXPECT_FALSE(w.AnySenderActive());
    EXPECT_EQ(w.StatusPanelText(1), "Sender is stopped");
    EXPECT_TRUE(sawProcessRows);

    for (int i = 1; i <= PhoneCount; ++i) {
        if (GoodPhones.count(i)) {
            EXPECT_EQ(Received(i), (QStringList{"prices.txt", "promo.jpg", "shop.vcf"})) << i;
        } else {
            EXPECT_TRUE(Received(i).isEmpty()) << i;
        }
    }
    QFile prices(Inbox(Good1) + "/prices.txt");
    ASSERT_TRUE(prices.open(QIODevice::ReadOnly));
    EXPECT_EQ(prices.readAll(), "Bread 1.20");
    QFile promo(Inbox(Good2) + "/promo.jpg");
    ASSERT_TRUE(promo.open(QIODevice::ReadOnly));
    EXPECT_TRUE(promo.readAll().startsWith("\xFF\xD8"));

    const auto history = History();
    const std::multiset<std::string> allGood{"1:0", "2:0", "3:0"};
    for (int i : GoodPhones) EXPECT_EQ(history.at(PhoneText(i)), allGood) << i;
    EXPECT_EQ(history.at(PhoneText(Refusing)), (std::multiset<std::string>{"1:2", "2:2", "3:2"}));
    EXPECT_EQ(history.at(PhoneText(Silent)), (std::multiset<std::string>{"1:1", "2:1", "3:1"}));
    EXPECT_EQ(int(history.size()), int(GoodPhones.size()) + 2);

    // Served phones got a coupon for the promotion only; the pre-served phone keeps its old records.
    EXPECT_EQ(Count("select count(*) from PROCESSED"), int(GoodPhones.size()) * 3 + 3);
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON is not null"), int(GoodPhones.size()));
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON is not null and "
                    "PROCESSED_CAMPAIGNS_ID <> 3"), 0);
    EXPECT_EQ(Count("select count(*) from REJECTED r join DEVICES d on d.DEVICES_ID = r.REJECTED_DEVICES_ID "
                    "where d.DEVICES_MAC = '" + PhoneText(Refusing) + "'"), 3);
    EXPECT_EQ(Count("select count(*) from REJECTED"), 3);
    EXPECT_EQ(Count("select count(*) from IGNORED i join DEVICES d on d.DEVICES_ID = i.IGNORED_DEVICES_ID "
                    "where d.DEVICES_MAC = '" + PhoneText(Silent) + "'"), 3);
    EXPECT_EQ(Count("select count(*) from IGNORED"), 3);
    EXPECT_EQ(Count("select count(*) from WORK_BLACK_LIST w join DEVICES d on d.DEVICES_ID = "
                    "w.WORK_BLACK_LIST_DEVICES_ID where d.DEVICES_MAC in ('" + PhoneText(Refusing) + "', '" +
                    PhoneText(Silent) + "')"), 6);
    EXPECT_EQ(Count("select count(*) from WORK_BLACK_LIST"), 9);

    // Stopped: no lock of this station left, no work file, the lists show it.
    EXPECT_EQ(OurLocks(), 0);
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS"), 1); // the other station's
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_TRUE(w.SentFiles().empty());
    EXPECT_EQ(w.lvProcess->topLevelItemCount(), 0);
    EXPECT_EQ(w.lvAPIs->topLevelItem(1)->text(2), "Stopped");
    EXPECT_EQ(w.lvAPIs->topLevelItem(3)->text(2), "Stopped");
    EXPECT_EQ(w.lvAPIs->topLevelItem(1)->text(1), "Detected");
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendingEngineTest, UnpluggedRadioStopsOnlyItsSenderAndComesBack) {
    CreateStation();
    TfmMain& w = *window;
    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Running);
    vyr::TvyrProximitySender* microsoft = w.vyrProximitySender1.get();
    vyr::TvyrProximitySender* widcomm = w.vyrProximitySender2.get();
    ASSERT_TRUE(microsoft->Active() && widcomm->Active());
    ASSERT_EQ(int(widcomm->SendRadio()->Api()), 3);

    Plug(3, false);
    ASSERT_TRUE(WaitFor([&] { return !widcomm->Active(); }, 5000));
    EXPECT_TRUE(microsoft->Active());
    EXPECT_TRUE(w.Running);
    EXPECT_EQ(w.lvAPIs->topLevelItem(3)->text(1), "Not detected");
    EXPECT_EQ(w.lvAPIs->topLevelItem(3)->text(2), "Stopped");
    EXPECT_EQ(widcomm->SendRadio(), nullptr);
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS where CAMPAIGN_LOCKS_DONGLE_MAC = '(00:11:22:33:44:53)'"),
              0);

    // Back again: an idle sender takes the radio and sends on it.
    Plug(3, true);
    ASSERT_TRUE(WaitFor([&] { return w.AnySenderActive() && widcomm->Active(); }, 5000));
    EXPECT_EQ(int(widcomm->SendRadio()->Api()), 3);
    EXPECT_EQ(w.lvAPIs->topLevelItem(3)->text(1), "Detected");
    ASSERT_TRUE(WaitFor([&] { return w.lvAPIs->topLevelItem(3)->text(2).startsWith("Sending campaign"); }, 5000));
    w.acSenderStop->trigger();
    EXPECT_EQ(OurLocks(), 0);
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendingEngineTest, StopInTheMiddleLeavesNoLockAndNoFile) {
    // Slow phones, so the stop finds pushes under way.
    for (int i : GoodPhones) {
        auto p = *air::Air::Instance().FindPhone(PhoneAddress(i));
        p.obex.delayMs = 40;
        air::Air::Instance().AddPhone(p);
    }
    CreateStation();
    TfmMain& w = *window;
    w.acSenderStart->trigger();
    auto sending = [&] {
        for (int i = 0; i < w.lvProcess->topLevelItemCount(); ++i)
            if (w.lvProcess->topLevelItem(i)->text(4) == "Sending") return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(sending, 10000));
    EXPECT_FALSE(w.SentFiles().empty());
    EXPECT_GT(Count("select count(*) from CAMPAIGN_LOCKS"), 0);
    w.acSenderStop->trigger();
    EXPECT_FALSE(w.AnySenderActive());
    EXPECT_EQ(OurLocks(), 0);
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_TRUE(w.SentFiles().empty());
    EXPECT_EQ(w.lvProcess->topLevelItemCount(), 0);
    // Nothing is recorded for the interrupted pushes afterwards.
    const int history = Count("select count(*) from HISTORY");
    QTest::qWait(100);
    EXPECT_EQ(Count("select count(*) from HISTORY"), history);
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendingEngineTest, ReportsShowTheRunAndADeletedAcceptanceIsServedAgain) {
    CreateStation(100);
    TfmMain& w = *window;
    w.acSenderStart->trigger();
    const int expectedHistory = int(GoodPhones.size()) * 3 + 2 * 3;
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from HISTORY") >= expectedHistory; }));
    w.acSenderStop->trigger();

    const QString shots = QCoreApplication::applicationDirPath() + "/../screenshots";
    QDir().mkpath(shots);
    const auto choose = [&](const QString& campaign) {
        w.lvCampaigns->clearSelection();
        for (int i = 0; i < w.lvCampaigns->topLevelItemCount(); ++i)
            if (w.lvCampaigns->topLevelItem(i)->text(0) == campaign) w.lvCampaigns->topLevelItem(i)->setSelected(true);
        w.UpdateActions();
    };
    std::map<QString, int> opened;
    // Opens a dialog from its menu command, works on it once it is up and closes it.
    const auto open = [&](QAction* command, const std::function<void(QDialog&)>& act) {
        bool shown = false;
        QTimer::singleShot(0, &w, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            shown = true;
            act(*dialog);
            const int n = ++opened[dialog->objectName()];
            dialog->grab().save(shots + "/" + dialog->objectName() + (n > 1 ? "-" + QString::number(n) : "") + ".png");
            static_cast<QPushButton*>(dialog->findChild<QPushButton*>("btClose"))->click();
        });
        ASSERT_TRUE(command->isEnabled());
        command->trigger();
        EXPECT_TRUE(shown) << command->objectName().toStdString();
    };
    const auto rows = [](QDialog& d) { return static_cast<TReportDialog&>(d).ListView->topLevelItemCount(); };
    const auto title = [](QDialog& d) { return d.findChild<QLabel*>("laTitle")->text(); };

    choose("Coupon");
    open(w.acReportsProcessed, [&](QDialog& d) {
        EXPECT_EQ(title(d), "Accepted devices for campaign Coupon");
        EXPECT_EQ(rows(d), int(GoodPhones.size()) + 1); // and the phone served before the run
        const QTreeWidget* list = static_cast<TReportDialog&>(d).ListView;
        int coupons = 0;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(3).size() == 8 && list->topLevelItem(i)->text(4) == "48") ++coupons;
        EXPECT_EQ(coupons, int(GoodPhones.size()));
    });
    open(w.acReportsRejected, [&](QDialog& d) {
        EXPECT_EQ(title(d), "Rejected devices for campaign Coupon");
        EXPECT_EQ(rows(d), 1);
    });
    open(w.acReportsIgnored, [&](QDialog& d) { EXPECT_EQ(rows(d), 1); });
    open(w.acBlackListTermorary, [&](QDialog& d) { EXPECT_EQ(rows(d), 3); });
    open(w.acReportsHistory, [&](QDialog& d) {
        EXPECT_EQ(title(d), "Hstory for campaign Coupon");
        EXPECT_EQ(rows(d), int(GoodPhones.size()) + 2);
    });
    open(w.acReportsDetailsPerCampaigns, [&](QDialog& d) { EXPECT_EQ(rows(d), expectedHistory); });
    open(w.acReportsChart, [&](QDialog& d) {
        d.resize(700, 480);
        QTest::qWait(1500); // the axes' animation settles
        EXPECT_EQ(static_cast<TfmChart&>(d).CampChart->chart()->series().size(), 3);
    });

    // The language file holds the titles without the campaign's name.
    vcl::TIniFile lang(home.filePath("langs.dat").toStdU16String());
    EXPECT_EQ(lang.ReadString(u"English", u"fmAccepted_laTitle", u"?"), u"Accepted devices for campaign ");
    EXPECT_EQ(lang.ReadString(u"English", u"fmHistory_laTitle", u"?"), u"Hstory for campaign ");
    EXPECT_EQ(lang.ReadString(u"English", u"fmChart_Caption", u"?"), u"Chart");

    // Forgetting that the first phone received the price list serves it again in the next cycle.
    const std::string good1Prices = "select count(*) from HISTORY h join DEVICES d on d.DEVICES_ID = "
                                    "h.HISTORY_DEVICES_ID where h.HISTORY_CAMPAIGNS_ID = 1 and h.HISTORY_RESULT = 0 "
                                    "and d.DEVICES_MAC = '" + PhoneText(Good1) + "'";
    ASSERT_EQ(Count(good1Prices), 1);
    choose("Price list");
    boxes.Answer(TMsgResult::Yes);
    open(w.acReportsProcessed, [&](QDialog& d) {
        auto& report = static_cast<TReportDialog&>(d);
        for (int i = 0; i < report.ListView->topLevelItemCount(); ++i)
            if (report.ListView->topLevelItem(i)->text(0).toStdString() == PhoneText(Good1))
                report.ListView->setCurrentItem(report.ListView->topLevelItem(i));
        const int before = rows(d);
        report.acDelete->trigger();
        EXPECT_EQ(rows(d), before - 1);
    });
    EXPECT_EQ(Count("select count(*) from PROCESSED p join DEVICES d on d.DEVICES_ID = p.PROCESSED_DEVICES_ID where "
                    "p.PROCESSED_CAMPAIGNS_ID = 1 and d.DEVICES_MAC = '" + PhoneText(Good1) + "'"), 0);
    QFile::remove(Inbox(Good1) + "/prices.txt");
    w.acSenderStart->trigger();
    ASSERT_TRUE(WaitFor([&] { return Count(good1Prices) == 2; }));
    w.acSenderStop->trigger();
    EXPECT_EQ(Received(Good1), (QStringList{"prices.txt", "promo.jpg", "shop.vcf"}));
    // Nobody else got anything twice.
    EXPECT_EQ(Count("select count(*) from HISTORY where HISTORY_RESULT = 0"), int(GoodPhones.size()) * 3 + 1);
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_EQ(boxes.Asked()[0].text, "Are you sure you want to delete selected device?");
}
