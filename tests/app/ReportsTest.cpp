// The record reports and the results chart on the embedded database, filled through the
// procedures the station itself calls; a long report read through a private server.
#include "EditorTestSupport.h"
#include "PrivateServer.h"
#include "accepted.h"
#include "bl.h"
#include "campchart.h"
#include "details.h"
#include "history.h"
#include "ignored.h"
#include "rejected.h"
#include "strings.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

using namespace tavlin::test;

namespace {

const char* const Dongle = "(00:11:22:33:44:51)";

std::string Mac(int i) {
    char text[24];
    std::snprintf(text, sizeof text, "(00:1E:3A:00:01:%02X)", i);
    return text;
}

class ReportsTest : public EditorSuite {
protected:
    void SetUp() override {
        EditorSuite::SetUp();
        for (const char* table : {"HISTORY", "PROCESSED", "REJECTED", "IGNORED", "WORK_BLACK_LIST", "DEVICE_LOCKS",
                                  "CAMPAIGN_LOCKS", "DEVICES", "CAMPAIGNS"})
            Exec(std::string("delete from ") + table);
        // No list stands in the way; a device reaches the temporary black list at its third failure.
        Exec("update SETTINGS set SETTINGS_USE_BL = 0, SETTINGS_USE_WL = 0, SETTINGS_BL_TIMEOUT = 24, "
             "SETTINGS_REJECT_RETRY = 2, SETTINGS_IGNORE_RETRY = 2");
    }

    static int AddCampaign(const std::string& name, int validIn = -1) {
        ibx::TIBStoredProc& sp = Call("ADD_CAMPAIGN", {{"CAMPAIGNS_NAME", name},
                                                       {"CAMPAIGNS_SCHEDULE", 0},
                                                       {"CAMPAIGNS_TYPE", 0},
                                                       {"CAMPAIGNS_FILE_NAME", "a.txt"}});
        const int id = sp.ParamByName("CAMPAIGNS_ID").AsInteger();
        if (validIn >= 0) {
            Call("UPDATE_CAMPAIGN", {{"CAMPAIGNS_ID", id},
                                     {"CAMPAIGNS_NAME", name},
                                     {"CAMPAIGNS_SCHEDULE", 0},
                                     {"CAMPAIGNS_FILE_NAME", "a.txt"},
                                     {"CAMPAIGNS_USE_COUPON", 1},
                                     {"CAMPAIGNS_VALID_IN", validIn}});
        }
        return id;
    }
    // One push as the station makes it: the device is checked and accepted, gets a coupon
    // when asked for (a chosen number stands in for the random one), and its result is recorded.
    static void Send(int device, int campaign, int result, std::optional<int> coupon = std::nullopt) {
        ibx::TIBStoredProc& check = Call("CHECK_DEVICE", {{"MAC", Mac(device)},
                                                          {"NAME", "phone " + std::to_string(device)},
                                                          {"COD", 0x5A020C},
                                                          {"CAMPAIGN_ID", campaign},
                                                          {"DONGLE_MAC", Dongle}});
        ASSERT_EQ(check.ParamByName("STATUS").AsInteger(), 5) << device;
        if (coupon) {
            Call("GEN_COUPON_CODE", {{"MAC", Mac(device)}});
            Exec("update DEVICE_LOCKS set DEVICE_LOCKS_COUPON = " + std::to_string(*coupon) +
                 " where DEVICE_LOCKS_DEVICE_MAC = '" + Mac(device) + "'");
        }
        Call("SET_DEVICE", {{"MAC", Mac(device)}, {"CAMPAIGN_ID", campaign}, {"RESULT", result}, {"DONGLE", Dongle}});
    }
    static int Count(const std::string& sql) { return Scalar(sql).AsInteger(); }

