// The coupon check on the embedded database with a fixed clock: which texts are codes,
// when a coupon runs out, redeeming it, and the dialog after a database error.
#include "EditorTestSupport.h"
#include "ScopedEnv.h"
#include "checkcoupon.h"
#include "promopicture.h"
#include "strings.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

using namespace tavlin::test;

namespace {

QDateTime At(int day, int hour, int minute, int second = 0) {
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second));
}

class CheckCouponTest : public EditorSuite {
protected:
    static void SetUpTestSuite() {
        DatabaseSuite::SetUpTestSuite();
        Exec("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE) "
             "values (7001, 'Spring sale', 2, 0)");
        Exec("insert into DEVICES (DEVICES_ID, DEVICES_MAC, DEVICES_NAME) values (7001, '(00:1E:3A:00:00:01)', "
             "'Anna''s phone')");
        // id, coupon, valid hours; all sent on 15 March at 10:00.
        const char* rows[] = {"7001, 31, 24",         // "1F"
                              "7002, -1, 1",          // "FFFFFFFF"
                              "7003, 2748, 0",        // "ABC", used
                              "7004, 2749, null",     // "ABD", no validity: used
                              "7005, 2147483647, 48", // "7FFFFFFF"
                              "7006, 2750, 48"};      // "ABE"
        for (const char* r : rows)
            Exec(std::string("insert into PROCESSED (PROCESSED_ID, PROCESSED_COUPON, PROCESSED_VALID_TO, "
                             "PROCESSED_CAMPAIGNS_ID, PROCESSED_DEVICES_ID, PROCESSED_DATE_TIME) values (") +
                 r + ", 7001, 7001, '2024-03-15 10:00:00')");
    }
    void SetUp() override {
        EditorSuite::SetUp();
        now_ = At(15, 12, 0);
        TCouponClock::NowHook = [this] { return now_; };
    }
    void TearDown() override {
        TCouponClock::NowHook = nullptr;
        EditorSuite::TearDown();
    }

    // Types the code and presses Check; the texts of the result rows' values.
    static QStringList CheckCode(TfmCheckCoupon& d, const QString& code) {
        d.edCode->setText(code);
        d.btCheck->click();
        QStringList values;
        for (int i = 0; i < d.ListView->topLevelItemCount(); ++i)
            values << d.ListView->topLevelItem(i)->text(1);
        return values;
    }
    static QString Verdict(TfmCheckCoupon& d, const QString& code) {
        const QStringList values = CheckCode(d, code);
        return values.size() == 5 ? values[4] : QStringLiteral("<%1 rows>").arg(values.size());
    }

    QDateTime now_;
};

QString Str(const StrKey& k) {
    return QString::fromUtf8(k.text);
}

} // namespace

TEST(CouponCode, OnlyWhatTheStationPrintsIsACode) {
    for (const char* same : {"1F", "1f", "0000001F", "000000000000001f"})
        EXPECT_EQ(ParseCouponText(same), 31) << same;
    EXPECT_EQ(ParseCouponText("FFFFFFFF"), -1);
    EXPECT_EQ(ParseCouponText("ffffffff"), -1);
    EXPECT_EQ(ParseCouponText("80000000"), INT32_MIN);
    EXPECT_EQ(ParseCouponText("0"), 0);
    // What the usual converters would take (signs, blanks, a prefix, a ninth digit) is no code here.
    for (const char* bad :
         {"", "0x1F", "0X1F", " 1F", "1F ", "1 F", "-1", "+1", "123456789", "1FFFFFFFF", "G", "1G", "\t1F", "1F\n"})
        EXPECT_FALSE(ParseCouponText(bad).has_value()) << '"' << bad << '"';
    EXPECT_FALSE(ParseCouponText(QString::fromUtf16(u"\uFF11\uFF26")).has_value()); // full-width "1F"
    EXPECT_FALSE(ParseCouponText(QString(1000, QLatin1Char('0')) + "G").has_value());
    EXPECT_EQ(ParseCouponText(QString(1000, QLatin1Char('0')) + "1F"), 31);

    EXPECT_EQ(CouponValidTill(At(15, 10, 0), 1), ClockReading(At(15, 11, 0)));
    EXPECT_EQ(CouponValidTill(At(15, 10, 0), 24), ClockReading(At(16, 10, 0)));
}

