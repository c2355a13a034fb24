// The BlueSoleil stack's backend. The stack has two interfaces: the older one names devices by address
// records, the newer one (on the stack versions that have it) by handles. Every device operation asks which
// one is in use; an inquiry asks once, at its start.
#include "vyrBackend.h"

#include "vcl/SysUtils.h"
#include "vyrBlueSoleil.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace vyr {
namespace {

namespace bsold = stackabi::bsold;
namespace bs = stackabi::bs;

// ---- Device records ----

// The newer interface names devices by handle; 0 when the older interface is in use.
int BlueSoleilHandleIfNewer(const std::u16string& address, bool& newer) {
    newer = BlueSoleilUsesNewerInterface();
    return newer ? BlueSoleilDeviceHandle(address) : 0;
}

bsold::BLUETOOTH_DEVICE_INFO_EX BlueSoleilRecordEx(const std::u16string& address) {
    bsold::BLUETOOTH_DEVICE_INFO_EX rec{};
    rec.dwSize = sizeof rec;
    AddressTextToBtDeviceInfoEx(address, &rec);
    return rec;
}

bsold::BLUETOOTH_DEVICE_INFO BlueSoleilRecord(const std::u16string& address) {
    bsold::BLUETOOTH_DEVICE_INFO rec{};
    rec.dwSize = sizeof rec;
    AddressTextToBtDeviceInfo(address, &rec);
    return rec;
}

// ---- Services ----

constexpr std::uint32_t BlueSoleilBrowseBufferSize = 14000;

bool SearchSppService(const bsold::BLUETOOTH_DEVICE_INFO& device, const win::GUID& uuid,
                      bsold::SPPEX_SERVICE_INFO& info) {
    info = {};
    info.dwSize = sizeof info;
    std::memcpy(&info.serviceClassUuid128, &uuid, sizeof uuid);
    std::uint32_t length = sizeof info;
    return vyr::BT_SearchSPPExServices(&device, &length, &info) == bsold::BT_SUCCESS;
}

int EnumBlueSoleil(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    bsold::BLUETOOTH_DEVICE_INFO device{};
    device.dwSize = sizeof device;
    AddressTextToBtDeviceInfo(address, &device);
    bsold::SPPEX_SERVICE_INFO info{};
    if (uuid) {
        if (!SearchSppService(device, *uuid, info))
            return VYR_SERVICE_NOT_FOUND;
        services->Clear();
        auto service = std::make_unique<TvyrBluetoothService>();
        service->SetChannel(info.ucServiceChannel);
        service->SetHandle(info.dwServiceHandle);
        service->SetName(DecodeStackText(info.szServiceName, sizeof info.szServiceName));
        win::GUID found;
        std::memcpy(&found, &info.serviceClassUuid128, sizeof found);
        service->SetUuid(found);
        services->Add(std::move(service));
        return 0;
    }
    constexpr std::size_t capacity = BlueSoleilBrowseBufferSize / sizeof(bsold::GENERAL_SERVICE_INFO);
    std::vector<bsold::GENERAL_SERVICE_INFO> entries;
    try {
        entries.assign(capacity, bsold::GENERAL_SERVICE_INFO{});
    } catch (const std::bad_alloc&) {
        return VYR_OUT_OF_RESOURCES;
    }
    entries[0].dwSize = sizeof(bsold::GENERAL_SERVICE_INFO);
    std::uint32_t length = BlueSoleilBrowseBufferSize;
    if (vyr::BT_BrowseServices(&device, 1, &length, entries.data()) != bsold::BT_SUCCESS)
        return VYR_INTERNAL_ERROR;
    services->Clear();
    const std::size_t count = std::min<std::size_t>(
        (length + sizeof(bsold::GENERAL_SERVICE_INFO) / 2) / sizeof(bsold::GENERAL_SERVICE_INFO), capacity);
    for (std::size_t i = 0; i < count; ++i) {
        if (!SearchSppService(device, BluetoothUuid(entries[i].wServiceClassUuid16), info))
            continue;
        auto service = std::make_unique<TvyrBluetoothService>();
        service->SetChannel(info.ucServiceChannel);
        service->SetHandle(info.dwServiceHandle);
        service->SetName(DecodeStackText(entries[i].szServiceName, sizeof entries[i].szServiceName));
        win::GUID found;
        std::memcpy(&found, &info.serviceClassUuid128, sizeof found);
        service->SetUuid(found);
        services->Add(std::move(service));
    }
    return 0;
}

// ---- Inquiry ----

constexpr std::uint32_t kBsInquiryBufferSize = 8400;
constexpr std::uint32_t kBsMaxRecords = kBsInquiryBufferSize / sizeof(bsold::BLUETOOTH_DEVICE_INFO);

// The older interface: one blocking inquiry, on a worker.
std::unique_ptr<TvyrBluetoothDevices> BlueSoleilOlderInquiry(win::HWND, std::uint8_t timeout) {
    std::unique_ptr<bsold::BLUETOOTH_DEVICE_INFO[]> records(new (std::nothrow)
                                                                bsold::BLUETOOTH_DEVICE_INFO[kBsMaxRecords]());
    if (!records)
        return nullptr;
    records[0].dwSize = sizeof(bsold::BLUETOOTH_DEVICE_INFO);
    std::uint32_t length = kBsInquiryBufferSize;
    if (vyr::BT_InquireDevices(bsold::BT_INQUIRY_MODE, timeout, &length, records.get()) != bsold::BT_SUCCESS)
        return nullptr;
    // The stack's length is trusted no further than the buffer reaches.
    constexpr std::uint64_t record = sizeof(bsold::BLUETOOTH_DEVICE_INFO);
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kBsMaxRecords, (length + record / 2) / record));
    auto list = std::make_unique<TvyrBluetoothDevices>();
    for (std::uint32_t i = 0; i < count; ++i)
        AddInquiredDevice(*list, BytesToAddressText(records[i].address, 6, true));
    return list;
}

