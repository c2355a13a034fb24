// Service enumeration on the four stacks. The Microsoft stack hands back raw SDP records, read here with
// the SDP parser; every element taken from a record is size-checked, since the record comes from the
// remote device.
#include "vyrBluetoothDiscovery.h"
#include "vyrBluetoothStack.h"

#include "vcl/SysUtils.h"
#include "vyrBlueSoleil.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrMicrosoft.h"
#include "vyrSDPParser.h"
#include "vyrToshiba.h"
#include "vyrWidComm.h"
#include "win32/WinSockLookup.h"
#include "win32/Windows.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vyr {

namespace bsold = stackabi::bsold;
namespace wsabi = stackabi::ws;

namespace {

constexpr std::uint16_t AttrServiceClassIdList = 0x0001;
constexpr std::uint16_t AttrProtocolDescriptorList = 0x0004;
constexpr std::uint16_t AttrLanguageBase = 0x0006;
constexpr std::uint16_t AttrProfileDescriptorList = 0x0009;
constexpr std::uint16_t AttrServiceName = 0x0100;
constexpr std::uint16_t AttrServiceDescription = 0x0101;
constexpr std::uint16_t SerialPortClass = 0x1101;
constexpr std::uint16_t Utf8Mib = 106;
constexpr std::uint32_t MicrosoftResultBufferSize = 61440;
constexpr std::uint32_t BlueSoleilBrowseBufferSize = 14000;

const TvyrSDPElement* Element(const TvyrSDPAttribute* a, int index) {
    if (!a || index < 0 || index >= a->Elements()->Count())
        return nullptr;
    return a->Elements()->Items(index);
}

bool IsUuidSize(std::uint32_t size) {
    return size == 2 || size == 4 || size == 16;
}

// The 16-bit value by which a class element is compared with SerialPort.
std::uint16_t Short16(const TvyrSDPElement* e) {
    if (e->Size() == 2)
        return e->AsWord();
    if (e->Size() == 4)
        return static_cast<std::uint16_t>(e->AsCardinal());
    if (e->Size() >= 4)
        return static_cast<std::uint16_t>(e->Data()[2] << 8 | e->Data()[3]);
    return 0;
}

win::GUID UuidFromBigEndian(const std::uint8_t* b) {
    win::GUID g{};
    g.Data1 = static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    g.Data2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
    g.Data3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
    std::memcpy(g.Data4, b + 8, 8);
    return g;
}

std::u16string SdpText(const TvyrSDPElement* e, bool wide) {
    if (!e || e->Size() == 0)
        return {};
    if (!wide)
        return vcl::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(e->Data()), e->Size()));
    // Two bytes per character, low byte first; an odd last byte is left out.
    std::u16string out(e->Size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(e->Data()[2 * i] | e->Data()[2 * i + 1] << 8);
    return out;
}

// One service from one SDP record; null when the record names no usable class.
std::unique_ptr<TvyrBluetoothService> ServiceFromRecord(const TvyrSDPServiceRecord& record) {
    const TvyrSDPAttribute* profiles = record.AttributeById(AttrProfileDescriptorList);
    const TvyrSDPAttribute* classes = profiles ? profiles : record.AttributeById(AttrServiceClassIdList);
    if (!classes || classes->Elements()->Count() == 0)
        return nullptr;
    const TvyrSDPElement* cls = Element(classes, 0);
    if (!profiles) {
        for (const auto& e : *classes->Elements())
            if (IsUuidSize(e->Size()) && Short16(e.get()) != SerialPortClass) {
                cls = e.get();
                break;
            }
    }
    if (!IsUuidSize(cls->Size()))
        return nullptr;

    auto service = std::make_unique<TvyrBluetoothService>();
    if (cls->Size() == 16)
        service->SetUuid(UuidFromBigEndian(cls->Data()));
    else
        service->SetUuid(BluetoothUuid(Short16(cls)));

    const TvyrSDPAttribute* protocols = record.AttributeById(AttrProtocolDescriptorList);
    if (const TvyrSDPElement* channel =
            protocols && protocols->Elements()->Count() > 2 ? Element(protocols, 2) : nullptr)
        service->SetChannel(channel->Size() ? channel->Data()[0] : 0);

    bool wide = false;
    const TvyrSDPAttribute* language = record.AttributeById(AttrLanguageBase);
    if (language && language->Elements()->Count() >= 2) {
        const TvyrSDPElement* encoding = Element(language, 1);
        // A short encoding element cannot name anything: keep UTF-8.
        wide = encoding->Size() >= 2 && encoding->AsWord() != Utf8Mib;
    }
    service->SetName(SdpText(Element(record.AttributeById(AttrServiceName), 0), wide));
    service->SetComment(SdpText(Element(record.AttributeById(AttrServiceDescription), 0), wide));
    service->SetHandle(record.Handle());
    return service;
}

// ---- Microsoft ----

