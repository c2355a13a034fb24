#include "sendtodevice.h"

#include "filecamp.h"
#include "msgbox.h"
#include "searchfordevices.h"
#include "strings.h"
#include "translation.h"
#include "ui_sendtodevice.h"
#include "vcl/Streams.h"
#include "vyrErrors.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include <limits>

QString TextWithArgument(const QString& text, const QString& argument) {
    QString out = text;
    return out.replace(QStringLiteral("%s"), argument);
}

TfmSendToDevice::TfmSendToDevice(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::TfmSendToDevice>()) {
    ui_->setupUi(this);
    laStatus = ui_->laStatus;
    edDevice = ui_->edDevice;
    edFile = ui_->edFile;
    sbLoad = ui_->sbLoad;
    btFind = ui_->btFind;
    btSend = ui_->btSend;
    btOK = ui_->btOK;
    ProgressBar = ui_->ProgressBar;
    sbLoad->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));

    // The same choice of files as for a campaign.
    OpenDialog = CampaignFileDialog();

    vyrBluetoothDiscovery.SetName(u"vyrBluetoothDiscovery");
    vyrOPPClient.SetName(u"vyrOPPClient");
    vyrOPPClient.SetTransport(vyr::ctBluetooth);
    vyrOPPClient.SetConnectTimeout(20000);
    vyr::TvyrClientBluetoothParams* bt = vyrOPPClient.BluetoothParams();
    bt->SetAuthentication(false);
    bt->SetEncryption(false);
    bt->SetChannel(0);
    vyr::TvyrClientOBEXParams* obex = vyrOPPClient.OBEXParams();
    obex->SetPacketSize(4096);
    obex->SetTimeout(60000);
    obex->SetTargetAsString(false);
    obex->SetWhoAsString(false);
    vyrOPPClient.OnConnect = [this](vcl::TObject* s, int error) { vyrOPPClientConnect(s, error); };
    vyrOPPClient.OnDisconnect = [this](vcl::TObject* s) { vyrOPPClientDisconnect(s); };
    vyrOPPClient.OnOBEXConnect = [this](vcl::TObject* s, int error) { vyrOPPClientOBEXConnect(s, error); };
    vyrOPPClient.OnOBEXProgress = [this](vcl::TObject* s, std::uint32_t position, std::uint32_t size) {
        vyrOPPClientOBEXProgress(s, position, size);
    };
    vyrOPPClient.OnOBEXPutComplete = [this](vcl::TObject* s, int error) { vyrOPPClientOBEXPutComplete(s, error); };

    const auto guarded = [this](void (TfmSendToDevice::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception& e) {
                ShowException(this, e);
            }
        };
    };
    connect(btFind, &QPushButton::clicked, this, guarded(&TfmSendToDevice::btFindClick));
    connect(sbLoad, &QToolButton::clicked, this, guarded(&TfmSendToDevice::sbLoadClick));
    connect(btSend, &QPushButton::clicked, this, guarded(&TfmSendToDevice::btSendClick));
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate();
}

TfmSendToDevice::~TfmSendToDevice() {
    // Freeing a connected client reports its disconnect; no handler may run on a dialog that
    // is being taken apart.
    vyrOPPClient.OnConnect = nullptr;
    vyrOPPClient.OnDisconnect = nullptr;
    vyrOPPClient.OnOBEXConnect = nullptr;
    vyrOPPClient.OnOBEXProgress = nullptr;
    vyrOPPClient.OnOBEXPutComplete = nullptr;
    vyrOPPClient.Disconnect();
}

void TfmSendToDevice::FormCreate() {
    DeviceAddress.clear();
}

void TfmSendToDevice::showEvent(QShowEvent* e) {
    TranslateForm(this);
    QDialog::showEvent(e);
}

void TfmSendToDevice::SetStatus(const QString& text) const {
    laStatus->setText(text);
}

void TfmSendToDevice::SetStatus(const StrKey& key, int error) const {
    SetStatus(TextWithArgument(TranslateText(key), QString::fromStdU16String(vyr::GetErrorText(error))));
}

void TfmSendToDevice::SetControlsEnabled(bool enabled) {
    btSend->setEnabled(enabled);
    btFind->setEnabled(enabled);
    sbLoad->setEnabled(enabled);
}

