// NS_BTH service lookup over the simulated air (the Microsoft stack's view of the phones).
#include "win32/WinSockLookup.h"
#include "win32/LookupService.h"

#include "sim/air/Air.h"
#include "sim/air/SdpRecord.h"
#include "vcl/SysUtils.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"
#include "win32/WinSock.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace win {
namespace {

namespace ws = stackabi::ws;

constexpr int kMicrosoft = static_cast<int>(air::StackKind::Microsoft);

struct Lookup : KernelObject {
    std::mutex mu;
    std::vector<std::vector<uint8_t>> records;
    size_t next = 0;
};

int Fail(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

} // namespace

int WSALookupServiceBeginW(const WSAQUERYSETW* q, DWORD flags, HANDLE* lookup) {
    if (flags & ws::LUP_CONTAINERS)
        return BeginDeviceInquiry(q, flags, lookup);
    std::string context = q && q->lpszContext ? vcl::Utf16ToUtf8(q->lpszContext) : std::string();
    test::Record("WSALookupServiceBeginW", context + " flags=" + std::to_string(flags));
    if (!q || !lookup || q->dwNameSpace != ws::NS_BTH || !(flags & ws::LUP_RES_SERVICE) || !q->lpServiceClassId)
        return Fail(10022);
    if (test::ShouldFail("WSALookupServiceBeginW"))
        return Fail(static_cast<int>(test::Value("WSALookupServiceBeginW", ws::WSASERVICE_NOT_FOUND)));
    auto& theAir = air::Air::Instance();
    if (!theAir.RadioPresent(kMicrosoft))
        return Fail(WSAENETDOWN);
    const auto address = air::AddressFromText(context);
    const auto phone = address ? theAir.FindPhone(*address) : std::nullopt;
    if (!phone || !phone->inRange || !phone->ReachableFrom(kMicrosoft))
        return Fail(ws::WSASERVICE_NOT_FOUND);
    // A phone that wants a bond answers nothing until it has one.
    if (phone->link == air::LinkPolicy::NeedsPairing && !phone->pairing.paired)
        return Fail(ws::WSASERVICE_NOT_FOUND);

    auto found = std::make_shared<Lookup>();
    if (!phone->rawSdpRecords.empty()) {
        found->records = phone->rawSdpRecords;
    } else {
        const auto wanted = air::Service::FromGuid(*q->lpServiceClassId);
        const auto l2cap = air::Service::FromUuid16(0x0100);
        const auto rfcomm = air::Service::FromUuid16(0x0003);
        for (const auto& s : phone->services)
            if (wanted == l2cap || wanted == rfcomm || wanted == s.uuid)
                found->records.push_back(air::RenderSdpRecord(s));
    }
    if (found->records.empty())
        return Fail(ws::WSASERVICE_NOT_FOUND);
    *lookup = RegisterHandle(found);
    return 0;
}

int WSALookupServiceNextW(HANDLE lookup, DWORD flags, DWORD* bufferLength, WSAQUERYSETW* results) {
    test::Record("WSALookupServiceNextW", std::to_string(bufferLength ? *bufferLength : 0));
    if (auto inquiry = LookupHandleAs<LookupQuery>(lookup))
        return inquiry->Next(flags, bufferLength, results);
    auto l = LookupHandleAs<Lookup>(lookup);
    if (!l)
        return Fail(WSA_INVALID_HANDLE);
    std::lock_guard lk(l->mu);
    if (l->next >= l->records.size())
        return Fail(WSA_E_NO_MORE);
    const auto& record = l->records[l->next];
    const size_t need = sizeof(WSAQUERYSETW) + sizeof(ws::BLOB) + record.size();
    if (!bufferLength || !results || *bufferLength < need) {
        if (bufferLength)
            *bufferLength = static_cast<DWORD>(need);
        return Fail(WSAEFAULT);
    }
    auto* base = reinterpret_cast<uint8_t*>(results);
    std::memset(base, 0, need);
    results->dwSize = sizeof(WSAQUERYSETW);
    results->dwNameSpace = ws::NS_BTH;
    auto* blob = reinterpret_cast<ws::BLOB*>(base + sizeof(WSAQUERYSETW));
    blob->cbSize = static_cast<uint32_t>(record.size());
    blob->pBlobData = base + sizeof(WSAQUERYSETW) + sizeof(ws::BLOB);
    if (!record.empty())
        std::memcpy(blob->pBlobData, record.data(), record.size());
    results->lpBlob = blob;
    ++l->next;
    return 0;
}

int WSALookupServiceEnd(HANDLE lookup) {
    test::Record("WSALookupServiceEnd");
    if (!LookupHandleAs<Lookup>(lookup) && !LookupHandleAs<LookupQuery>(lookup))
        return Fail(WSA_INVALID_HANDLE);
    CloseHandle(lookup);
    return 0;
}

} // namespace win