TEST_F(CheckCouponTest, FoundCouponShowsItsTransferAndValidity) {
    TfmCheckCoupon d(conn_);
    EXPECT_EQ(d.objectName(), "fmCheckCoupon");
    EXPECT_EQ(d.windowTitle(), "Check coupon code");
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(d.CouponRecordId, 0);

    now_ = At(16, 9, 59, 59);
    EXPECT_EQ(CheckCode(d, "1f"), (QStringList{"Spring sale", "(00:1E:3A:00:00:01)", "Anna's phone",
                                               DateTimeText(At(15, 10, 0)), DateTimeText(At(16, 10, 0))}));
    EXPECT_EQ(d.ListView->topLevelItem(0)->text(0), Str(STR_CAMPAING_NAME));
    EXPECT_EQ(d.ListView->topLevelItem(3)->text(0), Str(STR_SEND_TIME));
    EXPECT_EQ(d.ListView->topLevelItem(4)->text(0), Str(STR_VALID_TILL));
    { // Grid lines, as the other lists have: the line under a row is not the row's background.
        d.show();
        const QImage shot = d.ListView->viewport()->grab().toImage();
        const QRect row = d.ListView->visualItemRect(d.ListView->topLevelItem(0));
        EXPECT_NE(shot.pixel(170, row.bottom()), shot.pixel(170, row.center().y()));
        const QString dir = QCoreApplication::applicationDirPath() + "/../screenshots";
        QDir().mkpath(dir);
        EXPECT_TRUE(d.grab().save(dir + "/fmCheckCoupon-result.png"));
        d.hide();
    }
    EXPECT_EQ(d.CouponRecordId, 7001);
    EXPECT_TRUE(d.btUse->isEnabled());
    EXPECT_TRUE(DateTimeText(At(16, 10, 0)).endsWith("10:00:00"));

    // At the very end of the validity it is over.
    now_ = At(16, 10, 0);
    EXPECT_EQ(Verdict(d, "0000001F"), Str(STR_EXPIRED));
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(d.CouponRecordId, 7001);

    // One hour is one hour, not nothing.
    now_ = At(15, 10, 59, 59);
    EXPECT_EQ(Verdict(d, "FFFFFFFF"), DateTimeText(At(15, 11, 0)));
    EXPECT_TRUE(d.btUse->isEnabled());
    now_ = At(15, 11, 0);
    EXPECT_EQ(Verdict(d, "ffffffff"), Str(STR_EXPIRED));

    // No validity left, or none recorded: used.
    now_ = At(15, 10, 0);
    EXPECT_EQ(Verdict(d, "abc"), Str(STR_USED));
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(Verdict(d, "ABD"), Str(STR_USED));
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_TRUE(boxes_->Asked().empty());
}

TEST_F(CheckCouponTest, UseRedeemsOnceAndTheRecordStays) {
    TfmCheckCoupon d(conn_);
    EXPECT_EQ(Verdict(d, "7fffffff"), DateTimeText(At(17, 10, 0)));
    ASSERT_TRUE(d.btUse->isEnabled());
    d.btUse->click();
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(d.ListView->topLevelItem(4)->text(1), Str(STR_USED));
    EXPECT_EQ(d.ListView->topLevelItemCount(), 5);
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7005"), "0");
    EXPECT_EQ(Text("select count(*) from PROCESSED where PROCESSED_COUPON = 2147483647"), "1");
    EXPECT_FALSE(d.IBTransaction.InTransaction());

    EXPECT_EQ(Verdict(d, "7FFFFFFF"), Str(STR_USED));
    EXPECT_FALSE(d.btUse->isEnabled());
    // Only the redeemed record changed.
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7001"), "24");
    EXPECT_TRUE(boxes_->Asked().empty());
}

