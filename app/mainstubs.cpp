#include "mainstubs.h"

#include <QFileInfo>

#include <stdexcept>

namespace tavlin {

TMessageAsk MessageAskHook;

QMessageBox::StandardButton MessageDlg(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                       QMessageBox::StandardButtons buttons) {
    if (MessageAskHook) return MessageAskHook(parent, icon, text, buttons);
    QMessageBox box(icon, QStringLiteral("Tavlin"), text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::function<std::optional<TDbConnectionSettings>()> ReadConnectionSettingsHook;

std::optional<TDbConnectionSettings> ReadConnectionSettings() {
    if (ReadConnectionSettingsHook) return ReadConnectionSettingsHook();
    return std::nullopt;
}

std::function<bool(QWidget*)> DbSettingsDialogHook;

bool ShowDbSettingsDialog(QWidget* owner) { return DbSettingsDialogHook ? DbSettingsDialogHook(owner) : false; }

void TDatabaseStub::Open() {
    connected_ = false;
    if (DatabaseName.isEmpty() || !QFileInfo(DatabaseName).isFile())
        throw std::runtime_error("unavailable database");
    connected_ = true;
}

} // namespace tavlin