    static QStringList Row(const TReportDialog& r, int i) {
        QStringList texts;
        const QTreeWidgetItem* item = r.ListView->topLevelItem(i);
        for (int c = 0; c < r.ListView->columnCount(); ++c)
            texts << item->text(c);
        return texts;
    }
    static QStringList Column(const TReportDialog& r, int c) {
        QStringList texts;
        for (int i = 0; i < r.ListView->topLevelItemCount(); ++i)
            texts << r.ListView->topLevelItem(i)->text(c);
        return texts;
    }
    static QString Stamp(const std::string& sql) {
        const ibx::TDateTime t = Scalar(sql).AsDateTime();
        return DateTimeToStr(QDateTime(QDate(t.Date.Year, t.Date.Month, t.Date.Day),
                                       QTime(t.Time.Hour, t.Time.Minute, t.Time.Second, t.Time.Fraction / 10)));
    }
    static void Select(TReportDialog& r, int i) {
        r.ListView->setCurrentItem(r.ListView->topLevelItem(i));
        r.acDeleteUpdate();
    }

    // A commit fails while the flag is set, as a database that refuses the work at its end
    // would. The flag is a sequence, which every attachment sees at once: reports read on
    // attachments of their own.
    static void InstallCommitFault() {
        Exec("create sequence TEST_FAIL_COMMIT");
        Exec("create or alter trigger TEST_COMMIT_FAULT active on transaction commit as begin "
             "if (gen_id(TEST_FAIL_COMMIT, 0) <> 0) then exception E_INVALID_VALUE 'commit refused'; end");
    }
    static void CommitFault(bool on) {
        Scalar(std::string("select gen_id(TEST_FAIL_COMMIT, ") + (on ? "1" : "0") +
               " - gen_id(TEST_FAIL_COMMIT, 0)) from rdb$database");
    }
    static void RemoveCommitFault() {
        Exec("drop trigger TEST_COMMIT_FAULT");
        Exec("drop sequence TEST_FAIL_COMMIT");
    }
};

QString Str(const StrKey& k) {
    return QString::fromUtf8(k.text);
}

} // namespace

TEST_F(ReportsTest, AcceptedShowsCouponsAsHexAndNullsAsEmpty) {
    const int promo = AddCampaign("Promo", 48);
    const int other = AddCampaign("Other");
    Send(1, promo, 0, 255);
    Send(2, promo, 0, -1);
    Send(3, promo, 0);
    Send(4, promo, 0, 0x1234ABCD);
    Send(5, other, 0);
    // The coupon check marks a used coupon with zero hours left.
    Exec("update PROCESSED set PROCESSED_VALID_TO = 0 where PROCESSED_COUPON = 305441741");

    TfmAccepted report(conn_);
    report.SetCampaign(promo);
    EXPECT_FALSE(report.IBTransaction.InTransaction());
    ASSERT_EQ(report.ListView->topLevelItemCount(), 4);
    std::map<QString, QStringList> rows;
    for (int i = 0; i < 4; ++i)
        rows[Row(report, i)[0]] = Row(report, i);
    const auto when = [](int device) {
        return Stamp("select PROCESSED_DATE_TIME from PROCESSED join DEVICES on DEVICES_ID = PROCESSED_DEVICES_ID "
                     "where DEVICES_MAC = '" +
                     Mac(device) + "'");
    };
    EXPECT_EQ(rows[QString::fromStdString(Mac(1))],
              QStringList({QString::fromStdString(Mac(1)), "phone 1", when(1), "000000FF", "48"}));
    EXPECT_EQ(rows[QString::fromStdString(Mac(2))][3], "FFFFFFFF");
    EXPECT_EQ(rows[QString::fromStdString(Mac(3))].mid(3), QStringList({"", ""}));
    EXPECT_EQ(rows[QString::fromStdString(Mac(4))].mid(3), QStringList({"1234ABCD", "0"}));

    // Oldest first.
    Exec("update PROCESSED set PROCESSED_DATE_TIME = dateadd(-1 day to PROCESSED_DATE_TIME) where "
         "PROCESSED_COUPON = 305441741");
    report.acRefresh->trigger();
    EXPECT_EQ(Row(report, 0)[3], "1234ABCD");
    EXPECT_EQ(report.ListView->topLevelItemCount(), 4);
    EXPECT_TRUE(boxes_->Asked().empty());
}

