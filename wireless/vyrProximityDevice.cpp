// One remote device's push for the proximity sender.
#include "vcl/Streams.h"
#include "vcl/SysUtils.h"
#include "vyrErrors.h"
#include "vyrProximitySender.h"

namespace vyr {

TvyrProximityDevice::TvyrProximityDevice(const TvyrBluetoothDevice* device, const TvyrBluetoothRadio* radio,
                                         const TvyrFileList& files, std::uint8_t timeout, bool secure)
    : device_(std::make_unique<TvyrBluetoothDevice>()), files_(files), client_(std::make_unique<TvyrOPPClient>()) {
    device_->Assign(device);
    client_->SetTransport(ctBluetooth);
    client_->BluetoothParams()->SetRadio(radio);
    client_->BluetoothParams()->SetAddress(device_->Address());
    client_->BluetoothParams()->SetAuthentication(secure);
    client_->SetConnectTimeout(static_cast<win::DWORD>(timeout) * 1000);
    client_->OBEXParams()->SetTimeout(static_cast<std::uint32_t>(timeout) * 1000);

    client_->OnConnect = [this](vcl::TObject*, int error) { ClientConnect(error); };
    client_->OnDisconnect = [this](vcl::TObject*) { ClientDisconnect(); };
    client_->OnOBEXConnect = [this](vcl::TObject*, int error) { ClientOBEXConnect(error); };
    client_->OnOBEXProgress = [this](vcl::TObject*, std::uint32_t position, std::uint32_t size) {
        ClientOBEXProgress(position, size);
    };
    client_->OnOBEXPutComplete = [this](vcl::TObject*, int error) { ClientOBEXPutComplete(error); };
    client_->OnOBEXDisconnect = [this](vcl::TObject*) { ClientOBEXDisconnect(); };
}

TvyrProximityDevice::~TvyrProximityDevice() {
    Stop();
    // The client may still report while it closes; nothing here is left to hear it.
    client_->OnConnect = nullptr;
    client_->OnDisconnect = nullptr;
    client_->OnOBEXConnect = nullptr;
    client_->OnOBEXProgress = nullptr;
    client_->OnOBEXPutComplete = nullptr;
    client_->OnOBEXDisconnect = nullptr;
}

std::u16string TvyrProximityDevice::PushName(const std::u16string& path) {
    size_t cut = path.find_last_of(u"\\:/");
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

std::u16string TvyrProximityDevice::CurrentFileName() const {
    if (fileIndex_ < 0 || static_cast<size_t>(fileIndex_) >= files_.size())
        return {};
    return vcl::Utf8ToUtf16(files_[static_cast<size_t>(fileIndex_)]);
}

int TvyrProximityDevice::Start() {
    if (busy_)
        return VYR_PROXIMITY_STARTED;
    int result = client_->Connect();
    if (result != VYR_SUCCESS)
        return result;
    busy_ = true;
    closing_ = false;
    if (OnSendStarted) {
        auto call = OnSendStarted;
        call(this, device_.get());
    }
    return VYR_SUCCESS;
}

void TvyrProximityDevice::Stop() {
    Alive alive = alive_;
    if (busy_) {
        busy_ = false;
        client_->Disconnect();
        if (alive.expired())
            return;
        Complete();
        return;
    }
    if (!closing_)
        return;
    // Reported already; only the link is left.
    client_->Disconnect();
    if (!alive.expired() && closing_ && client_->IsClosed())
        LinkClosed();
}

void TvyrProximityDevice::LinkClosed() {
    closing_ = false;
    if (OnLinkClosed) {
        auto call = OnLinkClosed;
        call(this);
    }
}

bool TvyrProximityDevice::Complete() {
    busy_ = false;
    if (!OnSendComplete)
        return true;
    Alive alive = alive_;
    auto call = OnSendComplete;
    call(this, device_.get(), error_);
    return !alive.expired();
}

void TvyrProximityDevice::Fail(int error, bool reportFile) {
    error_ = error;
    busy_ = false;
    Alive alive = alive_;
    client_->Disconnect();
    if (alive.expired())
        return;
    if (reportFile && OnFileSendComplete) {
        auto call = OnFileSendComplete;
        call(this, device_.get(), CurrentFileName(), error_);
        if (alive.expired())
            return;
    }
    Complete();
}

void TvyrProximityDevice::ClientConnect(int error) {
    if (!busy_)
        return;
    error_ = error;
    if (error == VYR_SUCCESS) {
        int result = client_->OBEXConnect();
        if (result != VYR_SUCCESS) {
            Fail(result, false);
            return;
        }
        if (OnConnected) {
            auto call = OnConnected;
            call(this);
        }
        return;
    }
    if (error == VYR_ACCESS_DENIED && !client_->BluetoothParams()->Authentication()) {
        // The device wants a bonded link: one more try with authentication. The client closed
        // itself before it reported, so the parameter may change.
        client_->BluetoothParams()->SetAuthentication(true);
        error_ = client_->Connect();
        if (error_ == VYR_SUCCESS)
            return;
    }
    Complete();
}

void TvyrProximityDevice::ClientDisconnect() {
    if (closing_) {
        // Every file was acknowledged: the push reports success as its DISCONNECT goes out (also when
        // that fails and the link is closed at once), and the link is given back after the report.
        if (!busy_)
            LinkClosed();
        return;
    }
    if (!busy_)
        return;
    error_ = VYR_CONNECTION_REJECTED;
    Complete();
}

void TvyrProximityDevice::ClientOBEXConnect(int error) {
    if (!busy_)
        return;
    error_ = error;
    if (error == VYR_SUCCESS)
        SendNextFile();
    else
        Fail(error, false);
}

void TvyrProximityDevice::ClientOBEXProgress(std::uint32_t position, std::uint32_t size) {
    if (!OnProgress)
        return;
    auto call = OnProgress;
    call(this, device_.get(), CurrentFileName(), position, size);
}

void TvyrProximityDevice::ClientOBEXPutComplete(int error) {
    if (!busy_ || closing_)
        return;
    error_ = error;
    if (error != VYR_SUCCESS) {
        Fail(error, true);
        return;
    }
    if (OnFileSendComplete) {
        Alive alive = alive_;
        auto call = OnFileSendComplete;
        call(this, device_.get(), CurrentFileName(), VYR_SUCCESS);
        if (alive.expired() || !busy_)
            return;
    }
    ++fileIndex_;
    SendNextFile();
}

void TvyrProximityDevice::ClientOBEXDisconnect() {
    Alive alive = alive_;
    client_->Disconnect();
    if (alive.expired())
        return;
    if (!busy_ && closing_ && client_->IsClosed())
        LinkClosed();
}

void TvyrProximityDevice::SendNextFile() {
    Alive alive = alive_;
    if (static_cast<size_t>(fileIndex_) < files_.size()) {
        std::u16string fileName = CurrentFileName();
        if (OnFileSendStarted) {
            auto call = OnFileSendStarted;
            call(this, device_.get(), fileName);
            if (alive.expired() || !busy_)
                return;
        }
        int result = VYR_SUCCESS;
        try {
            vcl::TFileStream stream(fileName, vcl::fmOpenRead);
            result = client_->Put(PushName(fileName), &stream, u"");
        } catch (const std::exception&) {
            result = VYR_PROXIMITY_INVALID_FILE;
        }
        if (alive.expired())
            return;
        error_ = result;
        if (result != VYR_SUCCESS)
            Fail(result, true);
        return;
    }
    // Every file was acknowledged: the push has succeeded whatever the link does next, so it is
    // reported now, not after a DISCONNECT reply that a phone may never send. The link stays held
    // until it is down; OnLinkClosed tells the sender when its connection is free again.
    closing_ = true;
    error_ = VYR_SUCCESS;
    if (client_->OBEXDisconnect() != VYR_SUCCESS) {
        client_->Disconnect();
        if (alive.expired())
            return;
    }
    if (!Complete())
        return;
    if (closing_ && client_->IsClosed())
        LinkClosed();
}

} // namespace vyr