// The newer interface: the stack's inquiry-complete callback, on a stack thread.

// The window whose inquiry runs on the newer interface; null while none does. One per process: the stack's
// inquiry callback carries no context.
std::atomic<win::HWND> g_blueSoleilSlot{nullptr};

void BlueSoleilInquiryComplete() {
    const win::HWND wnd = g_blueSoleilSlot.load();
    if (!wnd)
        return;
    std::unique_ptr<TvyrBluetoothDevices> list;
    try {
        list = std::make_unique<TvyrBluetoothDevices>();
        const std::uint32_t n = vyr::Btsdk_GetInquiredDevices(nullptr, 0);
        if (n > 0) {
            std::vector<std::uint32_t> handles(n, 0);
            const std::uint32_t filled = std::min(n, vyr::Btsdk_GetInquiredDevices(handles.data(), n));
            for (std::uint32_t i = 0; i < filled; ++i) {
                std::uint8_t address[6] = {};
                if (vyr::Btsdk_GetRemoteDeviceAddress(handles[i], address) == bs::BTSDK_OK)
                    AddInquiredDevice(*list, BytesToAddressText(address, 6, true), true);
            }
        }
    } catch (...) {
        list = std::make_unique<TvyrBluetoothDevices>();
    }
    SendInquiryCompleted(wnd, list.get());
}

void RegisterBlueSoleilCallback(bool on) {
    bs::BtSdkCallbackStru callback{};
    callback.type = bs::BTSDK_CB_INQUIRY_COMPLETE;
    callback.func = on ? &BlueSoleilInquiryComplete : nullptr;
    vyr::Btsdk_RegisterCallback4ThirdParty(&callback);
}

// Seconds to the stack's units of 1.28 s, to the nearest, ties to even.
std::uint16_t BlueSoleilInquiryUnits(std::uint8_t seconds) {
    const unsigned scaled = seconds * 25u; // seconds / 1.28 == seconds * 25 / 32
    unsigned units = scaled / 32;
    const unsigned rest = scaled % 32;
    if (rest > 16 || (rest == 16 && (units & 1)))
        ++units;
    return static_cast<std::uint16_t>(units);
}