TEST_F(ReportsTest, FailureReportsShowAttemptsLastSeenAndBlackList) {
    const int id = AddCampaign("Card");
    Send(3, id, 2);
    Send(3, id, 2);
    Send(1, id, 2);
    Send(2, id, 1);
    for (int i = 0; i < 3; ++i)
        Send(4, id, 1); // the third time onto the black list
    const auto lastSeen = [](int device) {
        return Stamp("select DEVICES_LAST_TIME from DEVICES where DEVICES_MAC = '" + Mac(device) + "'");
    };

    TfmRejected rejected(conn_);
    rejected.SetCampaign(id);
    ASSERT_EQ(rejected.ListView->topLevelItemCount(), 2);
    EXPECT_EQ(Row(rejected, 0), QStringList({QString::fromStdString(Mac(1)), "phone 1", lastSeen(1), "1"}));
    EXPECT_EQ(Row(rejected, 1), QStringList({QString::fromStdString(Mac(3)), "phone 3", lastSeen(3), "2"}));

    TfmIgnored ignored(conn_);
    ignored.SetCampaign(id);
    EXPECT_EQ(Column(ignored, 0), QStringList({QString::fromStdString(Mac(2)), QString::fromStdString(Mac(4))}));
    EXPECT_EQ(Column(ignored, 3), QStringList({"1", "3"}));
    EXPECT_EQ(Column(ignored, 2), QStringList({lastSeen(2), lastSeen(4)}));

    TfmBl bl(conn_);
    bl.SetCampaign(id);
    ASSERT_EQ(bl.ListView->topLevelItemCount(), 1);
    EXPECT_EQ(Row(bl, 0), QStringList({QString::fromStdString(Mac(4)), "phone 4",
                                       Stamp("select WORK_BLACK_LIST_DATE_TIME from WORK_BLACK_LIST")}));

    TfmHistory history(conn_);
    EXPECT_EQ(history.findChild<QPushButton*>("btDelete"), nullptr);
    history.SetCampaign(id);
    ASSERT_EQ(history.ListView->topLevelItemCount(), 7);
    EXPECT_EQ(Column(history, 3).count("Rejected"), 3);
    EXPECT_EQ(Column(history, 3).count("Ignored"), 4);
    EXPECT_TRUE(boxes_->Asked().empty());
}

TEST_F(ReportsTest, DetailsGroupPerCampaignDeviceAndResultWithRejectedFirst) {
    const int a = AddCampaign("Alpha");
    const int b = AddCampaign("Beta");
    Send(7, a, 2);
    Send(7, a, 2);
    Send(7, a, 0);
    Send(7, b, 1);
    Send(6, b, 0);

    TfmDetails details(conn_); // filled on creation
    ASSERT_EQ(details.ListView->topLevelItemCount(), 4);
    const QString seven = QString::fromStdString(Mac(7));
    const QString first = Stamp("select DEVICES_FIRST_TIME from DEVICES where DEVICES_MAC = '" + Mac(7) + "'");
    const QString last = Stamp("select DEVICES_LAST_TIME from DEVICES where DEVICES_MAC = '" + Mac(7) + "'");
    const QString appears =
        QString::number(Count("select DEVICES_COUNT from DEVICES where DEVICES_MAC = '" + Mac(7) + "'"));
    EXPECT_EQ(Row(details, 0),
              QStringList({"Alpha", seven, "phone 7", "005A020C", first, last, appears, "2", "Rejected"}));
    EXPECT_EQ(Row(details, 1),
              QStringList({"Alpha", seven, "phone 7", "005A020C", first, last, appears, "1", "Success"}));
    EXPECT_EQ(Row(details, 2).mid(0, 2), QStringList({"Beta", QString::fromStdString(Mac(6))}));
    EXPECT_EQ(Row(details, 2)[8], "Success");
    EXPECT_EQ(Row(details, 3)[8], "Ignored");
}

