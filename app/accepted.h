// The devices that received a campaign, with their coupons.
#pragma once

#include "reportdialog.h"

class TfmAccepted : public TReportDialog {
    Q_OBJECT

public:
    explicit TfmAccepted(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    using TReportDialog::SetCampaign;
};