TEST_F(CheckCouponTest, FailedChecksLeaveNothingToUse) {
    TfmCheckCoupon d(conn_);
    ASSERT_EQ(CheckCode(d, "1F").size(), 5);
    ASSERT_TRUE(d.btUse->isEnabled());

    // Not found: a warning, an empty list.
    EXPECT_TRUE(CheckCode(d, "DEADBEEF").isEmpty());
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(d.CouponRecordId, 0);
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Warning);
    EXPECT_EQ(boxes_->Asked()[0].text, Str(STR_COUPON_NOT_FOUND));

    ASSERT_EQ(CheckCode(d, "1F").size(), 5);
    EXPECT_TRUE(CheckCode(d, "0x1F").isEmpty());
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(d.CouponRecordId, 0);
    ASSERT_EQ(boxes_->Asked().size(), 2u);
    EXPECT_EQ(boxes_->Asked()[1].type, TMsgDlgType::Error);
    EXPECT_EQ(boxes_->Asked()[1].text, Str(STR_INVALID_CODE));
    d.btUse->click(); // nothing to redeem
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7001"), "24");

    // An invalid code never reaches the database: on a closed connection it still gets its own message.
    ibx::TIBDatabase closed;
    TfmCheckCoupon offline(&closed);
    boxes_->Clear();
    for (const char* bad : {"", " 1F", "-1", "+1", "123456789", "G"})
        CheckCode(offline, bad);
    ASSERT_EQ(boxes_->Asked().size(), 6u);
    for (const TMsgRecord& r : boxes_->Asked())
        EXPECT_EQ(r.text, Str(STR_INVALID_CODE));
    boxes_->Clear();
    CheckCode(offline, "1F");
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_NE(boxes_->Asked()[0].text, Str(STR_INVALID_CODE)); // the database's own error
}

TEST_F(CheckCouponTest, DatabaseErrorLeavesTheDialogUsable) {
    const std::unique_ptr<ibx::TIBDatabase> counter = db_->Connect();
    TfmCheckCoupon d(counter.get());
    ASSERT_EQ(Verdict(d, "ABE"), DateTimeText(At(17, 10, 0)));

    // The connection is gone: the redemption fails with the error, and nothing is decided.
    counter->Close();
    d.btUse->click();
    ASSERT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Error);
    EXPECT_TRUE(d.btUse->isEnabled());
    EXPECT_FALSE(d.IBTransaction.InTransaction());
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7006"), "48");

    // The next click works: nothing of the failed one is left in the way.
    counter->Open();
    d.btUse->click();
    EXPECT_EQ(boxes_->Asked().size(), 1u);
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(Verdict(d, "ABE"), Str(STR_USED));
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7006"), "0");
}

TEST_F(CheckCouponTest, UseMeetingAnotherCountersRedemptionIsNotRedeemed) {
    Exec("insert into PROCESSED (PROCESSED_ID, PROCESSED_COUPON, PROCESSED_VALID_TO, PROCESSED_CAMPAIGNS_ID, "
         "PROCESSED_DEVICES_ID, PROCESSED_DATE_TIME) values (7013, 2763, 48, 7001, 7001, '2024-03-15 10:00:00')");
    TfmCheckCoupon d(conn_);
    ASSERT_EQ(Verdict(d, "ACB"), DateTimeText(At(17, 10, 0)));

    // The other counter, on its own connection, has redeemed it a moment earlier and not yet committed.
    const std::unique_ptr<ibx::TIBDatabase> counter = db_->Connect();
    ibx::TIBTransaction other;
    other.SetDefaultDatabase(counter.get());
    other.SetParams({"read_committed", "rec_version", "nowait"});
    other.StartTransaction();
    ibx::TIBQuery use;
    use.SetTransaction(&other);
    use.SetSQL("update PROCESSED set PROCESSED_VALID_TO = 0 where PROCESSED_ID = 7013 and PROCESSED_VALID_TO <> 0");
    use.ExecSQL();
    ASSERT_EQ(use.RowsAffected(), 1);

    d.btUse->click();
    ASSERT_EQ(Shown(), QStringList{Str(STR_COUPON_NOT_REDEEMED)});
    EXPECT_EQ(boxes_->Asked()[0].type, TMsgDlgType::Warning);
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_FALSE(d.IBTransaction.InTransaction());
    // Its state as it reads until the other commits.
    EXPECT_EQ(d.ListView->topLevelItem(4)->text(1), DateTimeText(At(17, 10, 0)));

    other.Commit();
    EXPECT_EQ(Verdict(d, "ACB"), Str(STR_USED));
    EXPECT_FALSE(d.btUse->isEnabled());
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7013"), "0");
    EXPECT_EQ(boxes_->Asked().size(), 1u);
}

