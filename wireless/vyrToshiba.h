// The Toshiba stack's loader and the wrappers through which the library calls "TosBtAPI.dll".
//
// The loader opens the stack's API for the library and registers for its on/off notice, which the stack
// delivers as message 1026 to the loader's own window (the same number means a presence change only on
// the API window).
#pragma once

#include "stacks/tosbtapi.h"
#include "vyrAPI.h"
#include "win32/WinTypes.h"

#include <atomic>
#include <cstdint>

namespace vyr {

namespace tos = stackabi::tos;

// The message the stack's on/off notice arrives with on the loader's window.
inline constexpr win::UINT TOSHIBA_STACK_NOTICE = 1026;

class TvyrToshibaLoader : private TvyrHiddenWindowOwner {
public:
    // Loads the library, opens the API, registers for the on/off notice and asks for the local radio;
    // a failing step undoes the earlier ones.
    explicit TvyrToshibaLoader(win::HWND apiWindow);
    ~TvyrToshibaLoader() override;
    TvyrToshibaLoader(const TvyrToshibaLoader&) = delete;
    TvyrToshibaLoader& operator=(const TvyrToshibaLoader&) = delete;

    bool Present() const { return present_.load(); }

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

    std::atomic<bool> present_{false};
    win::HMODULE library_ = nullptr;
    win::HWND window_ = nullptr;
    std::atomic<win::HWND> owner_{nullptr};
};

bool ToshibaLoaderPresent(win::HWND apiWindow);
void FreeToshibaLoader();

// Call the wrappers qualified (vyr::Name): the records' namespace brings the stack's own declaration of
// the same name into an unqualified call, which the compiler then rejects as ambiguous.
// Wrappers: each returns 0, the stack's failure value, when its entry point is missing; BtMemFree then
// makes no call.
stackabi::Bool32 BtOpenAPI(stackabi::Hwnd window, const char* applicationName, tos::BTSTATUS* status);
stackabi::Bool32 BtCloseAPI(tos::BTSTATUS* status);
stackabi::Bool32 BtNotifyEvent(std::uint32_t eventMask, tos::BTSTATUS* status, stackabi::Hwnd window,
                               std::uint32_t message);
stackabi::Bool32 BtGetLocalInfo2(tos::BTLOCALINFO2* info, tos::BTSTATUS* status);
stackabi::Bool32 BtSetLocalDeviceName(const std::uint8_t* name, tos::BTSTATUS* status);
stackabi::Bool32 BtDiscoverRemoteDevice2(tos::BTDEVINFOLIST** list, std::uint32_t inquiryMode,
                                         std::uint32_t inquiryLength, tos::BTSTATUS* status, stackabi::Hwnd window,
                                         std::uint32_t message);
stackabi::Bool32 BtCancelDiscoverRemoteDevice(tos::BTSTATUS* status);
stackabi::Bool32 BtGetRemoteDeviceList2(tos::BTDEVINFOLIST** list, std::uint32_t filter, std::uint32_t reserved,
                                        tos::BTSTATUS* status, stackabi::Hwnd window, std::uint32_t message);
stackabi::Bool32 BtGetRemoteClassOfDevice(const std::uint8_t* bdAddr, std::uint32_t* classOfDevice,
                                          tos::BTSTATUS* status);
stackabi::Bool32 BtGetRemoteName(const std::uint8_t* bdAddr, std::uint8_t* name, tos::BTSTATUS* status);
stackabi::Bool32 BtConnectSDP(const std::uint8_t* bdAddr, std::uint16_t* connection, tos::BTSTATUS* status,
                              stackabi::Hwnd window, std::uint32_t message, std::uint32_t reserved);
stackabi::Bool32 BtDisconnectSDP(std::uint16_t connection, tos::BTSTATUS* status);
stackabi::Bool32 BtServiceSearchAttribute2(std::uint16_t connection, const tos::BTSEARCHPATTERN* pattern,
                                           const tos::BTATTRIDLIST* attributeIds, std::uint32_t maxAttributeBytes,
                                           std::uint32_t flags, tos::BTATTRLISTS** attributeLists,
                                           tos::BTSTATUS* status, stackabi::Hwnd window, std::uint32_t message,
                                           std::uint32_t reserved);
stackabi::Bool32 BtMakeServiceSearchPattern2(std::uint32_t count, const tos::BTUUIDINFO* uuids,
                                             tos::BTSEARCHPATTERN** pattern, tos::BTSTATUS* status);
stackabi::Bool32 BtMakeAttributeIDList2(std::uint32_t attributeMask, std::uint32_t reserved,
                                        tos::BTATTRIDLIST** attributeIds, tos::BTSTATUS* status);
stackabi::Bool32 BtAnalyzeServiceAttributeLists2(const tos::BTATTRLISTS* attributeLists, std::uint32_t attributeMask,
                                                 tos::BTANALYZEDATTRLIST2** analysed, tos::BTSTATUS* status);
stackabi::Bool32 BtFreePBTANALYZEDATTRLIST2(tos::BTANALYZEDATTRLIST2* analysed, tos::BTSTATUS* status);
stackabi::Bool32 BtAnalyzeProtocolParameter2(const tos::BTPROTOCOLDESC* descriptor, tos::BTPROTOCOLPARAM2* param,
                                             tos::BTSTATUS* status);
stackabi::Bool32 BtCreateCOMM(const char* portName, std::uint32_t reserved1, std::uint32_t reserved2,
                              tos::BTSTATUS* status);
stackabi::Bool32 BtDestroyCOMM(const char* portName, tos::BTSTATUS* status);
stackabi::Bool32 BtConnectCOMM2(const char* portName, const std::uint8_t* bdAddr, std::uint8_t channel,
                                std::uint32_t connectKind, std::uint16_t* connection, std::uint32_t security,
                                tos::BTSTATUS* status, stackabi::Hwnd window, std::uint32_t message,
                                std::uint32_t reserved);
stackabi::Bool32 BtDisconnectCOMM(const char* portName, tos::BTSTATUS* status);
stackabi::Bool32 BtNotifyCOMM(const char* portName, std::uint32_t mode, const std::uint8_t* bdAddr,
                              std::uint16_t connection, tos::BTSTATUS* status, stackabi::Hwnd window,
                              std::uint32_t message, std::uint32_t reserved);
stackabi::Bool32 BtConnect(const std::uint8_t* bdAddr, std::uint32_t kind, std::uint16_t psm, std::uint16_t mtu,
                           std::uint32_t flushTimeout, const tos::BTCONNPARAM* params, std::uint32_t paramsSize,
                           std::uint16_t* connection, std::uint32_t security, tos::BTSTATUS* status,
                           stackabi::Hwnd window, std::uint32_t message, std::uint32_t reserved);
stackabi::Bool32 BtDisconnect(std::uint16_t connection, tos::BTSTATUS* status);
stackabi::Bool32 BtSetAutoReplyPinCode(const tos::BTADDR8* address, const char* pin, std::uint32_t pinLength,
                                       tos::BTSTATUS* status);
stackabi::Bool32 BtClearAutoReplyPinCode(const tos::BTADDR8* address, tos::BTSTATUS* status);
stackabi::Bool32 BtSetIOCapabilityResponse(const std::uint8_t* bdAddr, std::uint8_t ioCapability,
                                           std::uint8_t oobDataPresent, std::uint8_t authenticationRequirements,
                                           tos::BTSTATUS* status);
stackabi::Bool32 BtClearIOCapabilityResponse(const std::uint8_t* bdAddr, tos::BTSTATUS* status);
stackabi::Bool32 BtDeleteLinkKey(const tos::BTLINKKEYDELETE* devices, tos::BTSTATUS* status);
void BtMemFree(void* memory);

} // namespace vyr
