// The sending results of every campaign as a chart: one line per campaign across
// its success, ignored and rejected counts from the history.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmChart;
}
class QAction;
class QBarCategoryAxis;
class QChartView;
class QLabel;
class QPushButton;
class QValueAxis;

class TfmChart : public QDialog {
    Q_OBJECT

public:
    // Reads the counts at once; a database error propagates.
    explicit TfmChart(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmChart() override;

    // Components under their published names.
    QLabel* laTitle = nullptr;
    QChartView* CampChart = nullptr;
    QAction* acRefresh = nullptr;
    QPushButton* btRefresh = nullptr;
    QPushButton* btClose = nullptr;

    ibx::TIBTransaction IBTransaction;
    ibx::TIBQuery quRefresh;

    // Replaces every series by the counts committed now. Database errors propagate
    // and leave the chart empty.
    void acRefreshExecute();
    void acRefreshUpdate();
    void FormShow();

    // Escape gives the Close button's result.
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormCreate();

    std::unique_ptr<Ui::TfmChart> ui_;
    QBarCategoryAxis* resultAxis_ = nullptr;
    QValueAxis* countAxis_ = nullptr;
};