TEST_F(ReportsTest, DeleteRemovesExactlyTheSelectedRecordAfterYes) {
    const int id = AddCampaign("Shop", 12);
    for (int d = 1; d <= 3; ++d)
        Send(d, id, 0, 100 + d);
    for (int d = 4; d <= 6; ++d)
        for (int i = 0; i < 3; ++i)
            Send(d, id, 2); // rejected three times: on the black list
    for (int d = 7; d <= 9; ++d)
        Send(d, id, 1);

    // An empty report offers no delete.
    TfmAccepted empty(conn_);
    empty.SetCampaign(id + 1000);
    EXPECT_FALSE(empty.acDelete->isEnabled());
    EXPECT_FALSE(empty.btDelete->isEnabled());
    empty.acDelete->trigger();
    EXPECT_TRUE(boxes_->Asked().empty());

    TfmAccepted accepted(conn_);
    TfmRejected rejected(conn_);
    TfmIgnored ignored(conn_);
    TfmBl bl(conn_);
    const std::pair<TReportDialog*, const char*> reports[] = {
        {&accepted, "PROCESSED"}, {&rejected, "REJECTED"}, {&ignored, "IGNORED"}, {&bl, "WORK_BLACK_LIST"}};
    accepted.SetCampaign(id);
    rejected.SetCampaign(id);
    ignored.SetCampaign(id);
    bl.SetCampaign(id);
    for (const auto& [report, table] : reports) {
        SCOPED_TRACE(table);
        const std::string count = std::string("select count(*) from ") + table;
        ASSERT_EQ(report->ListView->topLevelItemCount(), 3);
        EXPECT_FALSE(report->acDelete->isEnabled());
        const QStringList before = Column(*report, 0);
        Select(*report, 1);
        EXPECT_TRUE(report->acDelete->isEnabled());
        EXPECT_TRUE(report->btDelete->isEnabled());
        const int chosen = TReportDialog::RowId(report->ListView->topLevelItem(1));

        boxes_->Clear();
        boxes_->Answer(TMsgResult::No);
        report->acDelete->trigger();
        EXPECT_EQ(Shown(), QStringList{Str(STR_DELETE_DEVICE)});
        EXPECT_EQ(Count(count), 3);
        EXPECT_EQ(report->ListView->topLevelItemCount(), 3);

        boxes_->Answer(TMsgResult::Yes);
        report->btDelete->click();
        EXPECT_EQ(Count(count), 2);
        EXPECT_EQ(Count(count + " where " + table + "_ID = " + std::to_string(chosen)), 0);
        EXPECT_EQ(Column(*report, 0), QStringList({before[0], before[2]}));
        EXPECT_FALSE(report->acDelete->isEnabled());
        EXPECT_FALSE(report->IBTransaction.InTransaction());
    }
    // The delete touched nothing but its record.
    EXPECT_EQ(Count("select count(*) from HISTORY"), 3 + 9 + 3);
    EXPECT_EQ(boxes_->Unexpected(), 0);
}

TEST_F(ReportsTest, AfterADatabaseErrorTheNextRefreshAndDeleteWork) {
    const int id = AddCampaign("Shop");
    Send(1, id, 0);
    Send(2, id, 0);
    InstallCommitFault();
    TfmAccepted report(conn_);
    report.SetCampaign(id);
    ASSERT_EQ(report.ListView->topLevelItemCount(), 2);

    // A failed refresh shows no half list and leaves no transaction behind.
    CommitFault(true);
    EXPECT_THROW(report.acRefreshExecute(), std::exception);
    CommitFault(false);
    EXPECT_FALSE(report.IBTransaction.InTransaction());
    EXPECT_EQ(report.ListView->topLevelItemCount(), 0);
    report.acRefreshExecute();
    ASSERT_EQ(report.ListView->topLevelItemCount(), 2);

    // A failed delete keeps the record and its row.
    Select(report, 0);
    boxes_->Answer(TMsgResult::Yes);
    CommitFault(true);
    EXPECT_THROW(report.acDeleteExecute(), std::exception);
    CommitFault(false);
    EXPECT_FALSE(report.IBTransaction.InTransaction());
    EXPECT_EQ(report.ListView->topLevelItemCount(), 2);
    EXPECT_EQ(Count("select count(*) from PROCESSED"), 2);

    // From the button the error is shown, not thrown.
    boxes_->Clear();
    CommitFault(true);
    report.btRefresh->click();
    CommitFault(false);
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Error);
    EXPECT_TRUE(boxes_->Asked()[0].text.contains("commit refused")) << boxes_->Asked()[0].text.toStdString();

    report.btRefresh->click();
    ASSERT_EQ(report.ListView->topLevelItemCount(), 2);
    Select(report, 0);
    boxes_->Answer(TMsgResult::Yes);
    report.acDelete->trigger();
    EXPECT_EQ(report.ListView->topLevelItemCount(), 1);
    EXPECT_EQ(Count("select count(*) from PROCESSED"), 1);

    // The chart the same way.
    CommitFault(true);
    EXPECT_THROW(TfmChart{conn_}, std::exception);
    CommitFault(false);
    TfmChart chart(conn_);
    ASSERT_EQ(chart.CampChart->chart()->series().size(), 1);
    boxes_->Clear();
    CommitFault(true);
    chart.btRefresh->click();
    CommitFault(false);
    EXPECT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_TRUE(chart.CampChart->chart()->series().isEmpty());
    EXPECT_FALSE(chart.IBTransaction.InTransaction());
    chart.acRefresh->trigger();
    EXPECT_EQ(chart.CampChart->chart()->series().size(), 1);
    RemoveCommitFault();
}

