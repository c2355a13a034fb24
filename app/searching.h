// The wait box of the device search: runs one discovery on the radio it was given and
// cannot be closed until that discovery has reported its end (or failed to start). Its
// Cancel stops the discovery, which then ends without devices.
#pragma once

#include "vyrBluetoothDiscovery.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmSearching;
}
class QPushButton;

class TfmSearching : public QDialog {
    Q_OBJECT

public:
    explicit TfmSearching(QWidget* owner = nullptr);
    ~TfmSearching() override;

    QPushButton* btCancel = nullptr;
    // The radio to search on (the picker copies its radio in) and the devices found.
    std::unique_ptr<vyr::TvyrBluetoothRadio> Radio;
    std::unique_ptr<vyr::TvyrBluetoothDevices> Devices;
    // Only a finished search lets the box close.
    bool Finished = false;
    vyr::TvyrBluetoothDiscovery vyrBluetoothDiscovery;

    void btCancelClick();
    void vyrBluetoothDiscoveryDiscoveryComplete(vcl::TObject* sender, vyr::TvyrBluetoothRadio* radio,
                                                vyr::TvyrBluetoothDevices* devices);
    void done(int r) override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void StartSearch();

    std::unique_ptr<Ui::TfmSearching> ui_;
    bool started_ = false;
    bool cancelled_ = false;
};