int EnumMicrosoft(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    std::vector<std::uint8_t> buffer;
    try {
        buffer.assign(MicrosoftResultBufferSize, 0);
    } catch (const std::bad_alloc&) {
        return VYR_OUT_OF_RESOURCES;
    }
    stackabi::AbiGuid classId = wsabi::L2CAP_PROTOCOL_UUID;
    if (uuid)
        std::memcpy(&classId, uuid, sizeof classId);
    std::u16string context = address;
    win::WSAQUERYSETW query{};
    query.dwSize = sizeof query;
    query.lpServiceClassId = &classId;
    query.dwNameSpace = wsabi::NS_BTH;
    query.lpszContext = context.data();

    win::HANDLE lookup = nullptr;
    if (win::WSALookupServiceBeginW(&query, wsabi::kServiceSearchFlags, &lookup) != 0) {
        if (win::WSAGetLastError() != wsabi::WSASERVICE_NOT_FOUND)
            return VYR_INTERNAL_ERROR;
        // The device may answer only once it is bonded: authenticate without a passkey and ask again.
        ms::BLUETOOTH_DEVICE_INFO rec{};
        rec.dwSize = sizeof rec;
        AddressTextToMsDeviceInfo(address, &rec);
        if (vyr::BluetoothAuthenticateDevice(nullptr, nullptr, &rec, u"", 0) != ms::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
        if (win::WSALookupServiceBeginW(&query, wsabi::kServiceSearchFlags, &lookup) != 0)
            return VYR_INTERNAL_ERROR;
    }
    services->Clear();
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        win::DWORD length = MicrosoftResultBufferSize;
        auto* result = reinterpret_cast<win::WSAQUERYSETW*>(buffer.data());
        if (win::WSALookupServiceNextW(lookup, 0, &length, result) != 0)
            break;
        if (!result->lpBlob || !result->lpBlob->pBlobData || result->lpBlob->cbSize == 0)
            continue;
        const std::uint32_t size = std::min<std::uint32_t>(result->lpBlob->cbSize, MicrosoftResultBufferSize);
        TvyrSDPParser parser(result->lpBlob->pBlobData, static_cast<int>(size));
        if (parser.Records()->Count() > 0)
            if (auto service = ServiceFromRecord(*parser.Records()->Items(0)))
                services->Add(std::move(service));
    }
    win::WSALookupServiceEnd(lookup);
    return 0;
}

// ---- Toshiba ----

class ToshibaSdpWindow : public TvyrHiddenWindowOwner {
public:
    win::WPARAM failMark = 0, endMark = 0;
    bool failed = false, ended = false;
    void Arm(win::WPARAM fail, win::WPARAM end) {
        failMark = fail;
        endMark = end;
        failed = ended = false;
    }
    void HiddenWindowMessage(win::UINT, win::WPARAM wParam, win::LPARAM) override {
        if (wParam == failMark)
            failed = true;
        else if (wParam == endMark)
            ended = true;
    }
};

// Waits for the end notice of one SDP step; false when it failed, ran out of time or the thread quits.
bool WaitSdpStep(win::HWND hwnd, win::UINT msg, ToshibaSdpWindow& owner) {
    bool quit = false;
    const bool ended = WaitForStackNotice(
        hwnd, msg, ToshibaServiceWaitMs, [&] { return owner.ended; }, &quit);
    return ended && !owner.failed;
}

win::GUID GuidFromToshibaUuid(const tos::BTUUIDINFO& u) {
    if (u.SizeBits == 16 || u.SizeBits == 32)
        return BluetoothUuid(static_cast<std::uint32_t>(u.Uuid[2] << 8 | u.Uuid[3]));
    if (u.SizeBits == 128)
        return UuidFromBigEndian(u.Uuid);
    return BluetoothBaseUuid;
}

