// The sender settings dialog: edits the one SETTINGS row and the interface language.
//
// The row is read when the dialog is created and written by OK in the dialog's own
// transaction, which stays open until OK commits or a confirmed Cancel rolls it back.
// The senders pick the saved row up at their next sleep; the language is stored in the
// Settings key and applies from the next start.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmSettings;
}
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class TfmSettings : public QDialog {
    Q_OBJECT

public:
    TfmSettings(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmSettings() override;

    // Components under their published names.
    QLineEdit *edLocalName = nullptr, *edMaxConnections = nullptr, *edMaxPerDongle = nullptr, *edSleep = nullptr,
              *edDiscoveryTimeout = nullptr, *edConnectTimeout = nullptr, *edSendDelay = nullptr,
              *edBlackListTimeout = nullptr, *edRejectRetry = nullptr, *edIgnoreRetry = nullptr;
    QCheckBox *cbUseWhiteList = nullptr, *cbUseBlackList = nullptr;
    QComboBox* cbLanguage = nullptr;
    QPushButton *btOK = nullptr, *btCancel = nullptr, *btRestoreDefault = nullptr;

    ibx::TIBTransaction IBTransaction;
    ibx::TIBQuery quGetSettings, quSetSettings;

    // The numeric edits' key filter: control characters and digits pass.
    static bool edMaxConnectionsKeyPress(QChar key);
    void btRestoreDefaultClick();
    // OK saves (and refuses the close when the save fails); anything else asks before
    // discarding. True lets the dialog close.
    bool FormCloseQuery(int result);
    void done(int result) override;

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormCreate();
    void FormShow();
    void LoadLanguages();
    // The update, its commit, then the language; false when the row was not saved.
    bool SaveSettings();

    std::unique_ptr<Ui::TfmSettings> ui_;
};
