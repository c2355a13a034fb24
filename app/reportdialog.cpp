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
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

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

// One read of a report. The window's thread fills in what the worker needs, starts it and
// waits in `loop`; the worker owns its attachment, transaction and query (the client objects
// are not shared between threads) and leaves the finished rows or its error here. The window's
// thread releases the read only after joining the worker.
struct TReportDialog::TRead {
    struct TRow {
        QStringList texts;
        int id = 0;
    };

    std::string databaseName;
    std::vector<std::string> params;
    int dialect = 3;
    int connectTimeout = 0;
    std::chrono::milliseconds callTimeout{0};
    std::string sql;
    bool perCampaign = false;
    int campaignId = 0;
    std::function<QStringList(const ibx::TIBQuery&)> rowTexts;
    const char* idField = nullptr;

    std::vector<TRow> rows;
    std::exception_ptr error;
    std::atomic<bool> cancelled{false};

    std::mutex mutex;
    std::condition_variable ended;
    // The worker's attachment while a cancel may reach it; the worker clears it before closing.
    ibx::TIBDatabase* attachment = nullptr;
    bool finished = false;

    // Window's thread only.
    QEventLoop loop;
    // A cancel that comes between two calls finds none to end; it is sent again until the worker
    // notices it.
    QTimer recancel;
    bool dialogGone = false;
    std::thread worker;

    void Run();
    void Read(ibx::TIBDatabase& db, ibx::TIBTransaction& tr, ibx::TIBQuery& q);
    void Cancel();
    // Cancels and waits for the worker to end, without the event loop.
    void Stop();
    bool Finished() {
        std::lock_guard lock(mutex);
        return finished;
    }
};

