// The serial road: a COM port opened on the caller's thread, read by a worker with overlapped reads.
#include "vcl/SysUtils.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrRoads.h"
#include "win32/Serial.h"
#include "win32/WinBase.h"

#include <vector>

namespace vyr {

namespace {

constexpr win::DWORD kMaxDword = 0xFFFFFFFF;

class TvyrSerialRoad : public TvyrTransportRoad {
public:
    using TvyrTransportRoad::TvyrTransportRoad;
    ~TvyrSerialRoad() override { ClosePort(); }

    int Open() override {
        TvyrCustomClientConnection& c = Connection();
        const TvyrClientSerialParams* p = c.SerialParams();
        std::u16string name = vcl::Format(u"\\\\.\\COM%d", static_cast<long long>(p->Port()));
        port_ = win::CreateFileW(name.c_str(), win::GENERIC_READ | win::GENERIC_WRITE,
                                 win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr, win::OPEN_EXISTING,
                                 win::FILE_FLAG_OVERLAPPED, nullptr);
        if (port_ == win::INVALID_HANDLE_VALUE) {
            port_ = nullptr;
            return VYR_INTERNAL_ERROR;
        }
        if (!Configure()) {
            ClosePort();
            return VYR_INTERNAL_ERROR;
        }
        drain_ = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
        if (!drain_) {
            ClosePort();
            return VYR_OUT_OF_RESOURCES;
        }
        const win::DWORD readSize = c.Buffers()->ReadBuffer();
        int r = StartWorker([this, readSize](win::HANDLE terminate) { ReadLoop(terminate, readSize); });
        if (r != VYR_SUCCESS) {
            ClosePort();
            return r;
        }
        PostConnectResult(VYR_SUCCESS);
        return VYR_SUCCESS;
    }

    void Close() override {
        StopWorker(); // the reader has cancelled its read and let go of its buffer
        ClosePort();
    }

    bool EndAfterDelivery() override {
        // The reader ends on its own once the port has nothing more for it (or has already ended with a
        // notice of its own).
        if (!drain_)
            return false;
        win::SetEvent(drain_);
        return true;
    }

    int Write(const void* buffer, win::DWORD size) override {
        if (!port_)
            return VYR_INTERNAL_ERROR;
        win::HANDLE event = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
        if (!event)
            return VYR_INTERNAL_ERROR;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        win::DWORD written = 0;
        int result = VYR_SUCCESS;
        while (written < size) {
            win::OVERLAPPED ov{};
            ov.hEvent = event;
            win::DWORD count = 0;
            if (win::WriteFile(port_, bytes + written, size - written, &count, &ov)) {
                // A write that timed out with nothing sent would repeat for ever.
                if (count == 0) {
                    result = VYR_INTERNAL_ERROR;
                    break;
                }
                written += count;
                continue;
            }
            if (win::GetLastError() != win::ERROR_IO_PENDING) {
                result = VYR_INTERNAL_ERROR;
                break;
            }
            if (win::GetOverlappedResult(port_, &ov, &count, win::TRUE)) {
                win::ClearCommError(port_, nullptr, nullptr);
                written += count;
            } else if (win::GetLastError() != win::ERROR_IO_INCOMPLETE) {
                result = VYR_INTERNAL_ERROR;
                break;
            } else {
                win::ClearCommError(port_, nullptr, nullptr);
                if (win::WaitForSingleObject(event, 30000) != win::WAIT_OBJECT_0) {
                    result = VYR_INTERNAL_ERROR;
                    break;
                }
                written += static_cast<win::DWORD>(ov.InternalHigh);
            }
        }
        win::CloseHandle(event);
        return result;
    }

private:
    bool Configure() {
        const TvyrCustomClientConnection& c = Connection();
        const TvyrClientSerialParams* p = c.SerialParams();
        win::DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!win::GetCommState(port_, &dcb))
            return false;
        dcb.BaudRate = p->BaudRateValue();
        dcb.Parity = static_cast<win::BYTE>(p->Parity());
        dcb.ByteSize = static_cast<win::BYTE>(p->ByteSize() + 4);
        dcb.StopBits = static_cast<win::BYTE>(p->StopBits());
        if (!win::SetCommState(port_, &dcb))
            return false;
        win::COMMTIMEOUTS to{kMaxDword, kMaxDword, 2, 0, 30000};
        if (!win::SetCommTimeouts(port_, &to))
            return false;
        return win::PurgeComm(port_,
                              win::PURGE_TXABORT | win::PURGE_RXABORT | win::PURGE_TXCLEAR | win::PURGE_RXCLEAR) &&
               win::SetupComm(port_, c.Buffers()->ReadBuffer(), c.Buffers()->WriteBuffer()) &&
               win::EscapeCommFunction(port_, win::SETRTS) && win::EscapeCommFunction(port_, win::SETDTR);
    }

    void ClosePort() {
        if (port_) {
            win::CloseHandle(port_);
            port_ = nullptr;
        }
        if (drain_) {
            win::CloseHandle(drain_);
            drain_ = nullptr;
        }
    }

    void ReadLoop(win::HANDLE terminate, win::DWORD readSize) {
        std::vector<std::uint8_t> buffer(readSize ? readSize : 1);
        win::HANDLE event = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
        if (!event) {
            PostLinkLost();
            return;
        }
        bool stopping = false;
        while (!stopping) {
            // Asked to end: a read issued after the request that finds nothing means all is delivered.
            const bool draining = win::WaitForSingleObject(drain_, 0) == win::WAIT_OBJECT_0;
            win::OVERLAPPED ov{};
            ov.hEvent = event;
            win::DWORD count = 0;
            bool ok = win::ReadFile(port_, buffer.data(), static_cast<win::DWORD>(buffer.size()), &count, &ov);
            if (!ok && win::GetLastError() == win::ERROR_IO_PENDING) {
                win::HANDLE handles[3] = {event, terminate, drain_};
                win::DWORD w = win::WaitForMultipleObjects(3, handles, win::FALSE, win::INFINITE);
                if (w == win::WAIT_OBJECT_0) {
                    ok = win::GetOverlappedResult(port_, &ov, &count, win::FALSE);
                } else if (w == win::WAIT_OBJECT_0 + 2) {
                    // Nothing was there when the read began; take whatever came meanwhile and look again.
                    win::CancelIo(port_);
                    ok = win::GetOverlappedResult(port_, &ov, &count, win::TRUE) ||
                         win::GetLastError() == win::ERROR_OPERATION_ABORTED;
                } else {
                    // The buffer must not go while the port may still fill it.
                    win::CancelIo(port_);
                    stopping = true;
                    break;
                }
            }
            if (!ok) {
                // A dead line stays dead: one notice, and the reader ends.
                PostLinkLost();
                break;
            }
            win::ClearCommError(port_, nullptr, nullptr);
            if (count > 0) {
                PostData(buffer.data(), count);
            } else if (draining) {
                PostLinkLost();
                break;
            }
            if (win::WaitForSingleObject(terminate, 0) == win::WAIT_OBJECT_0)
                stopping = true;
        }
        win::CloseHandle(event);
    }

    win::HANDLE port_ = nullptr;
    win::HANDLE drain_ = nullptr; // set: end once the port has nothing more to give
};

} // namespace

std::unique_ptr<TvyrTransportRoad> CreateSerialRoad(TvyrCustomClientConnection& connection) {
    return std::make_unique<TvyrSerialRoad>(connection);
}

} // namespace vyr
