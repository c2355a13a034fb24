#include "details.h"

namespace {

const TReportSpec Spec{
    "fmDetails",
    "Details per campaigns",
    "Details per campaigns",
    "select campaigns_name, devices_name, devices_mac, devices_cod, devices_first_time, devices_last_time, "
    "devices_count, count(history_result) as result_count, history_result "
    "from history, campaigns, devices where campaigns_id = history_campaigns_id and devices_id = history_devices_id "
    "group by campaigns_name, devices_name, devices_mac, devices_cod, devices_first_time, devices_last_time, "
    "devices_count, history_result "
    "order by campaigns_name, devices_mac, history_result desc",
    false,
    nullptr,
    nullptr,
    {{"Campaign name", 120},
     {"MAC", 120},
     {"Name", 120},
     {"Class Of Device", 100},
     {"First seen", 80},
     {"Last seen", 80},
     {"Appears", 80},
     {"Result count", 90},
     {"Result", 80}},
    [](const ibx::TIBQuery& q) {
        return QStringList{FieldText(q, "campaigns_name"),
                           FieldText(q, "devices_mac"),
                           FieldText(q, "devices_name"),
                           FieldHex8(q, "devices_cod"),
                           FieldDateTime(q, "devices_first_time"),
                           FieldDateTime(q, "devices_last_time"),
                           FieldDecimal(q, "devices_count"),
                           FieldDecimal(q, "result_count"),
                           ResultText(q.FieldByName("history_result").AsInteger())};
    },
};

} // namespace

TfmDetails::TfmDetails(ibx::TIBDatabase* db, QWidget* parent) : TReportDialog(Spec, db, parent) {
    // FormCreate: the report covers every campaign and needs nothing from its opener.
    acRefreshExecute();
}
