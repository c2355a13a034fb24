#include "searchfordevices.h"

#include "listlook.h"
#include "msgbox.h"
#include "searching.h"
#include "strings.h"
#include "translation.h"
#include "ui_searchfordevices.h"

#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

namespace {

// A list item that owns the device it shows.
class TDeviceItem : public QListWidgetItem {
public:
    TDeviceItem(const QIcon& icon, const QString& caption, std::unique_ptr<vyr::TvyrBluetoothDevice> device,
                QListWidget* list)
        : QListWidgetItem(icon, caption, list, QListWidgetItem::UserType), device_(std::move(device)) {
        setToolTip(QString::fromStdU16String(device_->Address()));
    }
    const vyr::TvyrBluetoothDevice* Device() const { return device_.get(); }

private:
    std::unique_ptr<vyr::TvyrBluetoothDevice> device_;
};

} // namespace

TfmSearchForDevices::TfmSearchForDevices(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::TfmSearchForDevices>()) {
    ui_->setupUi(this);
    ListView = ui_->ListView;
    btSearch = ui_->btSearch;
    btOK = ui_->btOK;
    btCancel = ui_->btCancel;
    // Focus makes the first device current, not chosen: it must not look chosen while OK is off.
    SetSelectedOnlyLook(ListView);
    vyrBluetoothDiscovery.SetName(u"vyrBluetoothDiscovery");
    connect(btSearch, &QPushButton::clicked, this, [this] {
        try {
            btSearchClick();
        } catch (const std::exception& e) {
            ShowException(this, e);
        }
    });
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListView, &QListWidget::itemSelectionChanged, this, &TfmSearchForDevices::SelectionChanged);
    connect(ListView, &QListWidget::itemDoubleClicked, this, [this] {
        if (selectedDevice())
            accept();
    });
}

TfmSearchForDevices::~TfmSearchForDevices() {
    ClearDevices();
}

void TfmSearchForDevices::showEvent(QShowEvent* e) {
    TranslateForm(this);
    QDialog::showEvent(e);
    // The first search starts by itself, once the picker is up behind the wait box.
    if (!searched_) {
        searched_ = true;
        QTimer::singleShot(0, this, [this] { btSearch->click(); });
    }
}

const vyr::TvyrBluetoothDevice* TfmSearchForDevices::ItemDevice(const QListWidgetItem* item) {
    const auto* owner =
        item && item->type() == QListWidgetItem::UserType ? static_cast<const TDeviceItem*>(item) : nullptr;
    return owner ? owner->Device() : nullptr;
}

const vyr::TvyrBluetoothDevice* TfmSearchForDevices::selectedDevice() const {
    const auto selected = ListView->selectedItems();
    return selected.isEmpty() ? nullptr : ItemDevice(selected.first());
}

QString TfmSearchForDevices::selectedAddress() const {
    const vyr::TvyrBluetoothDevice* device = selectedDevice();
    return device ? QString::fromStdU16String(device->Address()) : QString();
}

QString TfmSearchForDevices::selectedCaption() const {
    const auto selected = ListView->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TfmSearchForDevices::SelectionChanged() {
    btOK->setEnabled(selectedDevice() != nullptr);
}

void TfmSearchForDevices::ClearDevices() {
    // The items own their devices.
    ListView->clear();
    btOK->setEnabled(false);
}

void TfmSearchForDevices::btSearchClick() {
    vyr::TvyrBluetoothRadios radios;
    const int result = vyrBluetoothDiscovery.EnumRadios(&radios);
    if (result != 0 || radios.Count() == 0) {
        ErrorOK(this, TranslateText(STR_UNABLE_DICOVER));
        return;
    }
    ClearDevices();
    const vyr::TvyrBluetoothRadio* radio = radios[0];
    TfmSearching searching(this);
    searching.Radio->Assign(radio);
    if (searching.exec() != QDialog::Accepted)
        return;
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveNetIcon);
    for (const auto& found : *searching.Devices) {
        auto device = std::make_unique<vyr::TvyrBluetoothDevice>();
        device->Assign(found.get());
        std::u16string name;
        for (int attempt = 0; attempt < NameAttempts && name.empty(); ++attempt)
            device->GetName(radio, name);
        const QString caption =
            name.empty() ? QString::fromStdU16String(device->Address()) : QString::fromStdU16String(name);
        new TDeviceItem(icon, caption, std::move(device), ListView);
    }
}
