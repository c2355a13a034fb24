#include "bl.h"

namespace {

const TReportSpec Spec{
    "fmBl",
    "Temporary black list",
    "Temporary black list for campaign ",
    "select work_black_list_id, devices_mac, devices_name, work_black_list_date_time "
    "from work_black_list, devices where work_black_list_campaigns_id = :id "
    "and devices_id = work_black_list_devices_id order by devices_mac",
    true,
    "delete from work_black_list where work_black_list_id = :id;",
    "work_black_list_id",
    {{"MAC", 150}, {"Name", 150}, {"Date time", 150}},
    [](const ibx::TIBQuery& q) {
        return QStringList{FieldText(q, "devices_mac"), FieldText(q, "devices_name"),
                           FieldDateTime(q, "work_black_list_date_time")};
    },
};

} // namespace

TfmBl::TfmBl(ibx::TIBDatabase* db, QWidget* parent) : TReportDialog(Spec, db, parent) {}
