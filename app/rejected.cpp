#include "rejected.h"

namespace {

const TReportSpec Spec{
    "fmRejected",
    "Rejected devices",
    "Rejected devices for campaign ",
    "select rejected_id, devices_mac, devices_name, rejected_attempt, devices_last_time "
    "from rejected, devices where rejected_campaigns_id = :id and devices_id = rejected_devices_id "
    "order by devices_mac",
    true,
    "delete from rejected where rejected_id = :id;",
    "rejected_id",
    {{"MAC", 150}, {"Name", 150}, {"Last seen", 150}, {"Attempts", 80}},
    [](const ibx::TIBQuery& q) {
        return QStringList{FieldText(q, "devices_mac"), FieldText(q, "devices_name"),
                           FieldDateTime(q, "devices_last_time"), FieldDecimal(q, "rejected_attempt")};
    },
};

} // namespace

TfmRejected::TfmRejected(ibx::TIBDatabase* db, QWidget* parent) : TReportDialog(Spec, db, parent) {}
