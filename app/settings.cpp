#include "settings.h"
#include "transactionguard.h"

#include "dbsettings.h"
#include "fieldcheck.h"
#include "main.h"
#include "msgbox.h"
#include "strings.h"
#include "translation.h"
#include "ui_settings.h"
#include "vcl/Registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace {

const char* const ReadSql =
    "select SETTINGS_CONNECT_TIMEOUT, SETTINGS_DELAY, SETTINGS_DISC_TIMEOUT, SETTINGS_MAX_CONN, SETTINGS_NAME, "
    "SETTINGS_SLEEP, SETTINGS_USE_BL, SETTINGS_USE_WL, SETTINGS_MAX_PER_DONGLE, settings_bl_timeout, "
    "settings_reject_retry, settings_ignore_retry from SETTINGS;";

const char* const WriteSql =
    "update SETTINGS set SETTINGS_CONNECT_TIMEOUT = :CONNECT_TIMEOUT, SETTINGS_DELAY = :DELAY, "
    "SETTINGS_DISC_TIMEOUT = :DISC_TIMEOUT, SETTINGS_MAX_CONN = :MAX_CONN, SETTINGS_NAME = :NAME, "
    "SETTINGS_SLEEP = :SLEEP, SETTINGS_USE_BL = :SETTINGS_USE_BL, SETTINGS_USE_WL = :SETTINGS_USE_WL, "
    "SETTINGS_MAX_PER_DONGLE = :SETTINGS_MAX_PER_DONGLE, settings_bl_timeout = :settings_bl_timeout, "
    "settings_reject_retry = :settings_reject_retry, settings_ignore_retry = :settings_ignore_retry;";

// One edit: the column it is read from, the parameter it is written to, the value
// "Restore default" puts back, and the range of a number the row takes (none for text).
struct TSettingField {
    QLineEdit* TfmSettings::*edit;
    const char* column;
    const char* param;
    const char* restored;
    int min = 0, max = -1;
};

// The ranges are the row's checks: the sender's timings and connection count fit in a
// byte, and the counts are small integers that cannot go below zero.
constexpr int SmallIntMax = 32767;
const TSettingField Fields[] = {
    {&TfmSettings::edLocalName, "SETTINGS_NAME", "NAME", PRODUCT_NAME},
    {&TfmSettings::edMaxConnections, "SETTINGS_MAX_CONN", "MAX_CONN", "7", 1, 255},
    {&TfmSettings::edMaxPerDongle, "SETTINGS_MAX_PER_DONGLE", "SETTINGS_MAX_PER_DONGLE", "20", 0, SmallIntMax},
    {&TfmSettings::edSleep, "SETTINGS_SLEEP", "SLEEP", "5", 1, 255},
    {&TfmSettings::edDiscoveryTimeout, "SETTINGS_DISC_TIMEOUT", "DISC_TIMEOUT", "15", 0, 255},
    {&TfmSettings::edConnectTimeout, "SETTINGS_CONNECT_TIMEOUT", "CONNECT_TIMEOUT", "30", 1, 255},
    {&TfmSettings::edSendDelay, "SETTINGS_DELAY", "DELAY", "5", 1, 255},
    {&TfmSettings::edBlackListTimeout, "settings_bl_timeout", "settings_bl_timeout", "24", 0, SmallIntMax},
    {&TfmSettings::edRejectRetry, "settings_reject_retry", "settings_reject_retry", "3", 0, SmallIntMax},
    {&TfmSettings::edIgnoreRetry, "settings_ignore_retry", "settings_ignore_retry", "3", 0, SmallIntMax},
};

QString CurrentLanguage() {
    return fmMain ? fmMain->LanguageName : Translator().LanguageName();
}

// The language the Settings key holds, else the running one: a choice waits there for the
// next start, and offering the running language instead would undo it on the next OK.
QString ChosenLanguage() {
    const TConnectionSettings saved = ReadConnectionSettings();
    return saved.hasLanguage && !saved.language.trimmed().isEmpty() ? saved.language : CurrentLanguage();
}

} // namespace

TfmSettings::TfmSettings(ibx::TIBDatabase* db, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfmSettings>()) {
    ui_->setupUi(this);
    edLocalName = ui_->edLocalName;
    edMaxConnections = ui_->edMaxConnections;
    edMaxPerDongle = ui_->edMaxPerDongle;
    edSleep = ui_->edSleep;
    edDiscoveryTimeout = ui_->edDiscoveryTimeout;
    edConnectTimeout = ui_->edConnectTimeout;
    edSendDelay = ui_->edSendDelay;
    edBlackListTimeout = ui_->edBlackListTimeout;
    edRejectRetry = ui_->edRejectRetry;
    edIgnoreRetry = ui_->edIgnoreRetry;
    cbUseWhiteList = ui_->cbUseWhiteList;
    cbUseBlackList = ui_->cbUseBlackList;
    cbLanguage = ui_->cbLanguage;
    btOK = ui_->btOK;
    btCancel = ui_->btCancel;
    btRestoreDefault = ui_->btRestoreDefault;

    IBTransaction.SetName(u"IBTransaction");
    IBTransaction.SetDefaultDatabase(db);
    IBTransaction.SetParams({"read_committed", "rec_version", "nowait"});
    quGetSettings.SetName(u"quGetSettings");
    quGetSettings.SetDatabase(db);
    quGetSettings.SetTransaction(&IBTransaction);
    quGetSettings.SetSQL(ReadSql);
    quSetSettings.SetName(u"quSetSettings");
    quSetSettings.SetDatabase(db);
    quSetSettings.SetTransaction(&IBTransaction);
    quSetSettings.SetSQL(WriteSql);

    for (const TSettingField& f : Fields)
        if (f.edit != &TfmSettings::edLocalName)
            (this->*f.edit)->installEventFilter(this);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btRestoreDefault, &QPushButton::clicked, this, &TfmSettings::btRestoreDefaultClick);
    FormCreate();
}

