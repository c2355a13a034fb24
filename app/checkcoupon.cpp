#include "checkcoupon.h"
#include "transactionguard.h"

#include "ibx/IBError.h"
#include "listlook.h"
#include "msgbox.h"
#include "promopicture.h"
#include "strings.h"
#include "translation.h"
#include "ui_checkcoupon.h"

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const char* const CheckSql =
    "select processed_id, campaigns_name, PROCESSED_DATE_TIME, devices_mac, devices_name, PROCESSED_VALID_TO "
    "from PROCESSED, CAMPAIGNS, DEVICES"
    "\n"
    "where (CAMPAIGNS_ID = PROCESSED_CAMPAIGNS_ID) and (devices_id = PROCESSED_DEVICES_ID) and "
    "(PROCESSED_COUPON = :coupon);";

// Redeems only a coupon still valid at :now, so of two counters redeeming one coupon only
// the first succeeds. Validity is counted on the clock's readings, as the check counts it.
const char* const UseSql =
    "update processed set processed_valid_to = 0 where processed_id = :id and processed_valid_to <> 0 and "
    "datediff(millisecond from processed_date_time to cast(:now as timestamp)) < processed_valid_to * 3600000;";

// What a coupon the redemption did not take now is.
const char* const StateSql = "select PROCESSED_VALID_TO, PROCESSED_DATE_TIME from PROCESSED where PROCESSED_ID = :id;";

// Row of the result list that carries the verdict.
constexpr int VerdictRow = 4;

// The database keeps the clock's readings, without a zone.
QDateTime FieldDateTime(const ibx::TIBXSQLVAR& f) {
    if (f.IsNull())
        return QDateTime();
    const ibx::TDateTime t = f.AsDateTime();
    return QDateTime(QDate(t.Date.Year, t.Date.Month, t.Date.Day),
                     QTime(t.Time.Hour, t.Time.Minute, t.Time.Second, t.Time.Fraction / 10), Qt::UTC);
}

ibx::TDateTime ToIb(const QDateTime& reading) {
    const QDate d = reading.date();
    const QTime t = reading.time();
    return ibx::TDateTime{{d.year(), d.month(), d.day()}, {t.hour(), t.minute(), t.second(), t.msec() * 10}};
}

QString FieldText(const ibx::TIBXSQLVAR& f) {
    return QString::fromStdString(f.AsString());
}

// The verdict row's value: used, expired, or the end of the validity.
QString VerdictText(TCouponState state, const QDateTime& sent, qint64 validHours) {
    switch (state) {
    case TCouponState::Used:
        return TranslateText(STR_USED);
    case TCouponState::Expired:
        return TranslateText(STR_EXPIRED);
    case TCouponState::Valid:
        break;
    }
    return DateTimeText(CouponValidTill(sent, validHours));
}

} // namespace

std::function<QDateTime()> TCouponClock::NowHook;

QDateTime TCouponClock::Now() {
    return NowHook ? NowHook() : QDateTime::currentDateTime();
}

QString DateTimeText(const QDateTime& t) {
    if (!t.isValid())
        return QString();
    const QLocale locale;
    return locale.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           t.time().toString(QStringLiteral("HH:mm:ss"));
}

QDateTime ClockReading(const QDateTime& t) {
    // UTC only as a zone that never shifts: the date and time stay as the clock showed them.
    return t.isValid() ? QDateTime(t.date(), t.time(), Qt::UTC) : QDateTime();
}

QDateTime CouponValidTill(const QDateTime& sent, qint64 validHours) {
    // Counted on the clock, not in elapsed time: a day's coupon ends at the hour it was sent,
    // also across a change to or from summer time. Whole hours, so one hour is not nothing.
    return ClockReading(sent).addSecs(validHours * 3600);
}

TCouponState CouponState(const QDateTime& sent, qint64 validHours, const QDateTime& now) {
    if (validHours == 0)
        return TCouponState::Used;
    // Without a send time the validity cannot be told, so it is never offered for use.
    if (!sent.isValid() || ClockReading(now) >= CouponValidTill(sent, validHours))
        return TCouponState::Expired;
    return TCouponState::Valid;
}

TfmCheckCoupon::TfmCheckCoupon(ibx::TIBDatabase* db, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfmCheckCoupon>()) {
    ui_->setupUi(this);
    edCode = ui_->edCode;
    btCheck = ui_->btCheck;
    btUse = ui_->btUse;
    btClose = ui_->btClose;
    ListView = ui_->ListView;
    ListView->setColumnWidth(0, 180);
    ListView->setColumnWidth(1, 180);
    SetReportListLook(ListView);

    IBTransaction.SetName(u"IBTransaction");
    IBTransaction.SetDefaultDatabase(db);
    IBTransaction.SetParams({"read_committed", "rec_version", "nowait"});
    quCheck.SetName(u"quCheck");
    quCheck.SetDatabase(db);
    quCheck.SetTransaction(&IBTransaction);
    quCheck.SetSQL(CheckSql);
    quUse.SetName(u"quUse");
    quUse.SetDatabase(db);
    quUse.SetTransaction(&IBTransaction);
    quUse.SetSQL(UseSql);
    quState.SetName(u"quState");
    quState.SetDatabase(db);
    quState.SetTransaction(&IBTransaction);
    quState.SetSQL(StateSql);

    connect(btCheck, &QPushButton::clicked, this, &TfmCheckCoupon::btCheckClick);
    connect(btUse, &QPushButton::clicked, this, &TfmCheckCoupon::btUseClick);
    // "Close" is the cancel button but ends the dialog with OK, as Escape does.
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate();
}

