// The device picker: runs one Bluetooth search (through the wait box) on the first radio and
// lists the devices found under their names, or their addresses when no name could be read.
// Each list item owns its device; clearing the list or freeing the picker frees them.
#pragma once

#include "vyrBluetoothDiscovery.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TfmSearchForDevices;
}
class QListWidget;
class QListWidgetItem;
class QPushButton;

class TfmSearchForDevices : public QDialog {
    Q_OBJECT

public:
    explicit TfmSearchForDevices(QWidget* owner = nullptr);
    ~TfmSearchForDevices() override;

    QListWidget* ListView = nullptr;
    QPushButton *btSearch = nullptr, *btOK = nullptr, *btCancel = nullptr;
    vyr::TvyrBluetoothDiscovery vyrBluetoothDiscovery;

    // How often a device's name is asked for before its address stands in.
    static constexpr int NameAttempts = 10;

    // The selected item's device (owned by the item) and caption; null and empty without a
    // selection. Read them before the picker goes.
    const vyr::TvyrBluetoothDevice* selectedDevice() const;
    QString selectedAddress() const;
    QString selectedCaption() const;
    // The device an item owns.
    static const vyr::TvyrBluetoothDevice* ItemDevice(const QListWidgetItem* item);

    void ClearDevices();
    void btSearchClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void SelectionChanged();

    std::unique_ptr<Ui::TfmSearchForDevices> ui_;
    bool searched_ = false;
};
