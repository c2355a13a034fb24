// NS_BTH device inquiry over the simulated air (the Microsoft stack's view of the phones).
#include "win32/LookupService.h"

#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"
#include "win32/WinSock.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace win {
namespace {

namespace ws = stackabi::ws;

constexpr int kMicrosoft = static_cast<int>(air::StackKind::Microsoft);
constexpr int kInquiryUnitMs = 1280;

int Fail(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

ws::BTH_ADDR ToBthAddr(const air::Address& a) {
    ws::BTH_ADDR v = 0;
    for (auto b : a)
        v = (v << 8) | b;
    return v;
}

class DeviceInquiry : public LookupQuery {
public:
    explicit DeviceInquiry(std::vector<air::Address> found) : found_(std::move(found)) {}

    int Next(DWORD, DWORD* bufferLength, WSAQUERYSETW* results) override {
        std::lock_guard lk(mu_);
        if (next_ >= found_.size())
            return Fail(WSA_E_NO_MORE);
        // The record, then the address pair, then the remote socket address.
        const size_t need = sizeof(WSAQUERYSETW) + sizeof(ws::CSADDR_INFO) + sizeof(ws::SOCKADDR_BTH);
        if (!bufferLength || !results || *bufferLength < need) {
            if (bufferLength)
                *bufferLength = static_cast<DWORD>(need);
            return Fail(WSAEFAULT);
        }
        auto* base = reinterpret_cast<uint8_t*>(results);
        std::memset(base, 0, need);
        auto* csa = reinterpret_cast<ws::CSADDR_INFO*>(base + sizeof(WSAQUERYSETW));
        auto* sa = reinterpret_cast<ws::SOCKADDR_BTH*>(base + sizeof(WSAQUERYSETW) + sizeof(ws::CSADDR_INFO));
        sa->addressFamily = static_cast<uint16_t>(ws::AF_BTH);
        sa->btAddr = ToBthAddr(found_[next_]);
        csa->RemoteAddr.lpSockaddr = sa;
        csa->RemoteAddr.iSockaddrLength = sizeof(ws::SOCKADDR_BTH);
        csa->iSocketType = ws::WS_SOCK_STREAM;
        csa->iProtocol = ws::BTHPROTO_RFCOMM;
        results->dwSize = sizeof(WSAQUERYSETW);
        results->dwNameSpace = ws::NS_BTH;
        results->dwNumberOfCsAddrs = 1;
        results->lpcsaBuffer = csa;
        ++next_;
        return 0;
    }

private:
    std::mutex mu_;
    std::vector<air::Address> found_;
    size_t next_ = 0;
};

} // namespace

int BeginDeviceInquiry(const WSAQUERYSETW* q, DWORD flags, HANDLE* lookup) {
    const ws::BTH_QUERY_DEVICE* query = nullptr;
    if (q && q->lpBlob && q->lpBlob->pBlobData && q->lpBlob->cbSize >= sizeof(ws::BTH_QUERY_DEVICE))
        query = reinterpret_cast<const ws::BTH_QUERY_DEVICE*>(q->lpBlob->pBlobData);
    test::Record("WSALookupServiceBeginW", "inquiry " + (query ? std::to_string(query->length) : std::string("-")) +
                                               " flags=" + std::to_string(flags));
    if (!q || !lookup || q->dwNameSpace != ws::NS_BTH || !(flags & ws::LUP_CONTAINERS) || !query)
        return Fail(ws::WSAEINVAL);
    if (test::ShouldFail("WSALookupServiceBeginW"))
        return Fail(static_cast<int>(test::Value("WSALookupServiceBeginW", ws::WSASERVICE_NOT_FOUND)));
    const auto result = air::Air::Instance().Inquire(kMicrosoft, query->length * kInquiryUnitMs);
    if (!result.radioPresent)
        return Fail(WSAENETDOWN);
    // The stack answers once the inquiry has run its length.
    std::this_thread::sleep_for(std::chrono::milliseconds(result.durationMs));
    if (result.found.empty())
        return Fail(ws::WSASERVICE_NOT_FOUND);
    std::vector<air::Address> found;
    found.reserve(result.found.size());
    for (const auto& p : result.found)
        found.push_back(p.address);
    *lookup = RegisterHandle(std::make_shared<DeviceInquiry>(std::move(found)));
    return 0;
}

int WSAAddressToStringW(const void* address, DWORD addressLength, const void*, char16_t* text, DWORD* length) {
    test::Record("WSAAddressToStringW");
    if (!address || addressLength < sizeof(ws::SOCKADDR_BTH) || !length)
        return Fail(ws::WSAEINVAL);
    if (test::ShouldFail("WSAAddressToStringW"))
        return Fail(ws::WSAEINVAL);
    ws::SOCKADDR_BTH sa;
    std::memcpy(&sa, address, sizeof sa);
    if (sa.addressFamily != ws::AF_BTH)
        return Fail(ws::WSAEINVAL);
    char buf[48];
    int n =
        std::snprintf(buf, sizeof buf, "(%02X:%02X:%02X:%02X:%02X:%02X)", unsigned(sa.btAddr >> 40 & 0xFF),
                      unsigned(sa.btAddr >> 32 & 0xFF), unsigned(sa.btAddr >> 24 & 0xFF),
                      unsigned(sa.btAddr >> 16 & 0xFF), unsigned(sa.btAddr >> 8 & 0xFF), unsigned(sa.btAddr & 0xFF));
    if (test::ShouldFail("WSAAddressToStringW:garbled"))
        buf[n - 3] = 'G'; // a stack that renders an address no one can read back
    if (sa.port != 0)
        n += std::snprintf(buf + n, sizeof buf - size_t(n), ":%u", sa.port);
    const DWORD need = static_cast<DWORD>(n) + 1;
    if (!text || *length < need) {
        *length = need;
        return Fail(WSAEFAULT);
    }
    for (int i = 0; i <= n; ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(buf[i]));
    *length = need;
    return 0;
}

} // namespace win
