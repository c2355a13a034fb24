// The station end to end: the sending engine's senders on simulated radios push the stored
// campaigns to simulated phones, and the database records what happened to each phone. Most
// cases drive the engine alone, its view a recorder; the others go through the main window.
#include "AirPhones.h"
#include "StationSettings.h"
#include "StationHome.h"
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "ScopedEnv.h"
#include "TestDatabase.h"
#include "campaignlist.h"
#include "checkcoupon.h"
#include "campchart.h"
#include "dbsettings.h"
#include "jpegcodec.h"
#include "main.h"
#include "msgbox.h"
#include "promopicture.h"
#include "qt/MessageBridge.h"
#include "stddialogs.h"
#include "textcamp.h"
#include "reportdialog.h"
#include "sendingengine.h"
#include "sim/air/Air.h"
#include "sim/air/AirFileWatch.h"
#include "translation.h"
#include "vcl/IniFiles.h"
#include "vcl/Registry.h"
#include "sim/win32/Testing.h"
#include "wizard.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QFile>
#include <QLineEdit>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <fstream>
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

// Keeps what the engine shows, as the window's interface and process lists would.
class RecordingView : public TSendingView {
public:
    std::array<QString, 4> detected, action;
    std::vector<QStringList> rows; // address, name, class of device, interface, status
    int added = 0;
    QString state;

    void ShowInterfaceDetected(int kind, bool present) override {
        detected.at(size_t(kind)) = present ? "Detected" : "Not detected";
    }
    void ShowSenderAction(int kind, const QString& text) override { action.at(size_t(kind)) = text; }
    void AddProcessRow(const QStringList& columns) override {
        rows.push_back(columns);
        ++added;
    }
    void SetProcessStatus(const QString& mac, const QString& text, int kind) override {
        for (QStringList& row : rows)
            if (row[0] == mac && row[3] == TSendingEngine::InterfaceName(kind)) {
                row[4] = text;
                return;
            }
    }
    void ClearProcessList(int kind) override {
        std::erase_if(rows, [kind](const QStringList& row) { return row[3] == TSendingEngine::InterfaceName(kind); });
    }
    void ShowSendingState(const QString& text) override { state = text; }
};

// The engine without a window: its own connection, the station's kind of transaction, the
// process's loaded API telling it about the radios, and work folders of its own.
struct WindowlessStation {
    WindowlessStation(const tavlin::test::TestDatabase& db, const QString& work) : connection(db.Connect()) {
        transaction.SetDefaultDatabase(connection.get());
        transaction.SetParams({"read_committed", "rec_version", "nowait"});
        transaction.StartTransaction();
        engine = std::make_unique<TSendingEngine>(connection.get(), &transaction, &view);
        for (int tag = 0; tag < 4; ++tag) {
            folders[size_t(tag)] = work + "/" + QString::number(tag) + "/";
            QDir().mkpath(folders[size_t(tag)]);
            engine->CampaignContent.SetSenderFolder(tag, folders[size_t(tag)]);
        }
        api.AfterLoad = api.OnChanged = [this](vcl::TObject*) { engine->UpdateInterfaces(); };
        api.Load();
    }
    ~WindowlessStation() {
        engine->StopAllSenders();
        engine.reset();
        api.Unload();
        if (transaction.InTransaction())
            transaction.Commit();
    }

    std::unique_ptr<ibx::TIBDatabase> connection;
    ibx::TIBTransaction transaction;
    RecordingView view;
    std::unique_ptr<TSendingEngine> engine;
    vyr::TvyrAPI api;
    std::array<QString, 4> folders;
};

class SendingEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        win::MessageBridge::Install();
        ASSERT_TRUE(home.isValid());
        testDb = std::make_unique<tavlin::test::TestDatabase>();
        ASSERT_TRUE(tavtest::WriteDbSettings(QString::fromStdString(testDb->Path())));

        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.001); // inquiries end at once
        win::test::SetTimeScale(200);             // a second of delay or sleep takes 5 ms
        for (int kind : {1, 3})
            Plug(kind, true);
        for (int i = 1; i <= PhoneCount; ++i) {
            air::Phone p = tavtest::PushPhone(PhoneAddress(i), "phone " + std::to_string(i), Inbox(i).toStdString());
            if (i == Refusing)
                p.obex.mode = air::ObexMode::Refuse;
            if (i == Silent)
                p.obex.mode = air::ObexMode::Silent;
            air::Air::Instance().AddPhone(p);
        }
    }
    void TearDown() override {
        TCouponClock::NowHook = nullptr;
        window.reset();
        station.reset();
        roads.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
    }

    static void Plug(int kind, bool present) { tavtest::PlugRadio(kind, static_cast<uint8_t>(0x50 + kind), present); }
    QString Inbox(int i) const { return home.filePath("inbox" + QString::number(i)); }
    QStringList Received(int i) const { return QDir(Inbox(i)).entryList(QDir::Files, QDir::Name); }

    // Three campaigns, the lists and the records that make each phone's case, and settings that
    // send at once and put a phone on the temporary black list at its first failure.
    // The phones answer in real time while the station's clock runs 200 times fast: the connect and
    // OBEX time-out (seconds on that clock) must leave a busy machine room to answer; 255 s is 1.3 s real.
    void CreateStation(int connectTimeout = 255) {
        window = std::make_unique<TfmMain>();
        ASSERT_TRUE(window->Connected);
        ASSERT_TRUE(window->vyrAPI.IsLoaded());
        tr = &window->IBTransaction;
        folders = window->SenderFolders;
        FillStation(connectTimeout);
        window->LoadCampaigns();
    }
    // The same station as an engine alone.
    TSendingEngine& CreateEngine(int connectTimeout = 255) {
        station = std::make_unique<WindowlessStation>(*testDb, home.filePath("work"));
        EXPECT_TRUE(station->api.IsLoaded());
        tr = &station->transaction;
        folders = station->folders;
        FillStation(connectTimeout);
        return *station->engine;
    }
    void FillStation(int connectTimeout) {
        // Every road reaches the air's phones; the station keeps the process's one loaded API.
        roads = std::make_unique<tavtest::PhoneRoads>();
        Exec("update SETTINGS set SETTINGS_MAX_CONN = 4, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
             "SETTINGS_CONNECT_TIMEOUT = " +
             std::to_string(connectTimeout) +
             ", SETTINGS_DELAY = 1, "
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
        for (int i = 1; i <= PhoneCount; ++i)
            if (i != NotWhiteListed)
                Exec("insert into WHITE_LIST (WHITE_LIST_ID, WHITE_LIST_MAC, WHITE_LIST_ENABLED) values (" +
                     std::to_string(i) + ", '" + PhoneText(i) + "', 1)");
        Exec("insert into BLACK_LIST (BLACK_LIST_ID, BLACK_LIST_MAC, BLACK_LIST_ENABLED) values (1, '" +
             PhoneText(BlackListed) + "', 1)");
        Exec("insert into DEVICE_LOCKS (DEVICE_LOCKS_DEVICE_MAC, DEVICE_LOCKS_DONGLE_MAC, DEVICE_LOCKS_CAMPAIGNS_ID, "
             "DEVICE_LOCKS_LOCK_TIME) values ('" +
             PhoneText(Busy) + "', '" + OtherStation + "', 1, current_timestamp)");
        Exec("insert into DEVICES (DEVICES_ID, DEVICES_MAC, DEVICES_COUNT) values (101, '" + PhoneText(Served) +
             "', 1)");
        Exec("insert into PROCESSED (PROCESSED_ID, PROCESSED_CAMPAIGNS_ID, PROCESSED_DEVICES_ID) "
             "select 900 + CAMPAIGNS_ID, CAMPAIGNS_ID, 101 from CAMPAIGNS");
        Exec("insert into DEVICES (DEVICES_ID, DEVICES_MAC, DEVICES_COUNT) values (102, '" +
             PhoneText(TempBlackListed) + "', 1)");
        Exec("insert into WORK_BLACK_LIST (WORK_BLACK_LIST_ID, WORK_BLACK_LIST_CAMPAIGNS_ID, "
             "WORK_BLACK_LIST_DEVICES_ID, "
             "WORK_BLACK_LIST_DATE_TIME) select 900 + CAMPAIGNS_ID, CAMPAIGNS_ID, 102, current_timestamp from "
             "CAMPAIGNS");
    }

    void Exec(const std::string& sql) { tavlin::test::ExecCommitted(*tr, sql); }
    int Count(const std::string& sql) {
        ibx::TIBQuery q;
        q.SetTransaction(tr);
        q.SetSQL(sql);
        q.Open();
        const int n = q.Eof() ? 0 : q.Fields(0).AsInteger();
        q.Close();
        return n;
    }
    // Results per phone in HISTORY, as "campaign:result" sorted.
    std::map<std::string, std::multiset<std::string>> History() {
        ibx::TIBQuery q;
        q.SetTransaction(tr);
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
            if (!QDir(folders[size_t(tag)]).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
                return false;
        return true;
    }
    int OurLocks() {
        return Count("select count(*) from CAMPAIGN_LOCKS") +
               Count(std::string("select count(*) from DEVICE_LOCKS where DEVICE_LOCKS_DONGLE_MAC <> '") +
                     OtherStation + "'");
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 30000) { return QTest::qWaitFor(done, ms); }
    QByteArray ReadInbox(int i, const QString& name) const {
        QFile f(Inbox(i) + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Only these phones stay in range.
    static void OnlyInRange(const std::set<int>& phones) {
        for (int i = 1; i <= PhoneCount; ++i)
            air::Air::Instance().SetPhoneInRange(PhoneAddress(i), phones.count(i) > 0);
    }
    void SetCampaignData(int id, const QByteArray& data) {
        ibx::TIBQuery q;
        q.SetTransaction(tr);
        q.SetSQL("update CAMPAIGNS set CAMPAIGNS_DATA = :d where CAMPAIGNS_ID = :id");
        q.ParamByName("d").SetAsBytes(ibx::TBytes(data.begin(), data.end()));
        q.ParamByName("id").SetAsInteger(id);
        q.ExecSQL();
        tr->CommitRetaining();
    }
    // Counts the sender's cycles that reached their sleep.
    static void CountSleeps(vyr::TvyrProximitySender* s, int& sleeps) {
        auto inner = s->OnStartSleep;
        s->OnStartSleep = [inner, &sleeps](vcl::TObject* o) {
            inner(o);
            ++sleeps;
        };
    }

    tavtest::StationHome home;
    std::unique_ptr<tavlin::test::TestDatabase> testDb;
    std::unique_ptr<tavtest::PhoneRoads> roads;
    TMessageBoxScript boxes;
    std::unique_ptr<TfmMain> window;
    std::unique_ptr<WindowlessStation> station;
    ibx::TIBTransaction* tr = nullptr;
    std::array<QString, 4> folders;
};

} // namespace

TEST_F(SendingEngineTest, TwoRadiosServeEveryPhoneAsTheDatabaseDecides) {
    // The silent phone must time out once per campaign, each in a cycle of its own: 100 s (0.5 s real)
    // keeps that short and still gives the good phones twenty times what they ever needed.
    CreateStation(100);
    TfmMain& w = *window;
    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Engine->Running);
    EXPECT_EQ(w.StatusPanelText(1), "Sender is running");
    EXPECT_TRUE(w.Engine->vyrProximitySender1->Active());
    EXPECT_TRUE(w.Engine->vyrProximitySender2->Active());
    EXPECT_FALSE(w.Engine->vyrProximitySender3->Active());

    // Every good phone gets all three campaigns; the refusing and the silent one fail once per
    // campaign and are then on its temporary black list.
    bool sawProcessRows = false;
    const int expectedHistory = int(GoodPhones.size()) * 3 + 2 * 3;
    ASSERT_TRUE(WaitFor([&] {
        sawProcessRows = sawProcessRows || w.lvProcess->topLevelItemCount() > 0;
        return Count("select count(*) from HISTORY") >= expectedHistory;
    })) << Count("select count(*) from HISTORY");
    w.acSenderStop->trigger();
    EXPECT_FALSE(w.Engine->Running);
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
    for (int i : GoodPhones)
        EXPECT_EQ(history.at(PhoneText(i)), allGood) << i;
    EXPECT_EQ(history.at(PhoneText(Refusing)), (std::multiset<std::string>{"1:2", "2:2", "3:2"}));
    EXPECT_EQ(history.at(PhoneText(Silent)), (std::multiset<std::string>{"1:1", "2:1", "3:1"}));
    EXPECT_EQ(int(history.size()), int(GoodPhones.size()) + 2);

    // Served phones got a coupon for the promotion only; the pre-served phone keeps its old records.
    EXPECT_EQ(Count("select count(*) from PROCESSED"), int(GoodPhones.size()) * 3 + 3);
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON is not null"), int(GoodPhones.size()));
    EXPECT_EQ(Count("select count(*) from PROCESSED where PROCESSED_COUPON is not null and "
                    "PROCESSED_CAMPAIGNS_ID <> 3"),
              0);
    EXPECT_EQ(Count("select count(*) from REJECTED r join DEVICES d on d.DEVICES_ID = r.REJECTED_DEVICES_ID "
                    "where d.DEVICES_MAC = '" +
                    PhoneText(Refusing) + "'"),
              3);
    EXPECT_EQ(Count("select count(*) from REJECTED"), 3);
    EXPECT_EQ(Count("select count(*) from IGNORED i join DEVICES d on d.DEVICES_ID = i.IGNORED_DEVICES_ID "
                    "where d.DEVICES_MAC = '" +
                    PhoneText(Silent) + "'"),
              3);
    EXPECT_EQ(Count("select count(*) from IGNORED"), 3);
    EXPECT_EQ(Count("select count(*) from WORK_BLACK_LIST w join DEVICES d on d.DEVICES_ID = "
                    "w.WORK_BLACK_LIST_DEVICES_ID where d.DEVICES_MAC in ('" +
                    PhoneText(Refusing) + "', '" + PhoneText(Silent) + "')"),
              6);
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
    TSendingEngine& e = CreateEngine();
    RecordingView& view = station->view;
    e.Start();
    ASSERT_TRUE(e.Running);
    vyr::TvyrProximitySender* microsoft = e.vyrProximitySender1.get();
    vyr::TvyrProximitySender* widcomm = e.vyrProximitySender2.get();
    ASSERT_TRUE(microsoft->Active() && widcomm->Active());
    ASSERT_EQ(int(widcomm->SendRadio()->Api()), 3);

    Plug(3, false);
    ASSERT_TRUE(WaitFor([&] { return !widcomm->Active(); }, 5000));
    EXPECT_TRUE(microsoft->Active());
    EXPECT_TRUE(e.Running);
    EXPECT_EQ(view.detected[3], "Not detected");
    EXPECT_EQ(view.action[3], "Stopped");
    EXPECT_EQ(widcomm->SendRadio(), nullptr);
    EXPECT_EQ(Count("select count(*) from CAMPAIGN_LOCKS where CAMPAIGN_LOCKS_DONGLE_MAC = '(00:11:22:33:44:53)'"), 0);

    // Back again: an idle sender takes the radio and sends on it.
    Plug(3, true);
    ASSERT_TRUE(WaitFor([&] { return e.AnySenderActive() && widcomm->Active(); }, 5000));
    EXPECT_EQ(int(widcomm->SendRadio()->Api()), 3);
    EXPECT_EQ(view.detected[3], "Detected");
    ASSERT_TRUE(WaitFor([&] { return view.action[3].startsWith("Sending campaign"); }, 5000));
    e.Stop();
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
    TSendingEngine& e = CreateEngine();
    RecordingView& view = station->view;
    e.Start();
    auto sending = [&] {
        return std::any_of(view.rows.begin(), view.rows.end(),
                           [](const QStringList& row) { return row[4] == "Sending"; });
    };
    ASSERT_TRUE(WaitFor(sending, 10000));
    EXPECT_FALSE(e.CampaignContent.SentFiles().empty());
    EXPECT_GT(Count("select count(*) from CAMPAIGN_LOCKS"), 0);
    e.Stop();
    EXPECT_FALSE(e.AnySenderActive());
    EXPECT_EQ(OurLocks(), 0);
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_TRUE(e.CampaignContent.SentFiles().empty());
    EXPECT_TRUE(view.rows.empty());
    // Nothing is recorded for the interrupted pushes afterwards.
    const int history = Count("select count(*) from HISTORY");
    QTest::qWait(100);
    EXPECT_EQ(Count("select count(*) from HISTORY"), history);
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendingEngineTest, StopRightAfterAPushKeepsItsResultAndTheNextStartDoesNotPushAgain) {
    // One campaign. Good1 never answers DISCONNECT; Good2 answers it, later than the operator's stop.
    air::Air::Instance().UpdatePhone(PhoneAddress(Good1), [](air::Phone& p) {
        p.obex.mode = air::ObexMode::SilentAfter;
        p.obex.after = 4; // CONNECT and the file's three PUT packets
    });
    air::Air::Instance().UpdatePhone(PhoneAddress(Good2), [](air::Phone& p) { p.obex.delayMs = 30; });
    TSendingEngine& e = CreateEngine();
    Exec("update CAMPAIGNS set CAMPAIGNS_ENABLED = 0 where CAMPAIGNS_ID <> 1");
    // The operator stops right after a phone's final PUT reply.
    bool stopAfterReply = true;
    int pushes = 0;
    std::map<std::string, std::chrono::steady_clock::time_point> finalReply, result;
    for (auto* s : {e.vyrProximitySender1.get(), e.vyrProximitySender2.get()}) {
        s->OnFileSendComplete = [&](vcl::TObject*, vyr::TvyrBluetoothDevice* d, const std::u16string&, int error) {
            finalReply[vcl::Utf16ToUtf8(d->Address())] = std::chrono::steady_clock::now();
            if (error == 0 && stopAfterReply)
                QTimer::singleShot(0, [&e] { e.Stop(); });
        };
        auto started = s->OnSendStarted;
        s->OnSendStarted = [started, &pushes](vcl::TObject* o, vyr::TvyrBluetoothDevice* d) {
            started(o, d);
            ++pushes;
        };
        auto complete = s->OnSendComplete;
        s->OnSendComplete = [complete, &result](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, int error) {
            result[vcl::Utf16ToUtf8(d->Address())] = std::chrono::steady_clock::now();
            complete(o, d, error);
        };
    }
    for (int phone : {Good1, Good2}) {
        SCOPED_TRACE(phone);
        OnlyInRange({phone});
        e.Start();
        ASSERT_TRUE(WaitFor([&] { return !e.Running; }, 10000));
        EXPECT_EQ(Received(phone), QStringList{"prices.txt"});
        EXPECT_EQ(History()[PhoneText(phone)], std::multiset<std::string>{"1:0"});
        EXPECT_EQ(Count("select count(*) from PROCESSED p join DEVICES d on d.DEVICES_ID = p.PROCESSED_DEVICES_ID "
                        "where d.DEVICES_MAC = '" +
                        PhoneText(phone) + "'"),
                  1);
        const std::string mac = PhoneText(phone);
        EXPECT_LT(result.count(mac) ? result[mac] - finalReply[mac] : std::chrono::steady_clock::duration::max(),
                  std::chrono::seconds(1));
    }
    EXPECT_EQ(pushes, 2);

    // Started again with both in range: the database has them as served, nothing goes out again.
    stopAfterReply = false;
    OnlyInRange({Good1, Good2});
    int sleeps = 0;
    CountSleeps(e.vyrProximitySender1.get(), sleeps);
    e.Start();
    ASSERT_TRUE(WaitFor([&] { return sleeps >= 2; }));
    e.Stop();
    EXPECT_EQ(pushes, 2);
    EXPECT_EQ(Count("select count(*) from HISTORY"), 2);
    EXPECT_EQ(OurLocks(), 0);
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendingEngineTest, PhoneGivenNothingIsFreedForOtherRadiosAtOnce) {
    TSendingEngine& e = CreateEngine();
    // One campaign, a promotion whose stored picture is no JPEG; one phone near one radio.
    Exec("delete from CAMPAIGNS where CAMPAIGNS_ID = 2");
    Exec("update CAMPAIGNS set CAMPAIGNS_ENABLED = 0 where CAMPAIGNS_ID = 1");
    SetCampaignData(3, "GIF89a this is not a JPEG");
    OnlyInRange({Good1});
    Plug(3, false);
    int sleeps = 0;
    CountSleeps(e.vyrProximitySender1.get(), sleeps);
    e.Start();
    ASSERT_TRUE(e.vyrProximitySender1->Active());
    ASSERT_TRUE(WaitFor([&] { return sleeps >= 2; }));

    // Accepted, given nothing: no lock left, no result for a phone never tried, the error said.
    EXPECT_EQ(Count("select count(*) from DEVICE_LOCKS where DEVICE_LOCKS_DEVICE_MAC = '" + PhoneText(Good1) + "'"), 0);
    EXPECT_EQ(Count("select count(*) from HISTORY"), 0);
    EXPECT_EQ(Count("select count(*) from DEVICES where DEVICES_MAC = '" + PhoneText(Good1) + "'"), 1);
    ASSERT_FALSE(boxes.Asked().empty());
    EXPECT_TRUE(boxes.Asked().front().text.startsWith("JPEG error")) << boxes.Asked().front().text.toStdString();
    EXPECT_TRUE(WorkFoldersEmpty());

    // While the first radio goes on failing, a second radio that alone reaches the phone,
    // with the picture mended, serves it.
    // The first radio's cycle under way when the phone goes out of its reach must end first.
    air::Air::Instance().UpdatePhone(PhoneAddress(Good1), [](air::Phone& p) { p.radios = {3}; });
    const int later = sleeps + 2;
    ASSERT_TRUE(WaitFor([&] { return sleeps >= later; }));
    SetCampaignData(3, EncodeJpeg([] {
                        QImage img(40, 40, QImage::Format_RGB888);
                        img.fill(Qt::red);
                        return img;
                    }()));
    Plug(3, true);
    ASSERT_TRUE(WaitFor([&] { return Received(Good1) == QStringList{"promo.jpg"}; }))
        << Received(Good1).join(",").toStdString();
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from HISTORY") == 1; }));
    EXPECT_EQ(Count("select count(*) from HISTORY h join PROCESSED p on p.PROCESSED_DEVICES_ID = h.HISTORY_DEVICES_ID "
                    "where h.HISTORY_RESULT = 0 and p.PROCESSED_CAMPAIGNS_ID = 3 and p.PROCESSED_COUPON is not null"),
              1);

    // Once the senders stopped, the campaign goes.
    e.Stop();
    EXPECT_NO_THROW(Exec("delete from CAMPAIGNS where CAMPAIGNS_ID = 3"));
    EXPECT_EQ(Count("select count(*) from CAMPAIGNS"), 1);
}

TEST_F(SendingEngineTest, LargeFileReachesEveryPhoneUnchanged) {
    TSendingEngine& e = CreateEngine();
    Exec("delete from CAMPAIGNS where CAMPAIGNS_ID in (2, 3)");
    QByteArray clip(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < clip.size(); ++i)
        clip[i] = char((i * 2654435761u) >> 13);
    SetCampaignData(1, clip);
    OnlyInRange(GoodPhones);
    e.Start();
    ASSERT_TRUE(WaitFor([&] { return Count("select count(*) from HISTORY") >= int(GoodPhones.size()); }))
        << Count("select count(*) from HISTORY");
    e.Stop();
    for (int i : GoodPhones) {
        EXPECT_EQ(Received(i), QStringList{"prices.txt"}) << i;
        EXPECT_TRUE(ReadInbox(i, "prices.txt") == clip) << i;
    }
    EXPECT_EQ(Count("select count(*) from HISTORY where HISTORY_RESULT <> 0"), 0);
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_EQ(OurLocks(), 0);
}

TEST_F(SendingEngineTest, WithoutAWindowTheEngineSaysWhatItDoesThroughItsView) {
    Plug(1, false);
    Plug(3, false);
    TSendingEngine& e = CreateEngine();
    RecordingView& view = station->view;
    EXPECT_EQ(view.detected, (std::array<QString, 4>{"Not detected", "Not detected", "Not detected", "Not detected"}));

    // No radio to list: said in a box without an owner, nothing runs.
    e.Start();
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_EQ(boxes.Asked()[0].text, "Unable to enumerated Bluetooth dongles. Check your hardware.");
    EXPECT_FALSE(e.Running);
    EXPECT_FALSE(e.AnySenderActive());
    EXPECT_TRUE(view.state.isEmpty());

    // A radio plugged in while stopped is shown, but nothing starts on it by itself.
    Plug(3, true);
    ASSERT_TRUE(WaitFor([&] { return view.detected[3] == "Detected"; }, 5000));
    EXPECT_EQ(view.detected[1], "Not detected");
    EXPECT_FALSE(e.AnySenderActive());

    OnlyInRange({Good1});
    e.Start();
    EXPECT_TRUE(e.Running);
    EXPECT_EQ(view.state, "Sender is running");
    ASSERT_TRUE(e.vyrProximitySender1->Active());
    EXPECT_EQ(int(e.vyrProximitySender1->SendRadio()->Api()), 3);
    ASSERT_TRUE(WaitFor([&] { return Received(Good1).size() == 3; }));
    EXPECT_GE(view.added, 3); // the phone met once per campaign at least
    e.Stop();
    EXPECT_FALSE(e.Running);
    EXPECT_EQ(view.state, "Sender is stopped");
    EXPECT_EQ(view.action[3], "Stopped");
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(OurLocks(), 0);
    EXPECT_TRUE(WorkFoldersEmpty());
    EXPECT_EQ(boxes.Asked().size(), 1u);
}

TEST_F(SendingEngineTest, StationFollowsItsAirFile) {
    // The station's air as an operator keeps it: a file, edited while sending is on.
    const QString file = home.filePath("air.json");
    auto write = [&](const std::string& text) { std::ofstream(file.toStdString(), std::ios::trunc) << text; };
    auto phone = [&](int i) {
        return "{\"address\": \"" + PhoneText(i) + "\", \"name\": \"phone " + std::to_string(i) +
               "\", \"class\": \"0x5A020C\", \"pairing\": {\"paired\": true}, \"inbox\": \"" + Inbox(i).toStdString() +
               "\"}";
    };
    const std::string head = "{\n\"time_scale\": 0.001,\n\"radios\": [{\"stack\": \"microsoft\", \"address\": "
                             "\"(00:11:22:33:44:51)\"}],\n\"phones\": [\n";
    write(head + phone(Good1) + "\n]}\n");
    std::string error;
    ASSERT_TRUE(air::Air::Instance().LoadFile(file.toStdString(), &error)) << error;
    // The watch looks on the test's own thread, between the station's events, as often as the tests like.
    air::AirFileWatch watch(air::Air::Instance());
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&watch] { watch.Poll(); });
    look.start(50);
    TSendingEngine& e = CreateEngine();
    Exec("delete from CAMPAIGNS where CAMPAIGNS_ID in (2, 3)");
    e.Start();
    ASSERT_TRUE(e.vyrProximitySender1->Active());
    ASSERT_TRUE(WaitFor([&] { return Received(Good1) == QStringList{"prices.txt"}; }));

    // A phone comes near.
    write(head + phone(Good1) + ",\n" + phone(Good2) + "\n]}\n");
    ASSERT_TRUE(WaitFor([&] { return Received(Good2) == QStringList{"prices.txt"}; }, 10000));
    EXPECT_EQ(ReadInbox(Good2, "prices.txt"), "Bread 1.20");

    // A broken edit: said once, with the file and the line; the air stays as it was.
    testing::internal::CaptureStderr();
    write(head + phone(Good1) + ",\n" + phone(Good2) + ",\n" + phone(Good3) + "\n}\n");
    QTest::qWait(600);
    const std::string said = testing::internal::GetCapturedStderr();
    size_t times = 0;
    for (size_t at = said.find("the air file"); at != std::string::npos; at = said.find("the air file", at + 1))
        ++times;
    EXPECT_EQ(times, 1u) << said;
    EXPECT_NE(said.find(file.toStdString()), std::string::npos) << said;
    EXPECT_NE(said.find("line 8"), std::string::npos) << said;
    EXPECT_TRUE(air::Air::Instance().FindPhone(PhoneAddress(Good2)).has_value());
    EXPECT_FALSE(air::Air::Instance().FindPhone(PhoneAddress(Good3)).has_value());
    EXPECT_TRUE(air::Air::Instance().RadioPresent(1));
    EXPECT_TRUE(e.vyrProximitySender1->Active());

    // Mended, with the radio unplugged: the sender on it stops.
    write("{\"radios\": [{\"stack\": \"microsoft\", \"present\": false}], \"phones\": []}");
    ASSERT_TRUE(WaitFor([&] { return !e.vyrProximitySender1->Active(); }, 10000));
    EXPECT_TRUE(e.Running);
    EXPECT_EQ(station->view.detected[1], "Not detected");
    e.Stop();
    EXPECT_EQ(OurLocks(), 0);
}