void TfmSendToDevice::btFindClick() {
    TfmSearchForDevices picker(this);
    if (picker.exec() != QDialog::Accepted || !picker.selectedDevice())
        return;
    DeviceAddress = picker.selectedAddress();
    edDevice->setText(picker.selectedCaption().toUpper());
}

void TfmSendToDevice::sbLoadClick() {
    if (OpenDialog.Execute(this))
        edFile->setText(OpenDialog.FileName);
}

void TfmSendToDevice::btSendClick() {
    if (edDevice->text().isEmpty()) {
        WarningOK(this, TranslateText(STR_SELECT_DEVICE));
        return;
    }
    if (edFile->text().isEmpty()) {
        WarningOK(this, TranslateText(STR_SELECT_FILE));
        return;
    }
    vyr::TvyrBluetoothRadios radios;
    if (vyrBluetoothDiscovery.EnumRadios(&radios) != 0) {
        ErrorOK(this, TranslateText(STR_ENUM_RADIOS_ERROR));
        return;
    }
    if (radios.Count() == 0) {
        ErrorOK(this, TranslateText(STR_NO_RADIOS));
        return;
    }
    vyrOPPClient.SetTransport(vyr::ctBluetooth);
    vyrOPPClient.BluetoothParams()->SetRadio(radios[0]);
    vyrOPPClient.BluetoothParams()->SetAddress(DeviceAddress.toStdU16String());
    const int result = vyrOPPClient.Connect();
    if (result != 0) {
        SetStatus(STR_UNABLE_CONNECT, result);
        return;
    }
    SetStatus(TranslateText(STR_CONNECTING));
    SetControlsEnabled(false);
    ProgressBar->setValue(0);
}

void TfmSendToDevice::vyrOPPClientConnect(vcl::TObject*, int error) {
    if (error != 0) {
        SetStatus(STR_UNABLE_CONNECT, error);
        SetControlsEnabled(true);
        return;
    }
    const int result = vyrOPPClient.OBEXConnect();
    if (result != 0) {
        SetStatus(STR_UNABLE_CONNECT, result);
        vyrOPPClient.Disconnect();
        return;
    }
    SetStatus(QString());
}

void TfmSendToDevice::vyrOPPClientOBEXConnect(vcl::TObject*, int error) {
    if (error != 0) {
        SetStatus(STR_UNABLE_CONNECT, error);
        vyrOPPClient.Disconnect();
        return;
    }
    int result = 0;
    try {
        // Opened for reading only; the client copies what it needs before Put returns.
        vcl::TFileStream stream(edFile->text().toStdU16String(), vcl::fmOpenRead);
        result = vyrOPPClient.Put(QFileInfo(edFile->text()).fileName().toStdU16String(), &stream, std::u16string());
    } catch (const std::exception& e) {
        SetStatus(TextWithArgument(TranslateText(STR_UNABLE_SEND), QString::fromUtf8(e.what())));
        vyrOPPClient.Disconnect();
        return;
    }
    if (result != 0) {
        SetStatus(STR_UNABLE_SEND, result);
        vyrOPPClient.Disconnect();
        return;
    }
    SetStatus(TranslateText(STR_SENDING));
}

void TfmSendToDevice::vyrOPPClientOBEXProgress(vcl::TObject*, std::uint32_t position, std::uint32_t size) {
    // The bar counts in int; a file beyond its range is shown in kilobytes.
    const bool large = size > std::uint32_t(std::numeric_limits<int>::max());
    const auto scaled = [large](std::uint32_t v) { return int(large ? v / 1024 : v); };
    ProgressBar->setMaximum(scaled(size));
    ProgressBar->setValue(scaled(std::min(position, size)));
}

void TfmSendToDevice::vyrOPPClientOBEXPutComplete(vcl::TObject*, int error) {
    if (error == 0)
        SetStatus(TranslateText(STR_SEND_COMPLETE));
    else
        SetStatus(STR_UNABLE_SEND, error);
    vyrOPPClient.Disconnect();
}

void TfmSendToDevice::vyrOPPClientDisconnect(vcl::TObject*) {
    SetControlsEnabled(true);
}

void TfmSendToDevice::done(int r) {
    // Nothing happens when no connection is open; a running push ends with its terminated code.
    vyrOPPClient.Disconnect();
    QDialog::done(r);
}
