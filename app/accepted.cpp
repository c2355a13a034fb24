#include "accepted.h"

#include "promopicture.h"

namespace {

const TReportSpec Spec{
    "fmAccepted",
    "Accepted devices",
    "Accepted devices for campaign ",
    "select processed_id, processed_date_time, devices_mac, devices_name, processed_coupon, processed_valid_to "
    "from processed, devices where processed_campaigns_id = :id and devices_id = processed_devices_id "
    "order by processed_date_time",
    true,
    "delete from processed where processed_id = :id;",
    "processed_id",
    {{"MAC", 150}, {"Name", 150}, {"Date time", 180}, {"Coupon", 100}, {"Valid hours", 80}},
    [](const ibx::TIBQuery& q) {
        const ibx::TIBXSQLVAR& coupon = q.FieldByName("processed_coupon");
        return QStringList{FieldText(q, "devices_mac"), FieldText(q, "devices_name"),
                           FieldDateTime(q, "processed_date_time"),
                           coupon.IsNull() ? QString() : CouponText(qint32(coupon.AsInteger())),
                           FieldDecimal(q, "processed_valid_to")};
    },
};

} // namespace

TfmAccepted::TfmAccepted(ibx::TIBDatabase* db, QWidget* parent) : TReportDialog(Spec, db, parent) {}
