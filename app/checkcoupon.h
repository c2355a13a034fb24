// The coupon check: the operator types the code a customer shows, sees the transfer it
// was issued with and whether it is still valid, and redeems it with Use.
//
// A coupon is valid for PROCESSED_VALID_TO hours from its send time, counted on the local
// clock; 0 (or no value) means it has been used. Use redeems it only while it is still
// valid, so two counters cannot both redeem one coupon; one that meets the other's redemption
// under way is refused like one that comes after it. Each look-up and each redemption
// runs in a transaction of its own, so nothing is held open between clicks.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"

#include <QDateTime>
#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class TfmCheckCoupon;
}
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The coupon check's "now"; tests fix it.
struct TCouponClock {
    static std::function<QDateTime()> NowHook;
    static QDateTime Now();
};

// A date and time as the station shows it: the short date and the time with seconds.
QString DateTimeText(const QDateTime& t);

// The date and time a clock shows at t, held in UTC so that no zone shifts them; readings
// compare and count as the clock does, also across a change to or from summer time.
QDateTime ClockReading(const QDateTime& t);

// The end of a coupon's validity, as a clock reading: the send time's reading plus that many
// whole hours.
QDateTime CouponValidTill(const QDateTime& sent, qint64 validHours);

// What a coupon is at now: 0 hours means used; at or after its end it has expired.
enum class TCouponState { Used, Expired, Valid };
TCouponState CouponState(const QDateTime& sent, qint64 validHours, const QDateTime& now);

class TfmCheckCoupon : public QDialog {
    Q_OBJECT

public:
    TfmCheckCoupon(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmCheckCoupon() override;

    // Components under their published names.
    QLineEdit* edCode = nullptr;
    QPushButton *btCheck = nullptr, *btUse = nullptr, *btClose = nullptr;
    QTreeWidget* ListView = nullptr;

    ibx::TIBTransaction IBTransaction;
    ibx::TIBQuery quCheck, quUse, quState;

    // processed_id of the coupon the last check found; 0 when none.
    int CouponRecordId = 0;

    void btCheckClick();
    void btUseClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormCreate();
    void FormShow();
    void Check();
    void Use();
    void AddRow(const QString& label, const QString& value);

    std::unique_ptr<Ui::TfmCheckCoupon> ui_;
};
