// Every push of a campaign and how it ended.
#pragma once

#include "reportdialog.h"

class TfmHistory : public TReportDialog {
    Q_OBJECT

public:
    explicit TfmHistory(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    using TReportDialog::SetCampaign;
};
