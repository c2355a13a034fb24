// The devices that did not answer a campaign's push, with their attempts.
#pragma once

#include "reportdialog.h"

class TfmIgnored : public TReportDialog {
    Q_OBJECT

public:
    explicit TfmIgnored(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    using TReportDialog::SetCampaign;
};