TfmCheckCoupon::~TfmCheckCoupon() {
    RollbackQuietly(IBTransaction);
}

void TfmCheckCoupon::FormCreate() {
    CouponRecordId = 0;
}

void TfmCheckCoupon::FormShow() {
    TranslateForm(this);
}

void TfmCheckCoupon::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TfmCheckCoupon::AddRow(const QString& label, const QString& value) {
    new QTreeWidgetItem(ListView, QStringList{label, value});
}

void TfmCheckCoupon::btCheckClick() {
    try {
        Check();
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
}

void TfmCheckCoupon::Check() {
    CouponRecordId = 0;
    ListView->clear();
    btUse->setEnabled(false);

    const std::optional<qint32> coupon = ParseCouponText(edCode->text());
    if (!coupon) {
        ErrorOK(this, TranslateText(STR_INVALID_CODE));
        return;
    }

    bool found = false;
    int id = 0;
    QString campaign, mac, name;
    QDateTime sent;
    qint64 validHours = 0;
    // Each step commits, or rolls back on its way out, so the next click starts afresh.
    {
        TTransactionGuard transaction(IBTransaction);
        quCheck.ParamByName("coupon").SetAsInteger(*coupon);
        quCheck.Open();
        quCheck.FetchAll();
        quCheck.First();
        if (!quCheck.Eof()) {
            // Two records with one number: the first the query returns is the one shown.
            found = true;
            id = quCheck.FieldByName("processed_id").AsInteger();
            campaign = FieldText(quCheck.FieldByName("campaigns_name"));
            mac = FieldText(quCheck.FieldByName("devices_mac"));
            name = FieldText(quCheck.FieldByName("devices_name"));
            sent = FieldDateTime(quCheck.FieldByName("PROCESSED_DATE_TIME"));
            validHours = quCheck.FieldByName("PROCESSED_VALID_TO").AsInt64(); // NULL reads as 0: used
        }
        quCheck.Close();
        transaction.Commit();
    }
    if (!found) {
        WarningOK(this, TranslateText(STR_COUPON_NOT_FOUND));
        return;
    }

    CouponRecordId = id;
    AddRow(TranslateText(STR_CAMPAING_NAME), campaign);
    AddRow(TranslateText(STR_DEVICE_MAC), mac);
    AddRow(TranslateText(STR_DEVICE_NAME), name);
    AddRow(TranslateText(STR_SEND_TIME), DateTimeText(sent));
    const TCouponState state = CouponState(sent, validHours, TCouponClock::Now());
    AddRow(TranslateText(STR_VALID_TILL), VerdictText(state, sent, validHours));
    btUse->setEnabled(state == TCouponState::Valid);
}

void TfmCheckCoupon::btUseClick() {
    try {
        Use();
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
}

void TfmCheckCoupon::Use() {
    if (CouponRecordId <= 0)
        return;
    const QDateTime now = TCouponClock::Now();
    bool redeemed = false, contested = false, gone = false;
    QDateTime sent;
    qint64 validHours = 0;
    {
        TTransactionGuard transaction(IBTransaction);
        quUse.ParamByName("id").SetAsInteger(CouponRecordId);
        quUse.ParamByName("now").SetAsDateTime(ToIb(ClockReading(now)));
        try {
            quUse.ExecSQL();
            redeemed = quUse.RowsAffected() > 0;
        } catch (const std::exception& e) {
            if (!ibx::IsPassingConflict(e))
                throw;
            // Another counter is redeeming it this very moment: not ours to redeem. What it
            // reads as is read afresh.
            contested = true;
            IBTransaction.Rollback();
            IBTransaction.StartTransaction();
        }
        if (!redeemed) {
            // Another counter redeemed it, or its time ran out, since the check.
            quState.ParamByName("id").SetAsInteger(CouponRecordId);
            quState.Open();
            gone = quState.Eof();
            if (!gone) {
                sent = FieldDateTime(quState.FieldByName("PROCESSED_DATE_TIME"));
                validHours = quState.FieldByName("PROCESSED_VALID_TO").AsInt64();
            }
            quState.Close();
        }
        transaction.Commit();
    }
    btUse->setEnabled(false);
    if (gone) {
        // The record was deleted meanwhile: the coupon is no more to be found.
        CouponRecordId = 0;
        ListView->clear();
        WarningOK(this, TranslateText(STR_COUPON_NOT_FOUND));
        return;
    }
    QTreeWidgetItem* verdict = ListView->topLevelItem(VerdictRow);
    if (!verdict)
        return;
    if (redeemed) {
        verdict->setText(1, TranslateText(STR_USED));
        return;
    }
    const TCouponState state = CouponState(sent, validHours, now);
    if (state == TCouponState::Valid && !contested) {
        // Changed meanwhile and valid again: offered once more.
        verdict->setText(1, VerdictText(state, sent, validHours));
        btUse->setEnabled(true);
        return;
    }
    // Met on another counter's redemption it may still read valid until that one commits; Use
    // stays off all the same, and a new Check shows how that redemption ended.
    verdict->setText(1, VerdictText(state, sent, validHours));
    WarningOK(this, TranslateText(STR_COUPON_NOT_REDEEMED));
}
