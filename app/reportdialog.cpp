#include "reportdialog.h"

#include "listlook.h"
#include "main.h"
#include "msgbox.h"
#include "promopicture.h"
#include "strings.h"
#include "transactionguard.h"
#include "translation.h"
#include "ui_report.h"
#include "vcl/SysUtils.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdint>
#include <exception>

QString DateTimeToStr(const QDateTime& value) {
    const QLocale locale;
    // The long time format may carry the time zone; the stored times have none.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    return locale.toString(value.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           value.time().toString(timeFormat.trimmed());
}

QString FieldText(const ibx::TIBQuery& q, const char* field) {
    const ibx::TIBXSQLVAR& f = q.FieldByName(field);
    return f.IsNull() ? QString() : QString::fromStdString(f.AsString());
}

QString FieldDateTime(const ibx::TIBQuery& q, const char* field) {
    const ibx::TIBXSQLVAR& f = q.FieldByName(field);
    if (f.IsNull())
        return QString();
    const ibx::TDateTime t = f.AsDateTime();
    return DateTimeToStr(QDateTime(QDate(t.Date.Year, t.Date.Month, t.Date.Day),
                                   QTime(t.Time.Hour, t.Time.Minute, t.Time.Second, t.Time.Fraction / 10)));
}

QString FieldDecimal(const ibx::TIBQuery& q, const char* field) {
    const ibx::TIBXSQLVAR& f = q.FieldByName(field);
    return f.IsNull() ? QString() : QString::number(f.AsInt64());
}

QString FieldHex8(const ibx::TIBQuery& q, const char* field) {
    const ibx::TIBXSQLVAR& f = q.FieldByName(field);
    if (f.IsNull())
        return QString();
    return QString::fromStdU16String(vcl::IntToHex(static_cast<std::uint32_t>(f.AsInt64()), 8));
}

QString ResultText(int result) {
    switch (result) {
    case 0:
        return TranslateText(STR_STATUS_OK);
    case 1:
        return TranslateText(STR_STATUS_IGNORED);
    case 2:
        return TranslateText(STR_STATUS_REJECTED);
    default:
        return TranslateText(STR_STATUS_UNKNOWN);
    }
}

TReportDialog::TReportDialog(const TReportSpec& spec, ibx::TIBDatabase* db, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TReportDialog>()), rowTexts_(spec.rowTexts),
      perCampaign_(spec.perCampaign), idField_(spec.idField) {
    ui_->setupUi(this);
    setObjectName(QString::fromUtf8(spec.formName));
    setWindowTitle(QString::fromUtf8(spec.caption));
    laTitle = ui_->laTitle;
    ListView = ui_->ListView;
    acRefresh = ui_->acRefresh;
    btRefresh = ui_->btRefresh;
    btClose = ui_->btClose;
    laTitle->setText(QString::fromUtf8(spec.title));

    IBTransaction.SetDefaultDatabase(db);
    IBTransaction.SetParams({"read_committed", "rec_version", "nowait"});
    quRefresh.SetDatabase(db);
    quRefresh.SetTransaction(&IBTransaction);
    quRefresh.SetSQL(spec.sql);
    quDelete.SetDatabase(db);
    quDelete.SetTransaction(&IBTransaction);

    // The list: one column per report column, grid lines, the selection kept visible.
    ListView->setColumnCount(int(spec.columns.size()));
    QStringList titles;
    int width = 0;
    for (const TReportColumn& c : spec.columns)
        titles << QString::fromUtf8(c.title);
    ListView->setHeaderLabels(titles);
    ListView->header()->setStretchLastSection(false);
    ListView->header()->setSectionsMovable(false);
    for (int i = 0; i < int(spec.columns.size()); ++i) {
        ListView->header()->resizeSection(i, spec.columns[size_t(i)].width);
        width += spec.columns[size_t(i)].width;
    }
    SetReportListLook(ListView);
    resize(width + 40, 420);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    if (spec.deleteSql) {
        quDelete.SetSQL(spec.deleteSql);
        acDelete = ui_->acDelete;
        btDelete = ui_->btDelete;
        addAction(acDelete);
        PopupMenu->addAction(acDelete);
        PopupMenu->addSeparator();
        connect(acDelete, &QAction::triggered, this, [this] { Guarded(&TReportDialog::acDeleteExecute); });
        connect(btDelete, &QPushButton::clicked, acDelete, &QAction::trigger);
        connect(acDelete, &QAction::changed, btDelete, [this] { btDelete->setEnabled(acDelete->isEnabled()); });
        connect(ListView, &QTreeWidget::itemSelectionChanged, this, &TReportDialog::acDeleteUpdate);
    } else {
        delete ui_->acDelete;
        delete ui_->btDelete;
    }
    addAction(acRefresh);
    PopupMenu->addAction(acRefresh);
    connect(acRefresh, &QAction::triggered, this, [this] { Guarded(&TReportDialog::acRefreshExecute); });
    connect(btRefresh, &QPushButton::clicked, acRefresh, &QAction::trigger);
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        acDeleteUpdate();
        PopupMenu->popup(ListView->viewport()->mapToGlobal(pos));
    });
    acDeleteUpdate();
}

TReportDialog::~TReportDialog() = default;

int TReportDialog::RowId(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

void TReportDialog::Guarded(void (TReportDialog::*handler)()) {
    // No exception may cross the event loop.
    try {
        (this->*handler)();
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
}

void TReportDialog::SetCampaign(int id) {
    CampaignId = id;
    acRefreshExecute();
}

void TReportDialog::acRefreshExecute() {
    ListView->setUpdatesEnabled(false);
    ListView->clear();
    try {
        TTransactionGuard transaction(IBTransaction);
        if (perCampaign_)
            quRefresh.ParamByName("id").SetAsInteger(CampaignId);
        for (quRefresh.Open(); !quRefresh.Eof(); quRefresh.Next()) {
            auto item = std::make_unique<QTreeWidgetItem>(rowTexts_(quRefresh));
            if (idField_)
                item->setData(0, Qt::UserRole, quRefresh.FieldByName(idField_).AsInteger());
            ListView->addTopLevelItem(item.release());
        }
        quRefresh.Close();
        transaction.Commit();
    } catch (...) {
        // Half a report would pass for the whole one.
        quRefresh.Close();
        ListView->clear();
        ListView->setUpdatesEnabled(true);
        acDeleteUpdate();
        throw;
    }
    ListView->setUpdatesEnabled(true);
    acDeleteUpdate();
}

void TReportDialog::acDeleteExecute() {
    const auto selected = ListView->selectedItems();
    if (!acDelete || selected.isEmpty())
        return;
    QTreeWidgetItem* item = selected.first();
    if (!ConfirmYesNo(this, TranslateText(STR_DELETE_DEVICE)))
        return;
    {
        TTransactionGuard transaction(IBTransaction);
        quDelete.ParamByName("id").SetAsInteger(RowId(item));
        quDelete.ExecSQL();
        transaction.Commit();
    }
    // The other rows stay where they are; nothing is selected in place of the gone one.
    delete item;
    ListView->clearSelection();
    ListView->setCurrentItem(nullptr);
    acDeleteUpdate();
}

void TReportDialog::acDeleteUpdate() {
    if (acDelete)
        acDelete->setEnabled(!ListView->selectedItems().isEmpty());
}

void TReportDialog::FormShow() {
    TfmMain::TranslateForm(this);
}

void TReportDialog::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TReportDialog::reject() {
    accept();
}