TEST_F(SendingEngineTest, CampaignsMadeWithTheWizardReachThePhones) {
    CreateStation(100);
    TfmMain& w = *window;
    Exec("delete from PROCESSED");
    Exec("delete from WORK_BLACK_LIST");
    Exec("delete from DEVICE_LOCKS");
    Exec("delete from CAMPAIGNS");
    w.acCampaignsRefresh->trigger();
    ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 0);

    // The operator's three campaigns, one of each kind, made page by page with the wizard.
    const QString clip = home.filePath("prices.txt");
    {
        QFile f(clip);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Bread 1.20\r\nMilk 0.90\r\n");
    }
    const QString photo = home.filePath("summer.jpg");
    {
        QImage img(200, 120, QImage::Format_RGB888);
        img.fill(QColor(40, 120, 200));
        QFile f(photo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(EncodeJpeg(img));
    }
    int kind = 0;
    w.CampaignList->ShowWizardHook = [&](TfmWizard& wz) {
        wz.btNext->click();
        wz.edName->setText(QStringList{"Prices", "Card", "Summer"}[kind]);
        wz.cbEnabled->click();
        wz.btNext->click();
        wz.btNext->click(); // continuous
        (kind == 0 ? wz.cbFileBased : kind == 1 ? wz.cbvCardBased : wz.cbPromotion)->click();
        wz.btNext->click();
        TOpenDialog::ExecuteHook = [&](QWidget*, const TOpenDialog&) { return kind == 0 ? clip : photo; };
        if (kind == 0) {
            wz.sbLoad->click();
        } else if (kind == 1) {
            wz.edCompanyName->setText("Shop");
            wz.edSendAs->setText("shop");
        } else {
            wz.sbSelectFile->click();
            wz.edPromoMsg->setText("10% off");
        }
        TOpenDialog::ExecuteHook = nullptr;
        wz.btNext->click();
        wz.btNext->click(); // Finish
        return wz.result();
    };
    for (kind = 0; kind < 3; ++kind)
        w.acAddWizard->trigger();
    ASSERT_EQ(w.lvCampaigns->topLevelItemCount(), 3);
    QStringList rows;
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* row = w.lvCampaigns->topLevelItem(i);
        rows << row->text(0) + "/" + row->text(1) + "/" + row->text(2) + "/" + row->text(3);
    }
    EXPECT_EQ(rows, (QStringList{"Prices/File/Continuous/Yes", "Card/Text/Continuous/Yes",
                                 "Summer/Promotion/Continuous/Yes"}));
    EXPECT_TRUE(boxes.Asked().empty());

    w.acSenderStart->trigger();
    ASSERT_TRUE(w.Engine->Running);
    ASSERT_TRUE(WaitFor([&] {
        for (int i : GoodPhones)
            if (Received(i).size() < 3)
                return false;
        return true;
    })) << Received(Good1).join(',').toStdString();
    w.acSenderStop->trigger();
    EXPECT_EQ(Received(Good1), (QStringList{"prices.txt", "shop.vcf", "summer.jpg"}));
    QFile file(Inbox(Good1) + "/prices.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "Bread 1.20\r\nMilk 0.90\r\n");
    QFile card(Inbox(Good1) + "/shop.vcf");
    ASSERT_TRUE(card.open(QIODevice::ReadOnly));
    EXPECT_EQ(card.readAll(), CampaignCard("Shop", "", "", ""));
    QFile promo(Inbox(Good1) + "/summer.jpg");
    ASSERT_TRUE(promo.open(QIODevice::ReadOnly));
    EXPECT_EQ(DecodeJpeg(promo.readAll()).size(), QSize(176, 220));
}

