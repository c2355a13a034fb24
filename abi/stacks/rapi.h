// Device link to a handheld: "rapi.dll" (loaded only when the marker "ceutil.dll" loads) and the desktop
// connection manager, a COM object whose advise sink tells when a device connects or goes.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::rapi {

// The names the loader resolves, in resolve order (82).
#define ABI_RAPI_NAMES(X)                                                                                              \
    X(CeRapiInitEx)                                                                                                    \
    X(CeRapiInit)                                                                                                      \
    X(CeRapiUninit)                                                                                                    \
    X(CeRapiGetError)                                                                                                  \
    X(CeRapiFreeBuffer)                                                                                                \
    X(CeRapiInvoke)                                                                                                    \
    X(CeCreateDatabase)                                                                                                \
    X(CeDeleteDatabase)                                                                                                \
    X(CeDeleteRecord)                                                                                                  \
    X(CeFindFirstDatabase)                                                                                             \
    X(CeFindNextDatabase)                                                                                              \
    X(CeOidGetInfo)                                                                                                    \
    X(CeOpenDatabase)                                                                                                  \
    X(CeReadRecordProps)                                                                                               \
    X(CeSeekDatabase)                                                                                                  \
    X(CeSetDatabaseInfo)                                                                                               \
    X(CeFindFirstFile)                                                                                                 \
    X(CeFindNextFile)                                                                                                  \
    X(CeFindClose)                                                                                                     \
    X(CeGetFileAttributes)                                                                                             \
    X(CeSetFileAttributes)                                                                                             \
    X(CeCreateFile)                                                                                                    \
    X(CeReadFile)                                                                                                      \
    X(CeWriteFile)                                                                                                     \
    X(CeCloseHandle)                                                                                                   \
    X(CeFindAllFiles)                                                                                                  \
    X(CeFindAllDatabases)                                                                                              \
    X(CeGetLastError)                                                                                                  \
    X(CeSetFilePointer)                                                                                                \
    X(CeSetEndOfFile)                                                                                                  \
    X(CeCreateDirectory)                                                                                               \
    X(CeRemoveDirectory)                                                                                               \
    X(CeCreateProcess)                                                                                                 \
    X(CeMoveFile)                                                                                                      \
    X(CeCopyFile)                                                                                                      \
    X(CeDeleteFile)                                                                                                    \
    X(CeGetFileSize)                                                                                                   \
    X(CeRegOpenKeyEx)                                                                                                  \
    X(CeRegEnumKeyEx)                                                                                                  \
    X(CeRegCreateKeyEx)                                                                                                \
    X(CeRegCloseKey)                                                                                                   \
    X(CeRegDeleteKey)                                                                                                  \
    X(CeRegEnumValue)                                                                                                  \
    X(CeRegDeleteValue)                                                                                                \
    X(CeRegQueryInfoKey)                                                                                               \
    X(CeRegQueryValueEx)                                                                                               \
    X(CeRegSetValueEx)                                                                                                 \
    X(CeGetStoreInformation)                                                                                           \
    X(CeGetSystemMetrics)                                                                                              \
    X(CeGetDesktopDeviceCaps)                                                                                          \
    X(CeGetSystemInfo)                                                                                                 \
    X(CeSHCreateShortcut)                                                                                              \
    X(CeSHGetShortcutTarget)                                                                                           \
    X(CeCheckPassword)                                                                                                 \
    X(CeGetFileTime)                                                                                                   \
    X(CeSetFileTime)                                                                                                   \
    X(CeGetVersionEx)                                                                                                  \
    X(CeGetWindow)                                                                                                     \
    X(CeGetWindowLong)                                                                                                 \
    X(CeGetWindowText)                                                                                                 \
    X(CeGetClassName)                                                                                                  \
    X(CeGlobalMemoryStatus)                                                                                            \
    X(CeGetSystemPowerStatusEx)                                                                                        \
    X(CeGetTempPath)                                                                                                   \
    X(CeGetSpecialFolderPath)                                                                                          \
    X(CeFindFirstDatabaseEx)                                                                                           \
    X(CeFindNextDatabaseEx)                                                                                            \
    X(CeCreateDatabaseEx)                                                                                              \
    X(CeSetDatabaseInfoEx)                                                                                             \
    X(CeOpenDatabaseEx)                                                                                                \
    X(CeDeleteDatabaseEx)                                                                                              \
    X(CeReadRecordPropsEx)                                                                                             \
    X(CeWriteRecordProps)                                                                                              \
    X(CeMountDBVol)                                                                                                    \
    X(CeUnmountDBVol)                                                                                                  \
    X(CeFlushDBVol)                                                                                                    \
    X(CeEnumDBVolumes)                                                                                                 \
    X(CeOidGetInfoEx)                                                                                                  \
    X(CeSyncStart)                                                                                                     \
    X(CeSyncStop)                                                                                                      \
    X(CeQueryInstructionSet)                                                                                           \
    X(CeGetDiskFreeSpaceEx)

inline constexpr const char* kEntryPointNames[] = {ABI_RAPI_NAMES(ABI_ENTRY_NAME)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 82);

inline constexpr const char* kMarkerLibrary = "ceutil.dll";
inline constexpr const char* kLibrary = "rapi.dll";

inline constexpr HResult S_OK = 0;
inline constexpr HResult E_NOINTERFACE = HResult(0x80004002u);
inline constexpr HResult E_FAIL = HResult(0x80004005u); // also the loader's default for a missing entry point

inline constexpr uint32_t CLSCTX_INPROC_SERVER = 1;

// The connection manager's class and its interface.
inline constexpr AbiGuid CLSID_DccMan = AbiGuid::FromText("499C0C20-A766-11CF-8011-00A0C90A8F78");
inline constexpr AbiGuid IID_IDccMan = AbiGuid::FromText("A7B88841-A812-11CF-8011-00A0C90A8F78");
inline constexpr AbiGuid IID_IUnknown = AbiGuid::FromText("00000000-0000-0000-C000-000000000046");

// COM interfaces as vtables of pure virtual methods with the default calling convention; both sides are
// built by the same compiler, so the slot order below is the binary contract. Objects are reference
// counted and never deleted through these pointers.
class IUnknown {
public:
    virtual HResult QueryInterface(const AbiGuid& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

// The advise sink the loader implements; the manager may call it on any thread. Every method returns S_OK.
class IDccManSink : public IUnknown {
public:
    virtual HResult OnLogIpAddr(uint32_t ipAddress) = 0;
    virtual HResult OnLogTerminated() = 0;
    virtual HResult OnLogActive() = 0; // a device connected
    virtual HResult OnLogInactive() = 0;
    virtual HResult OnLogAnswered() = 0;
    virtual HResult OnLogListen() = 0;
    virtual HResult OnLogDisconnection() = 0; // the device went
    virtual HResult OnLogError() = 0;

protected:
    ~IDccManSink() = default;
};

// The connection manager. Only the two methods the library calls are declared; they are the first after
// IUnknown's.
class IDccMan : public IUnknown {
public:
    // Keeps a reference to sink until Unadvise; *cookie names the registration.
    virtual HResult Advise(IDccManSink* sink, uint32_t* cookie) = 0;
    virtual HResult Unadvise(uint32_t cookie) = 0;

protected:
    ~IDccMan() = default;
};

extern "C" {
// 0 (S_OK) when a connection to the device is set up.
HResult CeRapiInit();
HResult CeRapiUninit();
}

using PFN_CeRapiInit = decltype(&CeRapiInit);
using PFN_CeRapiUninit = decltype(&CeRapiUninit);

} // namespace stackabi::rapi
