// The white-list and black-list dialogs: one class for both lists, told apart by their kind,
// so each keeps its own form name (and so its own language-file keys). Every add, edit and
// delete made while the dialog is open runs in the dialog's one transaction: OK commits
// them together, a confirmed Cancel rolls them all back.
#pragma once

#include "editdevice.h"
#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmDeviceList;
}
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TfmDeviceList : public QDialog {
    Q_OBJECT

public:
    ~TfmDeviceList() override;

    QLabel* laTitle = nullptr;
    QTreeWidget* ListView = nullptr;
    QAction *acAdd = nullptr, *acEdit = nullptr, *acDelete = nullptr, *acRefresh = nullptr;
    QMenu* PopupMenu = nullptr;
    QPushButton *btOK = nullptr, *btCancel = nullptr;
    std::unique_ptr<ibx::TIBTransaction> IBTransaction;
    std::unique_ptr<ibx::TIBQuery> quRefresh;
    std::unique_ptr<ibx::TIBStoredProc> spDelete;

    const TDeviceListKind& Kind() const { return kind_; }

    // The row's entry id (column 0, Qt::UserRole).
    static int RowId(const QTreeWidgetItem* item);
    QTreeWidgetItem* Selected() const;
    // Edit and Delete need a selected row.
    void UpdateActions();

    void acAddExecute();
    void acEditExecute();
    void acDeleteExecute();
    void acRefreshExecute();
    // OK commits; every other close asks before it rolls back.
    void done(int r) override;

protected:
    TfmDeviceList(const TDeviceListKind& kind, ibx::TIBDatabase* db, QWidget* owner);
    void showEvent(QShowEvent* e) override;
    // The twin's entry dialog, on this dialog's transaction.
    virtual std::unique_ptr<TfmEditDevice> CreateEntryDialog() = 0;

private:
    void FormCreate();
    void Guarded(void (TfmDeviceList::*handler)());
    static void SetRow(QTreeWidgetItem* item, const QString& mac, const QString& name, bool enabled);

    const TDeviceListKind& kind_;
    std::unique_ptr<Ui::TfmDeviceList> ui_;
};

class TfmWhiteList : public TfmDeviceList {
    Q_OBJECT
public:
    explicit TfmWhiteList(ibx::TIBDatabase* db, QWidget* owner = nullptr) : TfmDeviceList(WhiteListKind, db, owner) {}

protected:
    std::unique_ptr<TfmEditDevice> CreateEntryDialog() override {
        return std::make_unique<TfmEditDeviceWL>(IBTransaction.get(), this);
    }
};

class TfmBlackList : public TfmDeviceList {
    Q_OBJECT
public:
    explicit TfmBlackList(ibx::TIBDatabase* db, QWidget* owner = nullptr) : TfmDeviceList(BlackListKind, db, owner) {}

protected:
    std::unique_ptr<TfmEditDevice> CreateEntryDialog() override {
        return std::make_unique<TfmEditDeviceBL>(IBTransaction.get(), this);
    }
};