void TReportDialog::TRead::Run() {
    try {
        ibx::TIBDatabase db;
        db.SetDatabaseName(databaseName);
        db.SetParams(params);
        db.SetSQLDialect(dialect);
        db.SetConnectTimeout(connectTimeout);
        db.SetCallTimeout(callTimeout);
        ibx::TIBTransaction tr;
        tr.SetDefaultDatabase(&db);
        tr.SetParams({"read_committed", "rec_version", "nowait", "read"});
        ibx::TIBQuery q;
        q.SetDatabase(&db);
        q.SetTransaction(&tr);
        q.SetSQL(sql);
        if (!cancelled) {
            db.Open();
            Read(db, tr, q);
        }
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    ended.notify_all();
    QMetaObject::invokeMethod(
        &loop, [l = &loop] { l->quit(); }, Qt::QueuedConnection);
}

void TReportDialog::TRead::Read(ibx::TIBDatabase& db, ibx::TIBTransaction& tr, ibx::TIBQuery& q) {
    {
        std::lock_guard lock(mutex);
        attachment = &db;
    }
    try {
        tr.StartTransaction();
        if (perCampaign)
            q.ParamByName("id").SetAsInteger(campaignId);
        for (q.Open(); !q.Eof() && !cancelled; q.Next())
            rows.push_back({rowTexts(q), idField ? q.FieldByName(idField).AsInteger() : 0});
        q.Close();
        tr.Commit();
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(mutex);
        attachment = nullptr;
    }
    // Whatever is left open goes with the attachment; the read's own error is what counts.
    try {
        q.Close();
    } catch (...) {
    }
    RollbackQuietly(tr);
    try {
        db.Close();
    } catch (...) {
    }
}

void TReportDialog::TRead::Cancel() {
    cancelled = true;
    std::lock_guard lock(mutex);
    if (attachment)
        attachment->CancelOperation();
}

void TReportDialog::TRead::Stop() {
    cancelled = true;
    {
        std::unique_lock lock(mutex);
        while (!finished) {
            if (attachment)
                attachment->CancelOperation();
            ended.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    if (worker.joinable())
        worker.join();
}

TReportDialog::TReportDialog(const TReportSpec& spec, ibx::TIBDatabase* db, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TReportDialog>()), rowTexts_(spec.rowTexts), sql_(spec.sql),
      perCampaign_(spec.perCampaign), idField_(spec.idField) {
    ui_->setupUi(this);
    setObjectName(QString::fromUtf8(spec.formName));
    setWindowTitle(QString::fromUtf8(spec.caption));
    laTitle = ui_->laTitle;
    ListView = ui_->ListView;
    acRefresh = ui_->acRefresh;
    btRefresh = ui_->btRefresh;
    btClose = ui_->btClose;
    btCancel = ui_->btCancel;
    laStatus = ui_->laStatus;
    laTitle->setText(QString::fromUtf8(spec.title));

    IBTransaction.SetDefaultDatabase(db);
    IBTransaction.SetParams({"read_committed", "rec_version", "nowait"});
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
    connect(btCancel, &QPushButton::clicked, this, &TReportDialog::CancelRead);
    connect(ListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        acDeleteUpdate();
        PopupMenu->popup(ListView->viewport()->mapToGlobal(pos));
    });
    acDeleteUpdate();
}

TReportDialog::~TReportDialog() {
    // The worker must not outlive what it reports to; acRefreshExecute, still waiting below,
    // returns without touching the dialog.
    if (read_) {
        read_->dialogGone = true;
        read_->Stop();
        read_->loop.quit();
    }
}

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
    if (read_)
        return; // its rows are on the way
    ibx::TIBDatabase* db = IBTransaction.DefaultDatabase();
    if (!db)
        throw ibx::EIBClientError("The report has no database");
    auto read = std::make_shared<TRead>();
    read->databaseName = db->DatabaseName();
    read->params = db->Params();
    read->dialect = db->SQLDialect();
    read->connectTimeout = db->ConnectTimeout();
    read->callTimeout = db->CallTimeout();
    read->sql = sql_;
    read->perCampaign = perCampaign_;
    read->campaignId = CampaignId;
    read->rowTexts = rowTexts_;
    read->idField = idField_;
    read->recancel.setInterval(50);
    connect(&read->recancel, &QTimer::timeout, this, [r = read.get()] { r->Cancel(); });

    // Half a report, or the previous one, would pass for the new one.
    ListView->clear();
    acDeleteUpdate();
    read_ = read;
    ShowReading(true);
    // Opened from a window, the dialog shows before its first read: the operator sees that it
    // reads and can cancel it, and the window behind takes no input meanwhile.
    if (!isVisible() && parentWidget()) {
        setWindowModality(Qt::ApplicationModal);
        show();
    }
    try {
        read->worker = std::thread(&TRead::Run, read.get());
    } catch (...) {
        read_.reset();
        ShowReading(false);
        throw;
    }
    read->loop.exec();
    // Anything else that ends the loop is the program ending: nothing may wait for the read.
    if (!read->Finished())
        read->Stop();
    if (read->worker.joinable())
        read->worker.join();
    if (read->dialogGone)
        return;
    read_.reset();
    ShowReading(false);
    if (read->cancelled)
        return;
    if (read->error)
        std::rethrow_exception(read->error);
    ListView->setUpdatesEnabled(false);
    for (TRead::TRow& row : read->rows) {
        auto item = std::make_unique<QTreeWidgetItem>(std::move(row.texts));
        if (idField_)
            item->setData(0, Qt::UserRole, row.id);
        ListView->addTopLevelItem(item.release());
    }
    ListView->setUpdatesEnabled(true);
    acDeleteUpdate();
}

void TReportDialog::ShowReading(bool reading) {
    laStatus->setText(reading ? TranslateText(STR_READING_REPORT) : QString());
    laStatus->setVisible(reading);
    btCancel->setVisible(reading);
    acRefresh->setEnabled(!reading);
    btRefresh->setEnabled(!reading);
}

void TReportDialog::CancelRead() {
    if (!read_ || read_->cancelled)
        return;
    read_->Cancel();
    read_->recancel.start();
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

void TReportDialog::done(int result) {
    CancelRead();
    // Closed during a read before it ran modally: it is not shown again.
    if (!inExec_)
        closedEarly_ = true;
    QDialog::done(result);
}

int TReportDialog::exec() {
    if (closedEarly_)
        return result();
    inExec_ = true;
    const int r = QDialog::exec();
    inExec_ = false;
    return r;
}