TEST_F(CheckCouponTest, ValidityRunsOnTheLocalClockAcrossSummerTime) {
    // Sent the day before the clocks go forward, and the day before they go back.
    Exec("insert into PROCESSED (PROCESSED_ID, PROCESSED_COUPON, PROCESSED_VALID_TO, PROCESSED_CAMPAIGNS_ID, "
         "PROCESSED_DEVICES_ID, PROCESSED_DATE_TIME) values (7010, 2760, 24, 7001, 7001, '2024-03-30 10:00:00')");
    Exec("insert into PROCESSED (PROCESSED_ID, PROCESSED_COUPON, PROCESSED_VALID_TO, PROCESSED_CAMPAIGNS_ID, "
         "PROCESSED_DEVICES_ID, PROCESSED_DATE_TIME) values (7011, 2761, 24, 7001, 7001, '2024-10-26 10:00:00')");
    const tavtest::ScopedEnv zone("TZ", "Europe/Berlin");
    TfmCheckCoupon d(conn_);
    for (const QDate day : {QDate(2024, 3, 31), QDate(2024, 10, 27)}) {
        const QString code = day.month() == 3 ? "AC8" : "AC9";
        now_ = QDateTime(day, QTime(9, 59, 59));
        const QString till = Verdict(d, code);
        EXPECT_EQ(till, DateTimeText(QDateTime(day, QTime(10, 0)))) << code.toStdString();
        EXPECT_TRUE(till.endsWith("10:00:00")) << till.toStdString();
        EXPECT_TRUE(d.btUse->isEnabled());
        now_ = QDateTime(day, QTime(10, 0));
        EXPECT_EQ(Verdict(d, code), Str(STR_EXPIRED)) << code.toStdString();
        EXPECT_FALSE(d.btUse->isEnabled());
    }
    // Use counts the same way: a second before the end it still redeems.
    now_ = QDateTime(QDate(2024, 3, 31), QTime(9, 59, 59));
    Verdict(d, "AC8");
    d.btUse->click();
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7010"), "0");
    EXPECT_TRUE(boxes_->Asked().empty());
}

TEST_F(CheckCouponTest, UseRedeemsOnlyWhatIsStillValid) {
    Exec("insert into PROCESSED (PROCESSED_ID, PROCESSED_COUPON, PROCESSED_VALID_TO, PROCESSED_CAMPAIGNS_ID, "
         "PROCESSED_DEVICES_ID, PROCESSED_DATE_TIME) values (7012, 2762, 3, 7001, 7001, '2024-03-15 10:00:00')");
    // Two counters check the same coupon; the first redeems it, the second is refused.
    TfmCheckCoupon first(conn_), second(conn_);
    ASSERT_EQ(Verdict(first, "ACA"), DateTimeText(At(15, 13, 0)));
    ASSERT_EQ(Verdict(second, "ACA"), DateTimeText(At(15, 13, 0)));
    first.btUse->click();
    EXPECT_TRUE(boxes_->Asked().empty());
    second.btUse->click();
    EXPECT_EQ(second.ListView->topLevelItem(4)->text(1), Str(STR_USED));
    EXPECT_FALSE(second.btUse->isEnabled());
    EXPECT_EQ(Shown(), QStringList{Str(STR_COUPON_NOT_REDEEMED)});

    // Checked while valid, used after its end: nothing changes, and it reads expired.
    Exec("update PROCESSED set PROCESSED_VALID_TO = 3 where PROCESSED_ID = 7012");
    now_ = At(15, 12, 59, 59);
    ASSERT_EQ(Verdict(first, "ACA"), DateTimeText(At(15, 13, 0)));
    now_ = At(15, 13, 0);
    first.btUse->click();
    EXPECT_EQ(first.ListView->topLevelItem(4)->text(1), Str(STR_EXPIRED));
    EXPECT_FALSE(first.btUse->isEnabled());
    EXPECT_EQ(Text("select PROCESSED_VALID_TO from PROCESSED where PROCESSED_ID = 7012"), "3");
    EXPECT_EQ(Shown().size(), 2);
}