int EnumToshiba(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    tos::BTUUIDINFO pattern{};
    pattern.SizeBits = 128;
    std::uint8_t uuidBytes[16];
    GuidToBytes(uuid ? *uuid : reinterpret_cast<const win::GUID&>(wsabi::L2CAP_PROTOCOL_UUID), uuidBytes);
    std::memcpy(pattern.Uuid, uuidBytes, 16);
    tos::BTSTATUS status = 0;
    tos::BTSEARCHPATTERN* searchPattern = nullptr;
    if (!vyr::BtMakeServiceSearchPattern2(1, &pattern, &searchPattern, &status))
        return VYR_INTERNAL_ERROR;
    tos::BTATTRIDLIST* attributeIds = nullptr;
    if (!vyr::BtMakeAttributeIDList2(tos::BTATTRMASK_SERVICE_SEARCH, 0, &attributeIds, &status)) {
        vyr::BtMemFree(searchPattern);
        return VYR_INTERNAL_ERROR;
    }
    ToshibaSdpWindow owner;
    win::HWND hwnd = CreateHiddenWindow();
    if (!hwnd) {
        vyr::BtMemFree(attributeIds);
        vyr::BtMemFree(searchPattern);
        return VYR_OUT_OF_RESOURCES;
    }
    AttachHiddenWindow(hwnd, &owner);

    std::uint8_t bytes[6];
    AddressTextToBytes(address, bytes);
    int result = VYR_INTERNAL_ERROR;
    std::uint16_t connection = 0;
    owner.Arm(tos::BTNOTIFY_SDP_CONNECT_FAILED, tos::BTNOTIFY_SDP_CONNECT_END);
    if (vyr::BtConnectSDP(bytes, &connection, &status, hwnd, WM_TOSHIBA_SDP_CONNECT, 0)) {
        if (WaitSdpStep(hwnd, WM_TOSHIBA_SDP_CONNECT, owner)) {
            tos::BTATTRLISTS* lists = nullptr;
            owner.Arm(tos::BTNOTIFY_SDP_SEARCH_FAILED, tos::BTNOTIFY_SDP_SEARCH_END);
            if (vyr::BtServiceSearchAttribute2(connection, searchPattern, attributeIds, 0, 0, &lists, &status, hwnd,
                                               WM_TOSHIBA_SDP_SEARCH, 0) &&
                WaitSdpStep(hwnd, WM_TOSHIBA_SDP_SEARCH, owner)) {
                tos::BTANALYZEDATTRLIST2* analysed = nullptr;
                if (vyr::BtAnalyzeServiceAttributeLists2(lists, tos::BTATTRMASK_SERVICE_SEARCH, &analysed, &status)) {
                    services->Clear();
                    for (std::uint32_t i = 0; analysed && analysed->Records && i < analysed->Count; ++i) {
                        const tos::BTANALYZEDATTR2& r = analysed->Records[i];
                        auto service = std::make_unique<TvyrBluetoothService>();
                        if (r.ServiceClassCount > 0 && r.ServiceClasses)
                            service->SetUuid(GuidFromToshibaUuid(r.ServiceClasses[0]));
                        if (r.ServiceName)
                            service->SetName(vcl::Utf8ToUtf16(
                                std::string_view(reinterpret_cast<const char*>(r.ServiceName), r.ServiceNameLength)));
                        if (r.HasHandle)
                            service->SetHandle(r.ServiceRecordHandle);
                        if (r.ServiceDescription)
                            service->SetComment(vcl::Utf8ToUtf16(std::string_view(
                                reinterpret_cast<const char*>(r.ServiceDescription), r.ServiceDescriptionLength)));
                        for (std::uint32_t d = 0; r.ProtocolDescriptors && d < r.ProtocolDescriptorCount; ++d) {
                            tos::BTPROTOCOLPARAM2 param{};
                            param.Size = sizeof param;
                            if (vyr::BtAnalyzeProtocolParameter2(&r.ProtocolDescriptors[d], &param, &status) &&
                                (param.Flags & tos::BTPROTO_HAS_CHANNEL))
                                service->SetChannel(param.Channel);
                        }
                        services->Add(std::move(service));
                    }
                    vyr::BtFreePBTANALYZEDATTRLIST2(analysed, &status);
                    result = 0;
                }
            }
            if (lists)
                vyr::BtMemFree(lists);
            vyr::BtDisconnectSDP(connection, &status);
        }
    }
    DestroyHiddenWindow(hwnd);
    vyr::BtMemFree(attributeIds);
    vyr::BtMemFree(searchPattern);
    return result;
}

// ---- BlueSoleil ----

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

// ---- WidComm ----

int EnumWidComm(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    auto buffer = std::make_unique<wd::WD_SERVICES>();
    std::memset(buffer.get(), 0, sizeof(wd::WD_SERVICES));
    std::uint8_t bytes[6];
    AddressTextToBytes(address, bytes);
    stackabi::AbiGuid classId{};
    if (uuid)
        std::memcpy(&classId, uuid, sizeof classId);
    if (!vyr::WD_EnumServices(bytes, uuid ? &classId : nullptr, buffer.get()))
        return VYR_INTERNAL_ERROR;
    services->Clear();
    const std::uint32_t count = std::min<std::uint32_t>(buffer->Count, wd::kMaxServices);
    for (std::uint32_t i = 0; i < count; ++i) {
        const wd::WD_SERVICE_RECORD& r = buffer->Records[i];
        auto service = std::make_unique<TvyrBluetoothService>();
        service->SetChannel(r.Channel);
        win::GUID g;
        std::memcpy(&g, &r.Uuid, sizeof g);
        service->SetUuid(g);
        service->SetName(DecodeStackText(r.Name, sizeof r.Name));
        service->SetHandle(r.Handle);
        services->Add(std::move(service));
    }
    return 0;
}

} // namespace

int TvyrBluetoothDevice::EnumServices(const TvyrBluetoothRadio* radio, TvyrBluetoothServices* services,
                                      const win::GUID* uuid) const {
    if (!services)
        throw vyrEInvalidArgument(StrServicesNotValid);
    if (const int r = CheckRadio(radio))
        return r;
    switch (radio->Api()) {
    case baBlueSoleil:
        return EnumBlueSoleil(address_, services, uuid);
    case baMicrosoft:
        return EnumMicrosoft(address_, services, uuid);
    case baToshiba:
        return EnumToshiba(address_, services, uuid);
    case baWidComm:
        return EnumWidComm(address_, services, uuid);
    }
    return VYR_INTERNAL_ERROR;
}

} // namespace vyr
