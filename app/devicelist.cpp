#include "devicelist.h"
#include "transactionguard.h"

#include "listlook.h"
#include "msgbox.h"
#include "strings.h"
#include "translation.h"
#include "ui_devicelist.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

TfmDeviceList::TfmDeviceList(const TDeviceListKind& kind, ibx::TIBDatabase* db, QWidget* owner)
    : QDialog(owner), kind_(kind), ui_(std::make_unique<Ui::TfmDeviceList>()) {
    ui_->setupUi(this);
    setObjectName(QString::fromLatin1(kind.ListForm));
    setWindowTitle(QString::fromLatin1(kind.ListCaption));
    laTitle = ui_->laTitle;
    laTitle->setText(QString::fromLatin1(kind.ListTitle));
    ListView = ui_->ListView;
    acAdd = ui_->acAdd;
    acEdit = ui_->acEdit;
    acDelete = ui_->acDelete;
    acRefresh = ui_->acRefresh;
    btOK = ui_->btOK;
    btCancel = ui_->btCancel;

    acEdit->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_Return), QKeySequence(Qt::SHIFT | Qt::Key_Enter)});
    acAdd->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    acEdit->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    acDelete->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    acRefresh->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    const std::pair<QToolButton*, QAction*> buttons[] = {
        {ui_->btAdd, acAdd}, {ui_->btEdit, acEdit}, {ui_->btDelete, acDelete}, {ui_->btRefresh, acRefresh}};
    for (const auto& [button, action] : buttons) {
        button->setDefaultAction(action);
        addAction(action); // the shortcuts work anywhere in the dialog
    }
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(acAdd);
    PopupMenu->addAction(acEdit);
    PopupMenu->addAction(acDelete);
    PopupMenu->addSeparator();
    PopupMenu->addAction(acRefresh);

    ListView->header()->setStretchLastSection(false);
    ListView->header()->setSectionsMovable(false);
    const int widths[] = {180, 180, 60};
    for (int i = 0; i < 3; ++i)
        ListView->header()->resizeSection(i, widths[i]);
    SetReportListLook(ListView);

    connect(acAdd, &QAction::triggered, this, [this] { Guarded(&TfmDeviceList::acAddExecute); });
    connect(acEdit, &QAction::triggered, this, [this] { Guarded(&TfmDeviceList::acEditExecute); });
    connect(acDelete, &QAction::triggered, this, [this] { Guarded(&TfmDeviceList::acDeleteExecute); });
    connect(acRefresh, &QAction::triggered, this, [this] { Guarded(&TfmDeviceList::acRefreshExecute); });
    connect(ListView, &QTreeWidget::itemSelectionChanged, this, &TfmDeviceList::UpdateActions);
    connect(ListView, &QTreeWidget::itemDoubleClicked, this, [this] {
        UpdateActions();
        if (acEdit->isEnabled())
            acEdit->trigger();
    });
    connect(ListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu->popup(ListView->viewport()->mapToGlobal(pos)); });
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);

    const std::string table = kind.Table;
    IBTransaction = std::make_unique<ibx::TIBTransaction>();
    IBTransaction->SetName(u"IBTransaction");
    IBTransaction->SetDefaultDatabase(db);
    IBTransaction->SetParams({"read_committed", "rec_version", "nowait"});
    quRefresh = std::make_unique<ibx::TIBQuery>();
    quRefresh->SetName(u"quRefresh");
    quRefresh->SetDatabase(db);
    quRefresh->SetTransaction(IBTransaction.get());
    quRefresh->SetSQL("select " + table + "_ID, " + table + "_MAC, " + table + "_NAME, " + table + "_ENABLED from " +
                      table + " order by " + table + "_MAC;");
    spDelete = std::make_unique<ibx::TIBStoredProc>();
    spDelete->SetName(u"spDelete");
    spDelete->SetDatabase(db);
    spDelete->SetTransaction(IBTransaction.get());
    spDelete->SetStoredProcName(table + "_DELETE");

    FormCreate();
}

TfmDeviceList::~TfmDeviceList() {
    // A dialog freed without OK or a confirmed Cancel leaves nothing behind.
    if (IBTransaction)
        RollbackQuietly(*IBTransaction);
}

