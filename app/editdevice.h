// The entry dialog of the white and black lists: one device's MAC, name and enabled flag,
// stored through the list's ADD or UPDATE procedure inside the owning list dialog's
// transaction, so the list dialog's OK or Cancel decides about it.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBStoredProc.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmEditDevice;
}
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// What tells the two lists apart: their table (which names the columns and procedures) and
// the forms' names, which the language file's keys are built from.
struct TDeviceListKind {
    const char* Table;       // "WHITE_LIST"
    const char* ListForm;    // "fmWhiteList"
    const char* ListCaption; // "White List"
    const char* ListTitle;   // "Manage the Wite List"
    const char* EntryForm;   // "fmEditDeviceWL"
};
extern const TDeviceListKind WhiteListKind;
extern const TDeviceListKind BlackListKind;

class TfmEditDevice : public QDialog {
    Q_OBJECT

public:
    ~TfmEditDevice() override;

    QLabel* laTitle = nullptr;
    QLineEdit* edMAC = nullptr;
    QLineEdit* edName = nullptr;
    QCheckBox* cbEnabled = nullptr;
    QPushButton *btFind = nullptr, *btOK = nullptr, *btCancel = nullptr;
    std::unique_ptr<ibx::TIBStoredProc> spAdd, spEdit;

    // 0 for a new entry; after a successful add, the id the database gave it.
    int EntryId = 0;

    const TDeviceListKind& Kind() const { return kind_; }

    void btFindClick();
    // OK stores the entry and closes only when the procedure succeeded; any other close
    // writes nothing.
    void done(int r) override;

protected:
    // tr: the owning list dialog's transaction.
    TfmEditDevice(const TDeviceListKind& kind, ibx::TIBTransaction* tr, QWidget* owner);
    void showEvent(QShowEvent* e) override;

private:
    void Store();

    const TDeviceListKind& kind_;
    std::unique_ptr<Ui::TfmEditDevice> ui_;
};

class TfmEditDeviceWL : public TfmEditDevice {
    Q_OBJECT
public:
    TfmEditDeviceWL(ibx::TIBTransaction* tr, QWidget* owner) : TfmEditDevice(WhiteListKind, tr, owner) {}
};

class TfmEditDeviceBL : public TfmEditDevice {
    Q_OBJECT
public:
    TfmEditDeviceBL(ibx::TIBTransaction* tr, QWidget* owner) : TfmEditDevice(BlackListKind, tr, owner) {}
};
