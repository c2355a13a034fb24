#include "campchart.h"

#include "main.h"
#include "msgbox.h"
#include "strings.h"
#include "transactionguard.h"
#include "translation.h"
#include "ui_campchart.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QValueAxis>

#include <algorithm>
#include <exception>

TfmChart::TfmChart(ibx::TIBDatabase* db, QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TfmChart>()) {
    ui_->setupUi(this);
    laTitle = ui_->laTitle;
    CampChart = ui_->CampChart;
    acRefresh = ui_->acRefresh;
    btRefresh = ui_->btRefresh;
    btClose = ui_->btClose;

    IBTransaction.SetDefaultDatabase(db);
    IBTransaction.SetParams({"read_committed", "rec_version", "nowait"});
    quRefresh.SetDatabase(db);
    quRefresh.SetTransaction(&IBTransaction);
    // Only results 0, 1 and 2 count; a campaign without history gets three zeros.
    quRefresh.SetSQL("select c.campaigns_name, "
                     "(select count(*) from history h where h.history_campaigns_id = c.campaigns_id "
                     "and h.history_result = 0) as success, "
                     "(select count(*) from history h where h.history_campaigns_id = c.campaigns_id "
                     "and h.history_result = 1) as ignored, "
                     "(select count(*) from history h where h.history_campaigns_id = c.campaigns_id "
                     "and h.history_result = 2) as rejected "
                     "from campaigns c order by c.campaigns_name");

    // A flat white two-dimensional chart; its own title stays hidden under the dialog's.
    QChart* chart = CampChart->chart();
    chart->setTitle(QString());
    chart->setBackgroundBrush(Qt::white);
    chart->setPlotAreaBackgroundBrush(Qt::white);
    chart->setPlotAreaBackgroundVisible(true);
    chart->setAnimationOptions(QChart::GridAxisAnimations);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignRight);
    CampChart->setRenderHint(QPainter::Antialiasing);
    CampChart->setRubberBand(QChartView::RectangleRubberBand);
    resultAxis_ = new QBarCategoryAxis(chart);
    countAxis_ = new QValueAxis(chart);
    countAxis_->setLabelFormat(QStringLiteral("%d"));
    countAxis_->setRange(0, 1);
    chart->addAxis(resultAxis_, Qt::AlignBottom);
    chart->addAxis(countAxis_, Qt::AlignLeft);

    addAction(acRefresh);
    connect(acRefresh, &QAction::triggered, this, [this] {
        // No exception may cross the event loop.
        try {
            acRefreshExecute();
        } catch (const std::exception& e) {
            ShowException(this, e);
        }
    });
    connect(btRefresh, &QPushButton::clicked, acRefresh, &QAction::trigger);
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    acRefreshUpdate();
    FormCreate();
}

TfmChart::~TfmChart() = default;

void TfmChart::FormCreate() {
    acRefreshExecute();
}

void TfmChart::acRefreshExecute() {
    QChart* chart = CampChart->chart();
    try {
        TTransactionGuard transaction(IBTransaction);
        quRefresh.Open();
        chart->removeAllSeries();
        const QStringList labels{TranslateText(STR_STATUS_OK), TranslateText(STR_STATUS_IGNORED),
                                 TranslateText(STR_STATUS_REJECTED)};
        if (resultAxis_->categories() != labels) {
            resultAxis_->clear();
            resultAxis_->append(labels);
        }
        qint64 highest = 0;
        for (; !quRefresh.Eof(); quRefresh.Next()) {
            auto* series = new QLineSeries(chart);
            const char* const counts[] = {"success", "ignored", "rejected"};
            for (int i = 0; i < 3; ++i) {
                const qint64 n = quRefresh.FieldByName(counts[i]).AsInt64();
                highest = std::max(highest, n);
                series->append(i, double(n));
            }
            series->setName(QString::fromStdString(quRefresh.FieldByName("campaigns_name").AsString()));
            series->setPointsVisible(true);
            chart->addSeries(series);
            series->attachAxis(resultAxis_);
            series->attachAxis(countAxis_);
        }
        quRefresh.Close();
        transaction.Commit();
        // Counts are whole numbers: a short scale gets a tick per count, a long one round steps.
        const qint64 top = std::max<qint64>(highest, 1);
        countAxis_->setRange(0, double(top));
        if (top <= 10) {
            countAxis_->setTickCount(int(top) + 1);
        } else {
            countAxis_->setTickCount(6);
            countAxis_->applyNiceNumbers();
        }
    } catch (...) {
        quRefresh.Close();
        chart->removeAllSeries();
        throw;
    }
}

void TfmChart::acRefreshUpdate() {
    acRefresh->setEnabled(true);
}

void TfmChart::FormShow() {
    TfmMain::TranslateForm(this);
}

void TfmChart::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TfmChart::reject() {
    accept();
}
