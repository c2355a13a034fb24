// A campaign's temporary black list.
#pragma once

#include "reportdialog.h"

class TfmBl : public TReportDialog {
    Q_OBJECT

public:
    explicit TfmBl(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    using TReportDialog::SetCampaign;
};