class TvyrBlueSoleilOlderInquiry : public TvyrBluetoothInquiry {
public:
    int Start(win::HWND wnd, std::uint8_t timeout) override {
        return StartInquiryWorker(wnd, timeout, &BlueSoleilOlderInquiry);
    }
    void Cancel() override { vyr::BT_CancelInquiry(); }
};

class TvyrBlueSoleilNewerInquiry : public TvyrBluetoothInquiry {
public:
    int Start(win::HWND wnd, std::uint8_t timeout) override {
        wnd_ = wnd;
        {
            win::HWND expected = nullptr;
            if (!g_blueSoleilSlot.compare_exchange_strong(expected, wnd_))
                return VYR_DISCOVERY_ACTIVE;
        }
        {
            bs::BtSdkCallbackStru callback{};
            callback.type = bs::BTSDK_CB_INQUIRY_COMPLETE;
            callback.func = &BlueSoleilInquiryComplete;
            if (vyr::Btsdk_RegisterCallback4ThirdParty(&callback) != bs::BTSDK_OK) {
                ReleaseSlot();
                return VYR_INTERNAL_ERROR;
            }
        }
        if (vyr::Btsdk_StartDeviceDiscovery(0, 0, BlueSoleilInquiryUnits(timeout)) != bs::BTSDK_OK) {
            RegisterBlueSoleilCallback(false);
            ReleaseSlot();
            return VYR_INTERNAL_ERROR;
        }
        win::PostMessageW(wnd_, WM_DISCOVERY_STARTED, 0, 0);
        return 0;
    }

    void Finished() override {
        RegisterBlueSoleilCallback(false);
        ReleaseSlot();
    }

    void Cancel() override {
        ReleaseSlot();
        RegisterBlueSoleilCallback(false);
        vyr::Btsdk_StopDeviceDiscovery();
    }

private:
    void ReleaseSlot() {
        win::HWND mine = wnd_;
        g_blueSoleilSlot.compare_exchange_strong(mine, nullptr);
    }

    win::HWND wnd_ = nullptr;
};

class TvyrBlueSoleilBackend : public TvyrBluetoothBackend {
public:
    TvyrRoadKind RoadKind() const override { return TvyrRoadKind::BlueSoleil; }
    bool OneAttemptAtATime() const override { return true; }

    int GetRadioAddress(std::u16string& address) const override {
        bsold::BLUETOOTH_DEVICE_INFO_EX rec{};
        rec.dwSize = sizeof rec;
        if (vyr::BT_GetLocalDeviceInfo(bsold::BT_INFO_ADDRESS, &rec) != bsold::BT_SUCCESS)
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(rec.address, 6, true);
        return 0;
    }

    int SetRadioName(const std::u16string& name) const override {
        bsold::BLUETOOTH_DEVICE_INFO rec{};
        rec.dwSize = sizeof rec;
        const std::string utf8 = CutUtf8(name, bsold::kDeviceNameSize);
        // Up to 64 bytes in the name field; the terminator after a full name lands in the padding.
        std::memcpy(reinterpret_cast<std::uint8_t*>(&rec) + offsetof(bsold::BLUETOOTH_DEVICE_INFO, szName), utf8.data(),
                    utf8.size());
        return vyr::BT_SetLocalDeviceInfo(bsold::BT_INFO_NAME, &rec) == bsold::BT_SUCCESS ? 0 : VYR_INTERNAL_ERROR;
    }

