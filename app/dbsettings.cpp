#include "dbsettings.h"

#include "msgbox.h"
#include "strings.h"
#include "translation.h"
#include "ui_dbsettings.h"
#include "vcl/Registry.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

namespace {

QString KeyPath(const char* leaf) {
    return QStringLiteral("SOFTWARE\\") + QString::fromUtf8(COMPANY_NAME) + QString::fromUtf8(PRODUCT_NAME) +
           QStringLiteral("\\") + QString::fromUtf8(leaf);
}

std::u16string U16(const QString& s) {
    return s.toStdU16String();
}

// The four connection values in the order the edits show them.
struct ValueEdit {
    const char16_t* name;
    QLineEdit* edit;
};

} // namespace

QString SettingsKeyPath() {
    return KeyPath("Settings");
}
QString DefaultKeyPath() {
    return KeyPath("Default");
}

QString DefaultDatabasePath() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir(dataHome).filePath(QString::fromUtf8(PRODUCT_NAME) + QLatin1Char('/') +
                                   QString::fromUtf8(PRODUCT_NAME) + QStringLiteral(".fdb"));
}

QString TConnectionSettings::DatabaseName() const {
    return server.isEmpty() ? path : server + QLatin1Char(':') + path;
}

TConnectionSettings ReadConnectionSettings() {
    TConnectionSettings s;
    try {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly(U16(SettingsKeyPath())))
            return s;
        s.keyFound = true;
        auto read = [&reg](const char16_t* name, QString& into) {
            if (!reg.ValueExists(name))
                return false;
            into = QString::fromStdU16String(reg.ReadString(name));
            return true;
        };
        read(u"UserName", s.userName);
        read(u"Password", s.password);
        read(u"Path", s.path);
        read(u"Server", s.server);
        s.hasLanguage = read(u"Language", s.language);
    } catch (const std::exception&) {
        // Whatever could not be read stays empty; the connect loop then asks the user.
    }
    return s;
}

TfmDbSettings::TfmDbSettings(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::TfmDbSettings>()) {
    ui_->setupUi(this);
    connect(ui_->btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->btRestoreDefault, &QPushButton::clicked, this, &TfmDbSettings::btRestoreDefaultClick);
    FormCreate();
}

TfmDbSettings::~TfmDbSettings() = default;

QLineEdit* TfmDbSettings::edServer() const {
    return ui_->edServer;
}
QLineEdit* TfmDbSettings::edPath() const {
    return ui_->edPath;
}
QLineEdit* TfmDbSettings::edUserName() const {
    return ui_->edUserName;
}
QLineEdit* TfmDbSettings::edPassword() const {
    return ui_->edPassword;
}
QPushButton* TfmDbSettings::btOK() const {
    return ui_->btOK;
}
QPushButton* TfmDbSettings::btCancel() const {
    return ui_->btCancel;
}
QPushButton* TfmDbSettings::btRestoreDefault() const {
    return ui_->btRestoreDefault;
}

void TfmDbSettings::FormCreate() {
    ui_->edPath->setText(QDir::toNativeSeparators(DefaultDatabasePath()));
    TConnectionSettings s = ReadConnectionSettings();
    if (!s.keyFound)
        return;
    // Only values that exist replace the designed defaults.
    try {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly(U16(SettingsKeyPath())))
            return;
        for (const ValueEdit& v : {ValueEdit{u"UserName", ui_->edUserName}, ValueEdit{u"Password", ui_->edPassword},
                                   ValueEdit{u"Path", ui_->edPath}, ValueEdit{u"Server", ui_->edServer}})
            if (reg.ValueExists(v.name))
                v.edit->setText(QString::fromStdU16String(reg.ReadString(v.name)));
    } catch (const std::exception&) {
        // An unreadable store leaves the proposed values.
    }
}

void TfmDbSettings::showEvent(QShowEvent* event) {
    TranslateForm(this);
    QDialog::showEvent(event);
}

void TfmDbSettings::btRestoreDefaultClick() {
    try {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly(U16(DefaultKeyPath())))
            return;
        for (const ValueEdit& v : {ValueEdit{u"UserName", ui_->edUserName}, ValueEdit{u"Password", ui_->edPassword},
                                   ValueEdit{u"Path", ui_->edPath}, ValueEdit{u"Server", ui_->edServer}})
            if (reg.ValueExists(v.name))
                v.edit->setText(QString::fromStdU16String(reg.ReadString(v.name)));
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
}

void TfmDbSettings::SaveSettings() {
    vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
    if (!reg.OpenKey(U16(SettingsKeyPath()), true))
        throw vcl::ERegistryException("Unable to open the registry key " + SettingsKeyPath().toStdString());
    reg.WriteString(u"UserName", U16(ui_->edUserName->text()));
    reg.WriteString(u"Password", U16(ui_->edPassword->text()));
    reg.WriteString(u"Path", U16(ui_->edPath->text()));
    reg.WriteString(u"Server", U16(ui_->edServer->text()));
    reg.CloseKey();
}

void TfmDbSettings::done(int result) {
    if (result == QDialog::Accepted) {
        try {
            SaveSettings();
        } catch (const std::exception& e) {
            // Closing with OK would claim the settings were kept; stay open instead.
            ShowException(this, e);
            return;
        }
    }
    QDialog::done(result);
}
