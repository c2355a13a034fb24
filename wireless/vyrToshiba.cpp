#include "vyrToshiba.h"

#include "vyrLoaderTable.h"
#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

#include <cstring>
#include <memory>

namespace vyr {
namespace {

enum TosEntry : std::size_t {
#define VYR_TOS_INDEX(name) tos_##name,
    ABI_TOS_NAMES(VYR_TOS_INDEX)
#undef VYR_TOS_INDEX
};

TvyrEntryTable<tos::kEntryPointCount>& Table() {
    static auto* table = new TvyrEntryTable<tos::kEntryPointCount>;
    return *table;
}

std::unique_ptr<TvyrToshibaLoader>& Singleton() {
    static auto* loader = new std::unique_ptr<TvyrToshibaLoader>;
    return *loader;
}

} // namespace

TvyrToshibaLoader::TvyrToshibaLoader(win::HWND apiWindow) {
    library_ = win::LoadLibraryW(u"TosBtAPI.dll");
    if (!library_)
        return;
    Table().Resolve(library_, tos::kEntryPointNames);

    auto undo = [this] {
        DestroyHiddenWindow(window_);
        Table().Clear();
        win::FreeLibrary(library_);
        library_ = nullptr;
    };
    window_ = CreateHiddenWindow();
    if (!window_) {
        undo();
        return;
    }
    AttachHiddenWindow(window_, this);

    tos::BTSTATUS status = 0;
    if (vyr::BtOpenAPI(window_, tos::kApplicationName, &status) == 0) {
        undo();
        return;
    }
    if (vyr::BtNotifyEvent(tos::BTEVENT_STACK_STATE, &status, window_, TOSHIBA_STACK_NOTICE) == 0) {
        vyr::BtCloseAPI(&status);
        undo();
        return;
    }
    tos::BTLOCALINFO2 info{};
    present_ = vyr::BtGetLocalInfo2(&info, &status) != 0;
    owner_ = apiWindow;
}

TvyrToshibaLoader::~TvyrToshibaLoader() {
    if (!library_)
        return;
    owner_ = nullptr;
    tos::BTSTATUS status = 0;
    vyr::BtCloseAPI(&status);
    DestroyHiddenWindow(window_);
    Table().Clear();
    win::FreeLibrary(library_);
    library_ = nullptr;
}

void TvyrToshibaLoader::HiddenWindowMessage(win::UINT msg, win::WPARAM, win::LPARAM lParam) {
    if (msg != TOSHIBA_STACK_NOTICE)
        return;
    bool on = lParam != 0;
    // Only a change is reported: the stack repeats its notice.
    if (on == present_.load())
        return;
    present_ = on;
    if (win::HWND owner = owner_.load())
        win::PostMessageW(owner, WM_BLUETOOTH_API_CHANGED, baToshiba + 1, on ? 1 : 0);
}

bool ToshibaLoaderPresent(win::HWND apiWindow) {
    auto& loader = Singleton();
    if (!loader)
        loader = std::make_unique<TvyrToshibaLoader>(apiWindow);
    return loader->Present();
}

void FreeToshibaLoader() {
    Singleton().reset();
}

// ---------------------------------------------------------------- wrappers

stackabi::Bool32 BtOpenAPI(stackabi::Hwnd window, const char* applicationName, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtOpenAPI>(tos_BtOpenAPI);
    return fn ? fn(window, applicationName, status) : 0;
}

stackabi::Bool32 BtCloseAPI(tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtCloseAPI>(tos_BtCloseAPI);
    return fn ? fn(status) : 0;
}

stackabi::Bool32 BtNotifyEvent(std::uint32_t eventMask, tos::BTSTATUS* status, stackabi::Hwnd window,
                               std::uint32_t message) {
    auto fn = Table().Get<tos::PFN_BtNotifyEvent>(tos_BtNotifyEvent);
    return fn ? fn(eventMask, status, window, message) : 0;
}

stackabi::Bool32 BtGetLocalInfo2(tos::BTLOCALINFO2* info, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtGetLocalInfo2>(tos_BtGetLocalInfo2);
    return fn ? fn(info, status) : 0;
}

stackabi::Bool32 BtSetLocalDeviceName(const std::uint8_t* name, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtSetLocalDeviceName>(tos_BtSetLocalDeviceName);
    return fn ? fn(name, status) : 0;
}

stackabi::Bool32 BtDiscoverRemoteDevice2(tos::BTDEVINFOLIST** list, std::uint32_t inquiryMode,
                                         std::uint32_t inquiryLength, tos::BTSTATUS* status, stackabi::Hwnd window,
                                         std::uint32_t message) {
    auto fn = Table().Get<tos::PFN_BtDiscoverRemoteDevice2>(tos_BtDiscoverRemoteDevice2);
    return fn ? fn(list, inquiryMode, inquiryLength, status, window, message) : 0;
}

stackabi::Bool32 BtCancelDiscoverRemoteDevice(tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtCancelDiscoverRemoteDevice>(tos_BtCancelDiscoverRemoteDevice);
    return fn ? fn(status) : 0;
}

stackabi::Bool32 BtGetRemoteDeviceList2(tos::BTDEVINFOLIST** list, std::uint32_t filter, std::uint32_t reserved,
                                        tos::BTSTATUS* status, stackabi::Hwnd window, std::uint32_t message) {
    auto fn = Table().Get<tos::PFN_BtGetRemoteDeviceList2>(tos_BtGetRemoteDeviceList2);
    return fn ? fn(list, filter, reserved, status, window, message) : 0;
}

stackabi::Bool32 BtGetRemoteClassOfDevice(const std::uint8_t* bdAddr, std::uint32_t* classOfDevice,
                                          tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtGetRemoteClassOfDevice>(tos_BtGetRemoteClassOfDevice);
    return fn ? fn(bdAddr, classOfDevice, status) : 0;
}

stackabi::Bool32 BtGetRemoteName(const std::uint8_t* bdAddr, std::uint8_t* name, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtGetRemoteName>(tos_BtGetRemoteName);
    return fn ? fn(bdAddr, name, status) : 0;
}

stackabi::Bool32 BtConnectSDP(const std::uint8_t* bdAddr, std::uint16_t* connection, tos::BTSTATUS* status,
                              stackabi::Hwnd window, std::uint32_t message, std::uint32_t reserved) {
    auto fn = Table().Get<tos::PFN_BtConnectSDP>(tos_BtConnectSDP);
    return fn ? fn(bdAddr, connection, status, window, message, reserved) : 0;
}

stackabi::Bool32 BtDisconnectSDP(std::uint16_t connection, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtDisconnectSDP>(tos_BtDisconnectSDP);
    return fn ? fn(connection, status) : 0;
}

stackabi::Bool32 BtServiceSearchAttribute2(std::uint16_t connection, const tos::BTSEARCHPATTERN* pattern,
                                           const tos::BTATTRIDLIST* attributeIds, std::uint32_t maxAttributeBytes,
                                           std::uint32_t flags, tos::BTATTRLISTS** attributeLists,
                                           tos::BTSTATUS* status, stackabi::Hwnd window, std::uint32_t message,
                                           std::uint32_t reserved) {
    auto fn = Table().Get<tos::PFN_BtServiceSearchAttribute2>(tos_BtServiceSearchAttribute2);
    return fn ? fn(connection, pattern, attributeIds, maxAttributeBytes, flags, attributeLists, status, window, message,
                   reserved)
              : 0;
}

stackabi::Bool32 BtMakeServiceSearchPattern2(std::uint32_t count, const tos::BTUUIDINFO* uuids,
                                             tos::BTSEARCHPATTERN** pattern, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtMakeServiceSearchPattern2>(tos_BtMakeServiceSearchPattern2);
    return fn ? fn(count, uuids, pattern, status) : 0;
}

stackabi::Bool32 BtMakeAttributeIDList2(std::uint32_t attributeMask, std::uint32_t reserved,
                                        tos::BTATTRIDLIST** attributeIds, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtMakeAttributeIDList2>(tos_BtMakeAttributeIDList2);
    return fn ? fn(attributeMask, reserved, attributeIds, status) : 0;
}

stackabi::Bool32 BtAnalyzeServiceAttributeLists2(const tos::BTATTRLISTS* attributeLists, std::uint32_t attributeMask,
                                                 tos::BTANALYZEDATTRLIST2** analysed, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtAnalyzeServiceAttributeLists2>(tos_BtAnalyzeServiceAttributeLists2);
    return fn ? fn(attributeLists, attributeMask, analysed, status) : 0;
}

stackabi::Bool32 BtFreePBTANALYZEDATTRLIST2(tos::BTANALYZEDATTRLIST2* analysed, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtFreePBTANALYZEDATTRLIST2>(tos_BtFreePBTANALYZEDATTRLIST2);
    return fn ? fn(analysed, status) : 0;
}

stackabi::Bool32 BtAnalyzeProtocolParameter2(const tos::BTPROTOCOLDESC* descriptor, tos::BTPROTOCOLPARAM2* param,
                                             tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtAnalyzeProtocolParameter2>(tos_BtAnalyzeProtocolParameter2);
    return fn ? fn(descriptor, param, status) : 0;
}

stackabi::Bool32 BtCreateCOMM(const char* portName, std::uint32_t reserved1, std::uint32_t reserved2,
                              tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtCreateCOMM>(tos_BtCreateCOMM);
    return fn ? fn(portName, reserved1, reserved2, status) : 0;
}

stackabi::Bool32 BtDestroyCOMM(const char* portName, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtDestroyCOMM>(tos_BtDestroyCOMM);
    return fn ? fn(portName, status) : 0;
}

stackabi::Bool32 BtConnectCOMM2(const char* portName, const std::uint8_t* bdAddr, std::uint8_t channel,
                                std::uint32_t connectKind, std::uint16_t* connection, std::uint32_t security,
                                tos::BTSTATUS* status, stackabi::Hwnd window, std::uint32_t message,
                                std::uint32_t reserved) {
    auto fn = Table().Get<tos::PFN_BtConnectCOMM2>(tos_BtConnectCOMM2);
    return fn ? fn(portName, bdAddr, channel, connectKind, connection, security, status, window, message, reserved) : 0;
}

stackabi::Bool32 BtDisconnectCOMM(const char* portName, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtDisconnectCOMM>(tos_BtDisconnectCOMM);
    return fn ? fn(portName, status) : 0;
}

stackabi::Bool32 BtNotifyCOMM(const char* portName, std::uint32_t mode, const std::uint8_t* bdAddr,
                              std::uint16_t connection, tos::BTSTATUS* status, stackabi::Hwnd window,
                              std::uint32_t message, std::uint32_t reserved) {
    auto fn = Table().Get<tos::PFN_BtNotifyCOMM>(tos_BtNotifyCOMM);
    return fn ? fn(portName, mode, bdAddr, connection, status, window, message, reserved) : 0;
}

stackabi::Bool32 BtConnect(const std::uint8_t* bdAddr, std::uint32_t kind, std::uint16_t psm, std::uint16_t mtu,
                           std::uint32_t flushTimeout, const tos::BTCONNPARAM* params, std::uint32_t paramsSize,
                           std::uint16_t* connection, std::uint32_t security, tos::BTSTATUS* status,
                           stackabi::Hwnd window, std::uint32_t message, std::uint32_t reserved) {
    auto fn = Table().Get<tos::PFN_BtConnect>(tos_BtConnect);
    return fn ? fn(bdAddr, kind, psm, mtu, flushTimeout, params, paramsSize, connection, security, status, window,
                   message, reserved)
              : 0;
}

stackabi::Bool32 BtDisconnect(std::uint16_t connection, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtDisconnect>(tos_BtDisconnect);
    return fn ? fn(connection, status) : 0;
}

stackabi::Bool32 BtSetAutoReplyPinCode(const tos::BTADDR8* address, const char* pin, std::uint32_t pinLength,
                                       tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtSetAutoReplyPinCode>(tos_BtSetAutoReplyPinCode);
    if (!fn)
        return 0;
    // The stack gets the wrapper's own copy of the caller's address record.
    tos::BTADDR8 copy{};
    if (address)
        std::memcpy(&copy, address, sizeof copy);
    return fn(address ? &copy : nullptr, pin, pinLength, status);
}

stackabi::Bool32 BtClearAutoReplyPinCode(const tos::BTADDR8* address, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtClearAutoReplyPinCode>(tos_BtClearAutoReplyPinCode);
    if (!fn)
        return 0;
    // The stack gets the wrapper's own copy of the caller's address record.
    tos::BTADDR8 copy{};
    if (address)
        std::memcpy(&copy, address, sizeof copy);
    return fn(address ? &copy : nullptr, status);
}

stackabi::Bool32 BtSetIOCapabilityResponse(const std::uint8_t* bdAddr, std::uint8_t ioCapability,
                                           std::uint8_t oobDataPresent, std::uint8_t authenticationRequirements,
                                           tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtSetIOCapabilityResponse>(tos_BtSetIOCapabilityResponse);
    return fn ? fn(bdAddr, ioCapability, oobDataPresent, authenticationRequirements, status) : 0;
}

stackabi::Bool32 BtClearIOCapabilityResponse(const std::uint8_t* bdAddr, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtClearIOCapabilityResponse>(tos_BtClearIOCapabilityResponse);
    return fn ? fn(bdAddr, status) : 0;
}

stackabi::Bool32 BtDeleteLinkKey(const tos::BTLINKKEYDELETE* devices, tos::BTSTATUS* status) {
    auto fn = Table().Get<tos::PFN_BtDeleteLinkKey>(tos_BtDeleteLinkKey);
    return fn ? fn(devices, status) : 0;
}

void BtMemFree(void* memory) {
    if (auto fn = Table().Get<tos::PFN_BtMemFree>(tos_BtMemFree))
        fn(memory);
}

} // namespace vyr