TEST_F(ReportsTest, ChartDrawsOneLinePerCampaignAndRefreshReplacesThem) {
    const auto points = [](QAbstractSeries* s) {
        QList<qreal> ys;
        for (const QPointF& p : static_cast<QLineSeries*>(s)->points())
            ys << p.y();
        return ys;
    };
    {
        TfmChart none(conn_);
        EXPECT_TRUE(none.CampChart->chart()->series().isEmpty());
    }
    const int shop = AddCampaign("Shop");
    const int card = AddCampaign("Card");
    AddCampaign("Twin");
    AddCampaign("Twin");
    Send(1, shop, 0);
    Send(2, shop, 0);
    Send(3, shop, 1);
    Send(1, card, 2);
    // A result this station never writes, from an older or foreign writer: not counted.
    Exec("alter table HISTORY drop constraint CHK_HISTORY_RESULT");
    Exec("insert into HISTORY (HISTORY_ID, HISTORY_CAMPAIGNS_ID, HISTORY_DEVICES_ID, HISTORY_DATE_TIME, "
         "HISTORY_RESULT) select 99999, " +
         std::to_string(shop) +
         ", DEVICES_ID, current_timestamp, 5 from DEVICES "
         "where DEVICES_MAC = '" +
         Mac(1) + "'");

    TfmChart chart(conn_);
    QChart* c = chart.CampChart->chart();
    EXPECT_TRUE(c->legend()->isVisible());
    ASSERT_EQ(c->series().size(), 4);
    EXPECT_EQ(c->series()[0]->name(), "Card");
    EXPECT_EQ(points(c->series()[0]), QList<qreal>({0, 0, 1}));
    EXPECT_EQ(c->series()[1]->name(), "Shop");
    EXPECT_EQ(points(c->series()[1]), QList<qreal>({2, 1, 0}));
    EXPECT_EQ(c->series()[2]->name(), "Twin");
    EXPECT_EQ(c->series()[3]->name(), "Twin");
    EXPECT_EQ(points(c->series()[3]), QList<qreal>({0, 0, 0}));
    const auto axes = c->axes(Qt::Horizontal);
    ASSERT_EQ(axes.size(), 1);
    EXPECT_EQ(static_cast<QBarCategoryAxis*>(axes[0])->categories(), QStringList({"Success", "Ignored", "Rejected"}));

    // The history report names the foreign result.
    TfmHistory history(conn_);
    history.SetCampaign(shop);
    EXPECT_EQ(Column(history, 3).count("Unknown"), 1);
    Exec("delete from HISTORY where HISTORY_RESULT not between 0 and 2");
    Exec("alter table HISTORY add constraint CHK_HISTORY_RESULT check (HISTORY_RESULT between 0 and 2)");

    // New sends and a new campaign: the series are replaced, not added to.
    QPointer<QAbstractSeries> old = c->series()[0];
    Send(4, card, 0);
    AddCampaign("Extra");
    chart.acRefresh->trigger();
    EXPECT_TRUE(old.isNull());
    ASSERT_EQ(c->series().size(), 5);
    EXPECT_EQ(points(c->series()[0]), QList<qreal>({1, 0, 1}));
    EXPECT_EQ(c->series()[1]->name(), "Extra");
    EXPECT_TRUE(boxes_->Asked().empty());
}

