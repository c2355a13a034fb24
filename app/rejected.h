// The devices that refused a campaign, with their attempts.
#pragma once

#include "reportdialog.h"

class TfmRejected : public TReportDialog {
    Q_OBJECT

public:
    explicit TfmRejected(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    using TReportDialog::SetCampaign;
};
