// The results of every campaign per device: one row per campaign, device and result,
// with how often that result occurred. Filled on creation.
#pragma once

#include "reportdialog.h"

class TfmDetails : public TReportDialog {
    Q_OBJECT

public:
    explicit TfmDetails(ibx::TIBDatabase* db, QWidget* parent = nullptr);
};