namespace {

// A report whose query keeps the server busy for seconds before its only row.
const TReportSpec Slow{"fmSlow",
                       "Slow",
                       "Slow",
                       "select count(*) as n from rdb$types a, rdb$types b, rdb$types c, "
                       "(select first 2 1 as x from rdb$types) d",
                       false,
                       nullptr,
                       nullptr,
                       {{"Rows", 80}},
                       [](const ibx::TIBQuery& q) { return QStringList{FieldDecimal(q, "n")}; }};

class TSlowReport : public TReportDialog {
public:
    explicit TSlowReport(ibx::TIBDatabase* db) : TReportDialog(Slow, db, nullptr) {}
};

} // namespace

TEST_F(ReportsTest, ALongReadKeepsTheWindowAndTheSharedAttachmentFreeAndCanBeCancelled) {
    std::unique_ptr<PrivateServer> server;
    ASSERT_NO_THROW(server = std::make_unique<PrivateServer>());
    const std::unique_ptr<ibx::TIBDatabase> station = server->Connect();
    station->SetCallTimeout(std::chrono::seconds(2));
    ibx::TIBTransaction tr;
    tr.SetDefaultDatabase(station.get());
    ibx::TIBQuery quick;
    quick.SetTransaction(&tr);
    quick.SetSQL("select count(*) from rdb$types");
    // While a read runs: the window's timer ticks and each tick's query on the shared attachment
    // takes this long at most.
    int ticks = 0;
    qint64 slowest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ++ticks;
        QElapsedTimer t;
        t.start();
        EXPECT_NO_THROW({
            tr.StartTransaction();
            quick.Open();
            EXPECT_GT(quick.Fields(0).AsInteger(), 0);
            tr.Commit();
        });
        slowest = std::max(slowest, t.elapsed());
    });
    tick.start(100);

    TSlowReport report(station.get());
    QElapsedTimer clock;
    clock.start();
    report.acRefreshExecute();
    const qint64 took = clock.elapsed();
    EXPECT_GT(took, 3000); // longer than the call time-out
    ASSERT_EQ(report.ListView->topLevelItemCount(), 1);
    EXPECT_GT(report.ListView->topLevelItem(0)->text(0).toLongLong(), 1000000);
    EXPECT_GT(ticks, took / 200);
    EXPECT_LT(slowest, 500);
    EXPECT_FALSE(report.btCancel->isVisibleTo(&report));

    // Cancelled from its button a second into the read; a Refresh meanwhile is ignored.
    QTimer::singleShot(1000, &report, [&] {
        EXPECT_TRUE(report.btCancel->isVisibleTo(&report));
        EXPECT_EQ(report.laStatus->text(), Str(STR_READING_REPORT));
        EXPECT_FALSE(report.btRefresh->isEnabled());
        report.acRefreshExecute();
        clock.restart();
        report.btCancel->click();
    });
    report.btRefresh->click();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(report.ListView->topLevelItemCount(), 0);
    EXPECT_TRUE(report.laStatus->text().isEmpty());
    EXPECT_TRUE(report.btRefresh->isEnabled());

    // Closing cancels too; a dialog that goes away during its read ends it first.
    clock.restart();
    QTimer::singleShot(500, &report, [&] { report.btClose->click(); });
    report.acRefreshExecute();
    EXPECT_EQ(report.ListView->topLevelItemCount(), 0);
    auto* gone = new TSlowReport(station.get());
    QTimer::singleShot(500, gone, [gone] { delete gone; });
    gone->acRefreshExecute();
    EXPECT_LT(clock.elapsed(), 2000);

    EXPECT_TRUE(boxes_->Asked().empty());
    EXPECT_TRUE(station->Connected());
    EXPECT_EQ(station->CallsCut(), 0u);
    tick.stop();
}
