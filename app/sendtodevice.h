// Pushes one file to one chosen device by Object Push, outside any campaign and without the
// database: Connect, OBEX connect, Put, completion, Disconnect, each step on the status line.
#pragma once

#include "stddialogs.h"
#include "strings.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrOBEX.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TfmSendToDevice;
}
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

// A translated text with its one argument: only "%s" is replaced, so a language file's
// "%d", "%n" or missing "%s" is shown as written and never read as a format.
QString TextWithArgument(const QString& text, const QString& argument);

class TfmSendToDevice : public QDialog {
    Q_OBJECT

public:
    explicit TfmSendToDevice(QWidget* owner = nullptr);
    ~TfmSendToDevice() override;

    QLabel* laStatus = nullptr;
    QLineEdit *edDevice = nullptr, *edFile = nullptr;
    QToolButton* sbLoad = nullptr;
    QPushButton *btFind = nullptr, *btSend = nullptr, *btOK = nullptr;
    QProgressBar* ProgressBar = nullptr;
    TOpenDialog OpenDialog;
    vyr::TvyrBluetoothDiscovery vyrBluetoothDiscovery;
    vyr::TvyrOPPClient vyrOPPClient;

    // The address text of the device chosen with Find.
    QString DeviceAddress;

    void btFindClick();
    void sbLoadClick();
    void btSendClick();
    // Closing ends a running transfer first.
    void done(int r) override;

    void vyrOPPClientConnect(vcl::TObject* sender, int error);
    void vyrOPPClientDisconnect(vcl::TObject* sender);
    void vyrOPPClientOBEXConnect(vcl::TObject* sender, int error);
    void vyrOPPClientOBEXProgress(vcl::TObject* sender, std::uint32_t position, std::uint32_t size);
    void vyrOPPClientOBEXPutComplete(vcl::TObject* sender, int error);

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormCreate();
    void SetControlsEnabled(bool enabled);
    void SetStatus(const QString& text) const;
    void SetStatus(const StrKey& key, int error) const;

    std::unique_ptr<Ui::TfmSendToDevice> ui_;
};