// Runs the operator's steps in the coupon check the action opens, then closes it.
static void WithCouponCheck(QAction* action, const std::function<void(TfmCheckCoupon&)>& steps) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<TfmCheckCoupon*>(QApplication::activeModalWidget());
        if (!d || ran)
            return;
        ran = true;
        steps(*d);
        d->btClose->click();
    });
    poll.start();
    action->trigger();
    EXPECT_TRUE(ran);
}

TEST_F(SendingEngineTest, CouponOnAPhonesPictureIsCheckedAndRedeemedAtTheCounter) {
    CreateStation();
    TfmMain& w = *window;
    const std::string couponOfGood1 = "select p.PROCESSED_COUPON from PROCESSED p join DEVICES d on d.DEVICES_ID = "
                                      "p.PROCESSED_DEVICES_ID where p.PROCESSED_COUPON is not null and d.DEVICES_MAC "
                                      "= '" +
                                      PhoneText(Good1) + "'";
    w.acSenderStart->trigger();
    ASSERT_TRUE(WaitFor([&] { return Count(couponOfGood1) != 0; }));
    w.acSenderStop->trigger();
    const qint32 coupon = Count(couponOfGood1);
    const QString code = CouponText(coupon);
    ibx::TIBQuery q;
    q.SetTransaction(&w.IBTransaction);
    q.SetSQL("select PROCESSED_DATE_TIME, PROCESSED_VALID_TO from PROCESSED where PROCESSED_COUPON = " +
             std::to_string(coupon));
    q.Open();
    const ibx::TDateTime t = q.Fields(0).AsDateTime();
    EXPECT_EQ(q.Fields(1).AsInteger(), 48);
    q.Close();
    const QDateTime sent(QDate(t.Date.Year, t.Date.Month, t.Date.Day),
                         QTime(t.Time.Hour, t.Time.Minute, t.Time.Second, t.Time.Fraction / 10));

    // The phone's picture is the promotion with exactly this code drawn on it.
    QFile received(Inbox(Good1) + "/promo.jpg");
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    const QByteArray picture = received.readAll();
    TPromoText text;
    text.Message = QStringLiteral("10% off");
    text.Font = TPromoFont{QStringLiteral("Sans"), 10, PromoStyleBold, 0};
    text.HAlign = text.VAlign = 1;
    text.Coupon = code;
    EXPECT_EQ(picture, RenderPromoPicture(QByteArray(), text));
    text.Coupon = CouponText(coupon ^ 1);
    EXPECT_NE(picture, RenderPromoPicture(QByteArray(), text));

    // An hour later the customer shows the code; the operator types it in lower case and redeems it.
    TCouponClock::NowHook = [sent] { return sent.addSecs(3600); };
    auto values = [](const TfmCheckCoupon& d) {
        QStringList v;
        for (int i = 0; i < d.ListView->topLevelItemCount(); ++i)
            v << d.ListView->topLevelItem(i)->text(1);
        return v;
    };
    WithCouponCheck(w.acToolsCheckCoupon, [&](TfmCheckCoupon& d) {
        d.edCode->setText(code.toLower());
        d.btCheck->click();
        EXPECT_EQ(values(d), (QStringList{"Coupon", QString::fromStdString(PhoneText(Good1)), "phone 1",
                                          DateTimeText(sent), DateTimeText(sent.addSecs(48 * 3600))}));
        EXPECT_TRUE(d.btUse->isEnabled());
        d.btUse->click();
        EXPECT_EQ(values(d).value(4), "Already used");
    });
    // Shown again, another time: already used, nothing to redeem.
    WithCouponCheck(w.acToolsCheckCoupon, [&](TfmCheckCoupon& d) {
        d.edCode->setText(code);
        d.btCheck->click();
        EXPECT_EQ(values(d).value(4), "Already used");
        EXPECT_FALSE(d.btUse->isEnabled());
    });
    EXPECT_EQ(Count("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_COUPON = " + std::to_string(coupon)), 0);
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
            if (w.lvCampaigns->topLevelItem(i)->text(0) == campaign)
                w.lvCampaigns->topLevelItem(i)->setSelected(true);
        w.UpdateActions();
    };
    std::map<QString, int> opened;
    // Opens a dialog from its menu command, works on it once it is up and closes it.
    const auto open = [&](QAction* command, const std::function<void(QDialog&)>& act) {
        bool shown = false;
        // A report reads before it is worked on, in the event loop, shown or not yet.
        QTimer poll;
        poll.start(5);
        QObject::connect(&poll, &QTimer::timeout, &w, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            const auto* report = qobject_cast<TReportDialog*>(dialog);
            if (!dialog || shown || (report && report->Reading()))
                return;
            shown = true;
            poll.stop();
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
            if (list->topLevelItem(i)->text(3).size() == 8 && list->topLevelItem(i)->text(4) == "48")
                ++coupons;
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
                                    "and d.DEVICES_MAC = '" +
                                    PhoneText(Good1) + "'";
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
                    "p.PROCESSED_CAMPAIGNS_ID = 1 and d.DEVICES_MAC = '" +
                    PhoneText(Good1) + "'"),
              0);
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