TfmSettings::~TfmSettings() {
    // A dialog freed without OK or a confirmed Cancel leaves nothing behind.
    RollbackQuietly(IBTransaction);
}

void TfmSettings::FormCreate() {
    IBTransaction.StartTransaction();
    try {
        quGetSettings.Open();
        if (!quGetSettings.Eof()) {
            for (const TSettingField& f : Fields)
                (this->*f.edit)->setText(QString::fromStdString(quGetSettings.FieldByName(f.column).AsString()));
            // Only 1 means on: any other stored value shows, and is saved, as off.
            cbUseBlackList->setChecked(quGetSettings.FieldByName("SETTINGS_USE_BL").AsInt64() == 1);
            cbUseWhiteList->setChecked(quGetSettings.FieldByName("SETTINGS_USE_WL").AsInt64() == 1);
        }
        quGetSettings.Close();
    } catch (...) {
        // The dialog is not made; its transaction must not outlive it.
        RollbackQuietly(IBTransaction);
        throw;
    }
    LoadLanguages();
}

void TfmSettings::LoadLanguages() {
    cbLanguage->clear();
    cbLanguage->addItems(Translator().Languages());
    const QString chosen = ChosenLanguage();
    if (cbLanguage->count() == 0)
        cbLanguage->addItem(chosen);
    int i = cbLanguage->findText(chosen, Qt::MatchFixedString); // not case-sensitive
    if (i < 0) // a saved name the file no longer has gives way to the running one
        i = cbLanguage->findText(CurrentLanguage(), Qt::MatchFixedString);
    cbLanguage->setCurrentIndex(i < 0 ? 0 : i);
}

void TfmSettings::FormShow() {
    TranslateForm(this);
}

void TfmSettings::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

bool TfmSettings::edMaxConnectionsKeyPress(QChar key) {
    return key.unicode() < 32 || (key >= QLatin1Char('0') && key <= QLatin1Char('9'));
}

bool TfmSettings::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        // Keys without a character (arrows, Delete, shortcuts) are not typing.
        const QString text = static_cast<QKeyEvent*>(e)->text();
        for (QChar c : text)
            if (!edMaxConnectionsKeyPress(c))
                return true;
    }
    return QDialog::eventFilter(watched, e);
}

void TfmSettings::btRestoreDefaultClick() {
    for (const TSettingField& f : Fields)
        (this->*f.edit)->setText(QString::fromUtf8(f.restored));
}

bool TfmSettings::SaveSettings() {
    // What the row would refuse is named here, field and range, before the database is asked.
    for (const TSettingField& f : Fields)
        if (f.max >= f.min && !CheckWholeNumber(this, this->*f.edit, FieldCaption(this->*f.edit), f.min, f.max))
            return false;
    try {
        if (quSetSettings.Active())
            quSetSettings.Close();
        for (const TSettingField& f : Fields)
            quSetSettings.ParamByName(f.param).SetAsWideString((this->*f.edit)->text().toStdU16String());
        quSetSettings.ParamByName("SETTINGS_USE_BL").SetAsInteger(cbUseBlackList->isChecked() ? 1 : 0);
        quSetSettings.ParamByName("SETTINGS_USE_WL").SetAsInteger(cbUseWhiteList->isChecked() ? 1 : 0);
        // A failed commit may have ended the transaction; the retry must not find it gone.
        if (!IBTransaction.InTransaction())
            IBTransaction.StartTransaction();
        quSetSettings.ExecSQL();
        if (quSetSettings.RowsAffected() == 0)
            // Committing nothing would claim the settings were kept.
            throw vcl::Exception("The database holds no settings row; nothing was saved");
        IBTransaction.Commit();
    } catch (const std::exception& e) {
        ShowException(this, e);
        return false;
    }
    // The row is saved from here on: a language that cannot be stored is reported once
    // and the dialog closes all the same.
    try {
        vcl::TRegistry reg(vcl::HKEY_CURRENT_USER);
        if (reg.OpenKey(SettingsKeyPath().toStdU16String(), true)) {
            reg.WriteString(u"Language", cbLanguage->currentText().toStdU16String());
            reg.CloseKey();
        }
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
    return true;
}

bool TfmSettings::FormCloseQuery(int result) {
    if (result == QDialog::Accepted)
        return SaveSettings();
    if (!WarningYesNo(this, TranslateText(STR_DISCARD_CHANGES)))
        return false;
    try {
        if (IBTransaction.InTransaction())
            IBTransaction.Rollback();
    } catch (const std::exception& e) {
        ShowException(this, e);
    }
    return true;
}

void TfmSettings::done(int result) {
    if (FormCloseQuery(result))
        QDialog::done(result);
}
