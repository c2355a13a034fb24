#include "searching.h"

#include "msgbox.h"
#include "strings.h"
#include "translation.h"
#include "ui_searching.h"

#include <QPushButton>
#include <QTimer>

namespace {

// The inquiry's length in seconds.
constexpr std::uint8_t SearchSeconds = 15;

} // namespace

TfmSearching::TfmSearching(QWidget* owner)
    : QDialog(owner), Radio(std::make_unique<vyr::TvyrBluetoothRadio>()),
      Devices(std::make_unique<vyr::TvyrBluetoothDevices>()), ui_(std::make_unique<Ui::TfmSearching>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    btCancel = ui_->btCancel;
    vyrBluetoothDiscovery.SetName(u"vyrBluetoothDiscovery");
    vyrBluetoothDiscovery.OnDiscoveryComplete = [this](vcl::TObject* sender, vyr::TvyrBluetoothRadio* radio,
                                                       vyr::TvyrBluetoothDevices* devices) {
        vyrBluetoothDiscoveryDiscoveryComplete(sender, radio, devices);
    };
    connect(btCancel, &QPushButton::clicked, this, &TfmSearching::btCancelClick);
}

TfmSearching::~TfmSearching() {
    // A discovery still running ends here without an event.
    vyrBluetoothDiscovery.OnDiscoveryComplete = nullptr;
}

void TfmSearching::showEvent(QShowEvent* e) {
    TranslateForm(this);
    QDialog::showEvent(e);
    if (parentWidget()) // centred on its owner
        move(parentWidget()->window()->geometry().center() - rect().center());
    // The search starts once the box is up, so a failure can close it.
    if (!started_) {
        started_ = true;
        QTimer::singleShot(0, this, &TfmSearching::StartSearch);
    }
}

void TfmSearching::StartSearch() {
    if (cancelled_) {
        // Cancelled before the search began: it ends as a cancelled search does, without devices.
        Finished = true;
        done(QDialog::Accepted);
        return;
    }
    int result = 0;
    try {
        result = vyrBluetoothDiscovery.Discover(Radio.get(), SearchSeconds);
    } catch (const std::exception&) {
        result = -1;
    }
    if (result != 0) {
        ErrorOK(this, TranslateText(STR_UNABLE_DICOVER));
        // Finished first, or the box would refuse its own close and hang.
        Finished = true;
        done(QDialog::Rejected);
    }
}

void TfmSearching::btCancelClick() {
    if (vyrBluetoothDiscovery.Running()) {
        // The discovery reports its end (without devices) before Terminate returns.
        vyrBluetoothDiscovery.Terminate();
    } else if (!Finished) {
        cancelled_ = true;
    }
}

void TfmSearching::vyrBluetoothDiscoveryDiscoveryComplete(vcl::TObject*, vyr::TvyrBluetoothRadio*,
                                                          vyr::TvyrBluetoothDevices* devices) {
    if (devices)
        Devices->Assign(devices);
    Finished = true;
    done(QDialog::Accepted);
}

void TfmSearching::done(int r) {
    if (!Finished)
        return;
    QDialog::done(r);
}