TEST_F(SendingEngineTest, AKeptResultInTheWayHoldsBackNoOtherAndItsPhoneWaitsForIt) {
    TSendingEngine& e = CreateEngine();
    Exec("update CAMPAIGNS set CAMPAIGNS_ENABLED = 0 where CAMPAIGNS_ID <> 1");
    // Kept: Good1's ignored push, then Good2's successful one. Good1's earlier write is still
    // open on another attachment (one the server has not let go, say).
    const QDateTime t = QDateTime::currentDateTime();
    for (int phone : {Good1, Good2})
        e.KeptResults.Add(
            {QString::fromStdString(PhoneText(phone)), 1, phone == Good1 ? 1 : 0, "(00:11:22:33:44:51)", t});
    Exec("insert into DEVICES (DEVICES_MAC, DEVICES_COUNT) values ('" + PhoneText(Good1) + "', 1)");
    auto other = testDb->Connect();
    ibx::TIBTransaction held;
    held.SetDefaultDatabase(other.get());
    held.StartTransaction();
    ibx::TIBStoredProc write;
    write.SetTransaction(&held);
    write.SetStoredProcName("SET_DEVICE");
    write.ParamByName("MAC").SetAsString(PhoneText(Good1));
    write.ParamByName("CAMPAIGN_ID").SetAsInteger(1);
    write.ParamByName("RESULT").SetAsInteger(1);
    write.ParamByName("PUSH_KEY").SetAsWideString(TKeptResults::PushKey(e.KeptResults.Results()[0]).toStdU16String());
    write.ExecProc();
    EXPECT_FALSE(e.WriteKeptResults());
    EXPECT_EQ(History()[PhoneText(Good2)], std::multiset<std::string>{"1:0"});
    ASSERT_EQ(e.KeptResults.Results().size(), 1u);

    // Sending meanwhile: Good1 is busy and gets nothing; Good3's result does not wait behind it.
    OnlyInRange({Good1, Good3});
    const auto& rows = station->view.rows;
    bool busy = false, keptBehind = false;
    for (auto* s : {e.vyrProximitySender1.get(), e.vyrProximitySender2.get()})
        s->OnSendComplete = [&e, &keptBehind, complete = s->OnSendComplete](auto* o, auto* d, int error) {
            complete(o, d, error);
            keptBehind = keptBehind || e.KeptResults.Results().size() > 1;
        };
    e.Start();
    ASSERT_TRUE(WaitFor([&] {
        busy = busy || std::any_of(rows.begin(), rows.end(), [](const QStringList& row) {
                   return row[0].toStdString() == PhoneText(Good1) && row[4] == "Busy by other interface";
               });
        return busy && !History()[PhoneText(Good3)].empty();
    }));
    EXPECT_TRUE(Received(Good1).isEmpty());
    EXPECT_FALSE(keptBehind);
    // Once the earlier write is rolled back, the result goes in at the next sleep.
    held.Rollback();
    ASSERT_TRUE(WaitFor([&] { return e.KeptResults.Empty(); }));
    e.Stop();
    EXPECT_EQ(History()[PhoneText(Good1)], std::multiset<std::string>{"1:1"});
    EXPECT_TRUE(Received(Good1).isEmpty());
    EXPECT_TRUE(boxes.Asked().empty());
}

TEST_F(SendingEngineTest, AWishToSendKeptThroughAnOutageEndsStoppedWithoutARadio) {
    TSendingEngine& e = CreateEngine();
    e.LoseConnection("gone");
    e.Start();
    EXPECT_EQ(station->view.state, "Waiting for the database to start sending");
    Plug(1, false);
    Plug(3, false);
    ASSERT_TRUE(WaitFor([&] { return !e.ConnectionLost(); }));
    EXPECT_FALSE(e.Running);
    EXPECT_EQ(station->view.state, "Sender is stopped");
    ASSERT_EQ(boxes.Asked().size(), 1u);
    EXPECT_EQ(boxes.Asked()[0].text, "Unable to enumerated Bluetooth dongles. Check your hardware.");
}
