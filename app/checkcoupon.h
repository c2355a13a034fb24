// The coupon check: the operator types the code a customer shows, sees the transfer it
// was issued with and whether it is still valid, and redeems it with Use.
//
// A coupon is valid for PROCESSED_VALID_TO hours from its send time; 0 (or no value)
// means it has been used. Each look-up and each redemption runs in a transaction of
// its own, so nothing is held open between clicks.
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

// The end of a coupon's validity: the send time plus that many whole hours.
QDateTime CouponValidTill(const QDateTime& sent, qint64 validHours);

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
    ibx::TIBQuery quCheck, quUse;

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
