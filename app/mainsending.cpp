// The main window's side of the sending engine: its handlers hand the work to the engine,
// and what the engine shows lands in the interface list, the process list and the status bar.
#include "main.h"

#include <QTreeWidget>

// ---- what the engine shows ----

void TfmMain::ShowInterfaceDetected(int kind, bool detected) {
    if (kind < 0 || kind >= lvAPIs->topLevelItemCount())
        return;
    lvAPIs->topLevelItem(kind)->setText(1, TranslateText(detected ? STR_DETECTED : STR_NOT_DETECTED));
}

void TfmMain::ShowSenderAction(int kind, const QString& text) {
    if (kind < 0 || kind >= lvAPIs->topLevelItemCount())
        return;
    lvAPIs->topLevelItem(kind)->setText(2, text);
}

void TfmMain::AddProcessRow(const QStringList& columns) {
    new QTreeWidgetItem(lvProcess, columns);
}

void TfmMain::ClearProcessList(int kind) {
    const QString name = InterfaceName(kind);
    for (int i = lvProcess->topLevelItemCount() - 1; i >= 0; --i)
        if (lvProcess->topLevelItem(i)->text(3) == name)
            delete lvProcess->takeTopLevelItem(i);
}

void TfmMain::SetProcessStatus(const QString& mac, const QString& text, int kind) {
    const QString name = InterfaceName(kind);
    for (int i = 0; i < lvProcess->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = lvProcess->topLevelItem(i);
        if (row->text(0) == mac && row->text(3) == name) {
            row->setText(4, text);
            return;
        }
    }
}

void TfmMain::ShowSendingState(const QString& text) {
    SetStatusPanelText(1, text);
}

// ---- the engine's work under the window's names ----

QString TfmMain::PrepareCampaignFile(int tag, const QString& deviceAddress) {
    return Engine->PrepareCampaignFile(tag, deviceAddress);
}

void TfmMain::DeleteDeviceFile(int tag, const QString& deviceAddress) {
    Engine->CampaignContent.DeleteDeviceFile(tag, deviceAddress);
}

void TfmMain::DeleteSenderFiles(int tag) {
    Engine->CampaignContent.DeleteSenderFiles(tag);
}

const std::vector<TCampaignContent::TPreparedFile>& TfmMain::SentFiles() const {
    return Engine->CampaignContent.SentFiles();
}

void TfmMain::UpdateInterfaces() {
    Engine->UpdateInterfaces();
}
void TfmMain::StopAllSenders() {
    Engine->StopAllSenders();
}
bool TfmMain::AnySenderActive() const {
    return Engine->AnySenderActive();
}
vyr::TvyrProximitySender* TfmMain::Sender(int tag) const {
    return Engine->Sender(tag);
}
QString TfmMain::InterfaceName(int kind) {
    return TSendingEngine::InterfaceName(kind);
}

void TfmMain::acSenderStartExecute() {
    Engine->Start();
}
void TfmMain::acSenderStopExecute() {
    Engine->Stop();
}
void TfmMain::vyrAPIAfterLoad() {
    UpdateInterfaces();
}
void TfmMain::vyrAPIChanged() {
    UpdateInterfaces();
}
