// The database connection settings in the registry and the dialog that edits them.
//
// HKEY_CURRENT_USER "SOFTWARE\" + maker + product (joined without a separator) +
// "\Settings" holds the string values UserName, Password, Path, Server and Language;
// the key ending in "\Default" holds the first four for restoring and is never written.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QLineEdit;
class QPushButton;
class QShowEvent;

namespace Ui {
class TfmDbSettings;
}

QString SettingsKeyPath(); // SOFTWARE\MorvekTavlin\Settings
QString DefaultKeyPath();  // SOFTWARE\MorvekTavlin\Default

// The database file proposed when none is configured: "Tavlin.fdb" in the user's
// application-data folder ($XDG_DATA_HOME, else ~/.local/share) under "Tavlin".
QString DefaultDatabasePath();

struct TConnectionSettings {
    bool keyFound = false; // the Settings key exists
    QString userName;
    QString password;
    QString path;
    QString server;
    bool hasLanguage = false;
    QString language;

    // "Server:Path", or Path alone for a local database.
    QString DatabaseName() const;
};

// Reads the Settings key without creating it; a missing key or value reads as empty.
// Never throws: an unreadable store is an empty one.
TConnectionSettings ReadConnectionSettings();

// The database-settings dialog. OK writes the four edits to the Settings key; when that
// fails the error is shown and the dialog stays open. Cancel writes nothing.
class TfmDbSettings : public QDialog {
    Q_OBJECT

public:
    explicit TfmDbSettings(QWidget* owner = nullptr);
    ~TfmDbSettings() override;

    QLineEdit* edServer() const;
    QLineEdit* edPath() const;
    QLineEdit* edUserName() const;
    QLineEdit* edPassword() const;
    QPushButton* btOK() const;
    QPushButton* btCancel() const;
    QPushButton* btRestoreDefault() const;

    // Fills the edits from the Default key's values that exist.
    void btRestoreDefaultClick();
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    // Writes the four values, creating the key; raises with the reason on failure.
    void SaveSettings();

    std::unique_ptr<Ui::TfmDbSettings> ui_;
};