void TfmDeviceList::FormCreate() {
    IBTransaction->StartTransaction();
    acRefreshExecute();
}

void TfmDeviceList::showEvent(QShowEvent* e) {
    TranslateForm(this);
    UpdateActions();
    QDialog::showEvent(e);
}

void TfmDeviceList::Guarded(void (TfmDeviceList::*handler)()) {
    // No exception may cross the event loop: the application's error display shows it.
    try {
        (this->*handler)();
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
    UpdateActions();
}

int TfmDeviceList::RowId(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

QTreeWidgetItem* TfmDeviceList::Selected() const {
    const auto selected = ListView->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TfmDeviceList::UpdateActions() {
    const bool row = Selected() != nullptr;
    acEdit->setEnabled(row);
    acDelete->setEnabled(row);
}

void TfmDeviceList::SetRow(QTreeWidgetItem* item, const QString& mac, const QString& name, bool enabled) {
    item->setText(0, mac);
    item->setText(1, name);
    item->setText(2, BoolToYesNo(enabled));
}

void TfmDeviceList::acRefreshExecute() {
    const std::string table = kind_.Table;
    ListView->setUpdatesEnabled(false);
    ListView->clear();
    try {
        ibx::TIBQuery& q = *quRefresh;
        for (q.Open(); !q.Eof(); q.Next()) {
            auto* item = new QTreeWidgetItem(ListView);
            const auto text = [&q](const std::string& column) {
                const ibx::TIBXSQLVAR& f = q.FieldByName(column);
                return f.IsNull() ? QString() : QString::fromStdU16String(f.AsWideString());
            };
            const ibx::TIBXSQLVAR& enabled = q.FieldByName(table + "_ENABLED");
            SetRow(item, text(table + "_MAC"), text(table + "_NAME"), !enabled.IsNull() && enabled.AsInteger() == 1);
            item->setData(0, Qt::UserRole, q.FieldByName(table + "_ID").AsInteger());
        }
        q.Close();
    } catch (...) {
        quRefresh->Close();
        ListView->setUpdatesEnabled(true);
        throw;
    }
    ListView->setUpdatesEnabled(true);
}

void TfmDeviceList::acAddExecute() {
    std::unique_ptr<TfmEditDevice> entry = CreateEntryDialog();
    entry->EntryId = 0;
    if (entry->exec() != QDialog::Accepted)
        return;
    auto* item = new QTreeWidgetItem(ListView);
    SetRow(item, entry->edMAC->text(), entry->edName->text(), entry->cbEnabled->isChecked());
    item->setData(0, Qt::UserRole, entry->EntryId);
}

void TfmDeviceList::acEditExecute() {
    QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    std::unique_ptr<TfmEditDevice> entry = CreateEntryDialog();
    entry->EntryId = RowId(item);
    entry->edMAC->setText(item->text(0));
    entry->edName->setText(item->text(1));
    entry->cbEnabled->setChecked(YesNoToBool(item->text(2)));
    if (entry->exec() != QDialog::Accepted)
        return;
    SetRow(item, entry->edMAC->text(), entry->edName->text(), entry->cbEnabled->isChecked());
}

void TfmDeviceList::acDeleteExecute() {
    QTreeWidgetItem* item = Selected();
    if (!item || !ConfirmYesNo(this, TranslateText(STR_DELETE_DEVICE)))
        return;
    spDelete->ParamByName("ID").SetAsInteger(RowId(item));
    spDelete->ExecProc();
    spDelete->Close();
    delete item;
}

void TfmDeviceList::done(int r) {
    try {
        if (r == QDialog::Accepted) {
            IBTransaction->Commit();
        } else {
            if (!WarningYesNo(this, TranslateText(STR_DISCARD_CHANGES)))
                return;
            if (IBTransaction->InTransaction())
                IBTransaction->Rollback();
        }
    } catch (const std::exception& e) {
        // A commit that failed keeps the dialog open with its changes; the operator may retry or cancel.
        ShowException(this, e);
        return;
    }
    QDialog::done(r);
}