    int GetDeviceName(const std::u16string& address, std::u16string& name) const override {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address, newer);
        if (newer) {
            if (!handle)
                return VYR_INTERNAL_ERROR;
            std::uint8_t buffer[bs::kRemoteNameSize] = {};
            std::uint16_t size = sizeof buffer;
            if (vyr::Btsdk_GetRemoteDeviceName(static_cast<std::uint32_t>(handle), buffer, &size) != bs::BTSDK_OK) {
                std::memset(buffer, 0, sizeof buffer);
                size = sizeof buffer;
                if (vyr::Btsdk_UpdateRemoteDeviceName(static_cast<std::uint32_t>(handle), buffer, &size) !=
                    bs::BTSDK_OK)
                    return VYR_INTERNAL_ERROR;
            }
            name = DecodeStackText(buffer, sizeof buffer);
            return 0;
        }
        auto rec = BlueSoleilRecordEx(address);
        if (vyr::BT_GetRemoteDeviceInfo(bsold::BT_INFO_NAME, &rec) != bsold::BT_SUCCESS)
            return VYR_INTERNAL_ERROR;
        name = DecodeStackText(rec.szName, sizeof rec.szName);
        return 0;
    }

    int GetClassOfDevice(const std::u16string& address, int& classOfDevice) const override {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address, newer);
        if (newer) {
            if (!handle)
                return VYR_INTERNAL_ERROR;
            std::uint32_t value = 0;
            if (vyr::Btsdk_GetRemoteDeviceClass(static_cast<std::uint32_t>(handle), &value) != bs::BTSDK_OK)
                return VYR_INTERNAL_ERROR;
            classOfDevice = static_cast<int>(value);
            return 0;
        }
        auto rec = BlueSoleilRecordEx(address);
        if (vyr::BT_GetRemoteDeviceInfo(bsold::BT_INFO_CLASS, &rec) != bsold::BT_SUCCESS)
            return VYR_INTERNAL_ERROR;
        classOfDevice = rec.classOfDevice[2] << 16 | rec.classOfDevice[1] << 8 | rec.classOfDevice[0];
        return 0;
    }

    int Pair(const std::u16string& address, const std::u16string& pin) const override {
        const std::string pin8 = vcl::Utf16ToUtf8(pin);
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address, newer);
        if (newer) {
            if (vyr::Btsdk_SetFixedPinCode(pin8.c_str(), static_cast<std::uint16_t>(pin8.size())) != bs::BTSDK_OK)
                return VYR_INTERNAL_ERROR;
            switch (vyr::Btsdk_PairDevice(static_cast<std::uint32_t>(handle))) {
            case bs::BTSDK_OK:
                return 0;
            case bs::BTSDK_ER_PAIR_AUTH_FAILED:
                return VYR_AUTHENTICATION_FAILED;
            case bs::BTSDK_ER_PAIR_CANCELLED:
                return VYR_CANCELLED_BY_USER;
            case bs::BTSDK_ER_PAIR_DENIED:
                return VYR_ACCESS_DENIED;
            default:
                return VYR_INTERNAL_ERROR;
            }
        }
        const auto rec = BlueSoleilRecord(address);
        switch (vyr::BT_PairDevice(&rec, static_cast<std::uint16_t>(pin8.size()), pin8.c_str(), 0, 0)) {
        case bsold::BT_SUCCESS:
            return 0;
        case bsold::BT_ERROR_ALREADY_PAIRED:
            return VYR_ALREADY_PAIRED;
        case bsold::BT_ERROR_PAIR_AUTH_FAILED:
            return VYR_AUTHENTICATION_FAILED;
        default:
            return VYR_INTERNAL_ERROR;
        }
    }

    int Unpair(const std::u16string& address) const override {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address, newer);
        if (newer) {
            if (!handle)
                return VYR_INTERNAL_ERROR;
            return vyr::Btsdk_UnPairDevice(static_cast<std::uint32_t>(handle)) == bs::BTSDK_OK ? 0 : VYR_INTERNAL_ERROR;
        }
        const auto rec = BlueSoleilRecordEx(address);
        return vyr::BT_UnpairDevice(rec.address) == bsold::BT_SUCCESS ? 0 : VYR_INTERNAL_ERROR;
    }

    int EnumServices(const std::u16string& address, TvyrBluetoothServices* services,
                     const win::GUID* uuid) const override {
        return EnumBlueSoleil(address, services, uuid);
    }

    std::unique_ptr<TvyrBluetoothInquiry> CreateInquiry() const override {
        if (BlueSoleilUsesNewerInterface())
            return std::unique_ptr<TvyrBluetoothInquiry>(new (std::nothrow) TvyrBlueSoleilNewerInquiry);
        return std::unique_ptr<TvyrBluetoothInquiry>(new (std::nothrow) TvyrBlueSoleilOlderInquiry);
    }
};

} // namespace

const TvyrBluetoothBackend& BlueSoleilBackend() {
    static const TvyrBlueSoleilBackend backend;
    return backend;
}

} // namespace vyr
