// Stand-in for the Wi-Fi client library. The client service runs only while the air has a Wi-Fi
// adapter; opening a client then succeeds and negotiates the lower of the asked and the served version.
#include "stacks/wlanapi.h"

#include "sim/air/Air.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <memory>
#include <string>

namespace stackabi::wlan {
namespace {

constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr uint32_t kServedVersion = WLAN_CLIENT_VERSION_VISTA;

struct Client : win::KernelObject {};

} // namespace

extern "C" {

uint32_t WlanOpenHandle(uint32_t clientVersion, void* reserved, uint32_t* negotiatedVersion, Handle* clientHandle) {
    win::test::Record("WlanOpenHandle", std::to_string(clientVersion));
    if (reserved || !negotiatedVersion || !clientHandle || clientVersion == 0)
        return ERROR_INVALID_PARAMETER;
    if (win::test::ShouldFail("WlanOpenHandle"))
        return static_cast<uint32_t>(win::test::Value("WlanOpenHandle:error", ERROR_SERVICE_NOT_ACTIVE));
    if (!air::Air::Instance().WifiPresent())
        return ERROR_SERVICE_NOT_ACTIVE;
    *negotiatedVersion = clientVersion < kServedVersion ? clientVersion : kServedVersion;
    *clientHandle = win::RegisterHandle(std::make_shared<Client>());
    return ERROR_SUCCESS;
}

uint32_t WlanCloseHandle(Handle clientHandle, void* reserved) {
    win::test::Record("WlanCloseHandle", win::test::HandleText(clientHandle));
    if (reserved || !win::LookupHandleAs<Client>(clientHandle))
        return ERROR_INVALID_HANDLE;
    win::CloseHandle(clientHandle);
    return ERROR_SUCCESS;
}

} // extern "C"
} // namespace stackabi::wlan
