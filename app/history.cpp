#include "history.h"

namespace {

const TReportSpec Spec{
    "fmHistory",
    "History",
    "Hstory for campaign ",
    "select devices_mac, devices_name, history_date_time, history_result "
    "from history, devices where history_campaigns_id = :id and devices_id = history_devices_id "
    "order by history_date_time, devices_mac",
    true,
    nullptr,
    nullptr,
    {{"MAC", 150}, {"Name", 150}, {"Date time", 150}, {"Result", 80}},
    [](const ibx::TIBQuery& q) {
        return QStringList{FieldText(q, "devices_mac"), FieldText(q, "devices_name"),
                           FieldDateTime(q, "history_date_time"),
                           ResultText(q.FieldByName("history_result").AsInteger())};
    },
};

} // namespace

TfmHistory::TfmHistory(ibx::TIBDatabase* db, QWidget* parent) : TReportDialog(Spec, db, parent) {}
