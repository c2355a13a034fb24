#include "ignored.h"

namespace {

const TReportSpec Spec{
    "fmIgnored",
    "Ignored devices",
    "Ignored devices for campaign ",
    "select ignored_id, devices_mac, devices_name, ignored_attempt, devices_last_time "
    "from ignored, devices where ignored_campaigns_id = :id and devices_id = ignored_devices_id "
    "order by devices_mac",
    true,
    "delete from ignored where ignored_id = :id;",
    "ignored_id",
    {{"MAC", 150}, {"Name", 150}, {"Last seen", 150}, {"Attempts", 80}},
    [](const ibx::TIBQuery& q) {
        return QStringList{FieldText(q, "devices_mac"), FieldText(q, "devices_name"),
                           FieldDateTime(q, "devices_last_time"), FieldDecimal(q, "ignored_attempt")};
    },
};

} // namespace

TfmIgnored::TfmIgnored(ibx::TIBDatabase* db, QWidget* parent) : TReportDialog(Spec, db, parent) {}
