// Serial ports over Linux terminals.
#include "win32/Serial.h"

#include "vcl/SysUtils.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace win {

namespace {

constexpr ULONG_PTR kPending = 0x103;

std::mutex g_openMu;
std::set<std::string>& OpenPaths() {
    static auto* paths = new std::set<std::string>;
    return *paths;
}

class SerialPort : public KernelObject {
public:
    SerialPort(int fd, std::string path, bool pty) : isPty(pty), fd_(fd), path_(std::move(path)) {
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        io_ = std::thread([this] { IoLoop(); });
    }
    ~SerialPort() override {
        {
            std::lock_guard lk(mu_);
            stop_ = true;
        }
        Poke();
        cv_.notify_all();
        io_.join();
        ::close(wake_);
        ::close(fd_);
        std::lock_guard lk(g_openMu);
        OpenPaths().erase(path_);
    }

    int Fd() const { return fd_; }
    const bool isPty;
    std::mutex mu_;
    COMMTIMEOUTS timeouts{};

    // Queues an overlapped read; the I/O thread completes it.
    void StartRead(void* buffer, DWORD size, OVERLAPPED* ov) {
        std::lock_guard lk(mu_);
        ov->Internal = kPending;
        ov->InternalHigh = 0;
        if (ov->hEvent)
            ResetEvent(ov->hEvent);
        buffer_ = buffer;
        size_ = size;
        ov_ = ov;
        cancel_ = false;
        cv_.notify_all();
    }

    // Returns once no read uses the caller's buffer.
    void Cancel() {
        std::unique_lock lk(mu_);
        if (!ov_)
            return;
        cancel_ = true;
        Poke();
        cv_.wait(lk, [&] { return ov_ == nullptr; });
    }

private:
    void Poke() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    }

    void Complete(ULONG_PTR status, ULONG_PTR count) {
        ov_->Internal = status;
        ov_->InternalHigh = count;
        if (ov_->hEvent)
            SetEvent(ov_->hEvent);
        ov_ = nullptr;
        buffer_ = nullptr;
        cv_.notify_all();
    }

    void IoLoop() {
        std::unique_lock lk(mu_);
        for (;;) {
            cv_.wait(lk, [&] { return stop_ || ov_; });
            if (stop_) {
                if (ov_)
                    Complete(ERROR_OPERATION_ABORTED, 0);
                return;
            }
            lk.unlock();
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
            int r = ::poll(fds, 2, -1);
            if (fds[1].revents) {
                uint64_t v;
                [[maybe_unused]] ssize_t n = ::read(wake_, &v, sizeof v);
            }
            lk.lock();
            if (!ov_)
                continue;
            if (cancel_ || stop_) {
                Complete(ERROR_OPERATION_ABORTED, 0);
                continue;
            }
            if (r <= 0 || !fds[0].revents)
                continue;
            ssize_t n = ::read(fd_, buffer_, size_);
            if (n > 0)
                Complete(0, static_cast<ULONG_PTR>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                Complete(ERROR_GEN_FAILURE, 0); // the far end hung up
        }
    }

    int fd_;
    std::string path_;
    int wake_;
    std::condition_variable cv_;
    std::thread io_;
    bool stop_ = false;
    bool cancel_ = false;
    void* buffer_ = nullptr;
    DWORD size_ = 0;
    OVERLAPPED* ov_ = nullptr;
};

std::shared_ptr<SerialPort> Port(HANDLE h) {
    auto p = LookupHandleAs<SerialPort>(h);
    if (!p)
        SetLastError(ERROR_INVALID_HANDLE);
    return p;
}

BOOL Failed(DWORD error) {
    SetLastError(error);
    return FALSE;
}

struct Speed {
    DWORD rate;
    speed_t code;
};
constexpr Speed kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                             {150, B150},       {200, B200},       {300, B300},       {600, B600},
                             {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                             {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                             {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

// Parses "\\.\COM<n>" or "COM<n>"; 0 when it is not a port name.
unsigned PortNumber(std::u16string name) {
    if (name.rfind(u"\\\\.\\", 0) == 0)
        name = name.substr(4);
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if ((name[i] & ~0x20) != u"COM"[i])
            return 0;
    unsigned n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < u'0' || name[i] > u'9')
            return 0;
        n = n * 10 + (name[i] - u'0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

} // namespace

std::string ComPortPath(unsigned number) {
    std::string name = "COM" + std::to_string(number);
    if (const char* dir = std::getenv("TAVLIN_COM_DIR"); dir && *dir) {
        std::string entry = std::string(dir) + "/" + name;
        struct stat st;
        if (::lstat(entry.c_str(), &st) == 0)
            return entry;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

HANDLE CreateFileW(LPCWSTR name, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
    std::u16string text = name ? name : u"";
    test::Record("CreateFileW", vcl::Utf16ToUtf8(text));
    unsigned number = PortNumber(text);
    if (number == 0 || test::ShouldFail("CreateFileW")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = ComPortPath(number);
    char real[PATH_MAX];
    std::string key = ::realpath(path.c_str(), real) ? real : path;
    std::unique_lock lk(g_openMu);
    if (OpenPaths().count(key)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == EACCES || errno == EBUSY || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    termios t;
    if (!::isatty(fd) || ::tcgetattr(fd, &t) != 0) {
        ::close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Raw at once: echo or line editing would mangle binary traffic before any settings arrive.
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
    OpenPaths().insert(key);
    lk.unlock();
    std::shared_ptr<SerialPort> port;
    try {
        port = std::make_shared<SerialPort>(fd, key, key.rfind("/dev/pts/", 0) == 0);
    } catch (...) {
        ::close(fd);
        std::lock_guard relk(g_openMu);
        OpenPaths().erase(key);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(port);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (read)
        *read = 0;
    if (test::ShouldFail("ReadFile"))
        return Failed(ERROR_GEN_FAILURE);
    if (!buffer && size)
        return Failed(ERROR_INVALID_PARAMETER);
    for (;;) {
        ssize_t n = size ? ::read(port->Fd(), buffer, size) : 0;
        if (n > 0 || size == 0) {
            if (read)
                *read = static_cast<DWORD>(n);
            if (overlapped) {
                overlapped->Internal = 0;
                overlapped->InternalHigh = static_cast<ULONG_PTR>(n);
                if (overlapped->hEvent)
                    SetEvent(overlapped->hEvent);
            }
            return TRUE;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            return Failed(ERROR_GEN_FAILURE);
        if (overlapped) {
            port->StartRead(buffer, size, overlapped);
            return Failed(ERROR_IO_PENDING);
        }
        pollfd p{port->Fd(), POLLIN, 0};
        ::poll(&p, 1, -1);
    }
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written, OVERLAPPED* overlapped) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (written)
        *written = 0;
    if (test::ShouldFail("WriteFile"))
        return Failed(ERROR_GEN_FAILURE);
    if (!buffer && size)
        return Failed(ERROR_INVALID_PARAMETER);
    COMMTIMEOUTS to;
    {
        std::lock_guard lk(port->mu_);
        to = port->timeouts;
    }
    unsigned long long limitMs =
        static_cast<unsigned long long>(to.WriteTotalTimeoutMultiplier) * size + to.WriteTotalTimeoutConstant;
    ULONGLONG deadline = GetTickCount64() + limitMs;
    const auto* p = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < size) {
        ssize_t n = ::write(port->Fd(), p + done, size - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return Failed(ERROR_GEN_FAILURE);
        int waitMs = -1;
        if (limitMs) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                break; // timed out: the count says how much went out
            double scale = test::TimeScale();
            waitMs = static_cast<int>(std::max(1.0, static_cast<double>(deadline - now) / (scale > 0 ? scale : 1.0)));
            waitMs = std::min(waitMs, 50); // the clock may be sped up meanwhile
        }
        pollfd pf{port->Fd(), POLLOUT, 0};
        ::poll(&pf, 1, waitMs);
    }
    if (written)
        *written = done;
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = done;
        if (overlapped->hEvent)
            SetEvent(overlapped->hEvent);
    }
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (!overlapped)
        return Failed(ERROR_INVALID_PARAMETER);
    if (wait && overlapped->hEvent) {
        for (;;) {
            {
                std::lock_guard lk(port->mu_);
                if (overlapped->Internal != kPending)
                    break;
            }
            WaitForSingleObject(overlapped->hEvent, INFINITE);
        }
    }
    std::lock_guard lk(port->mu_);
    if (overlapped->Internal == kPending)
        return Failed(ERROR_IO_INCOMPLETE);
    if (transferred)
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0)
        return Failed(static_cast<DWORD>(overlapped->Internal));
    return TRUE;
}

BOOL CancelIo(HANDLE file) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    port->Cancel();
    return TRUE;
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    termios t;
    if (!dcb || ::tcgetattr(port->Fd(), &t) != 0)
        return Failed(ERROR_INVALID_PARAMETER);
    *dcb = DCB{};
    dcb->DCBlength = sizeof(DCB);
    speed_t s = ::cfgetospeed(&t);
    dcb->BaudRate = 9600;
    for (const auto& sp : kSpeeds)
        if (sp.code == s)
            dcb->BaudRate = sp.rate;
    dcb->fBinary = 1;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dcb->ByteSize = 5;
        break;
    case CS6:
        dcb->ByteSize = 6;
        break;
    case CS7:
        dcb->ByteSize = 7;
        break;
    default:
        dcb->ByteSize = 8;
    }
    if (!(t.c_cflag & PARENB))
        dcb->Parity = 0;
    else if (t.c_cflag & CMSPAR)
        dcb->Parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        dcb->Parity = (t.c_cflag & PARODD) ? 1 : 2;
    dcb->fParity = dcb->Parity != 0;
    dcb->StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    return TRUE;
}

BOOL SetCommState(HANDLE file, const DCB* dcb) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    termios t;
    if (!dcb || test::ShouldFail("SetCommState") || ::tcgetattr(port->Fd(), &t) != 0)
        return Failed(ERROR_INVALID_PARAMETER);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    const Speed* speed =
        std::find_if(std::begin(kSpeeds), std::end(kSpeeds), [&](const Speed& s) { return s.rate == dcb->BaudRate; });
    if (speed != std::end(kSpeeds)) {
        ::cfsetspeed(&t, speed->code);
    } else if (!port->isPty) {
        // A rate the terminal layer cannot name only matters on a real line.
        return Failed(ERROR_INVALID_PARAMETER);
    }
    t.c_cflag &= ~CSIZE;
    switch (dcb->ByteSize) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    case 8:
        t.c_cflag |= CS8;
        break;
    default:
        return Failed(ERROR_INVALID_PARAMETER);
    }
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (dcb->Parity) {
    case 0:
        break;
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return Failed(ERROR_INVALID_PARAMETER);
    }
    // One and a half stop bits exist only at five data bits; two is the nearest the line offers.
    if (dcb->StopBits > 2)
        return Failed(ERROR_INVALID_PARAMETER);
    if (dcb->StopBits == 0)
        t.c_cflag &= ~CSTOPB;
    else
        t.c_cflag |= CSTOPB;
    if (port->isPty) {
        // A pseudo-terminal has no line framing and refuses some of it: eight bits, no parity.
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR)) | CS8;
    }
    if (::tcsetattr(port->Fd(), TCSANOW, &t) != 0)
        return Failed(ERROR_INVALID_PARAMETER);
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
    auto port = Port(file);
    if (!port || !timeouts)
        return port ? Failed(ERROR_INVALID_PARAMETER) : FALSE;
    std::lock_guard lk(port->mu_);
    *timeouts = port->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (!timeouts || test::ShouldFail("SetCommTimeouts"))
        return Failed(ERROR_INVALID_PARAMETER);
    std::lock_guard lk(port->mu_);
    port->timeouts = *timeouts;
    return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (test::ShouldFail("PurgeComm"))
        return Failed(ERROR_INVALID_PARAMETER);
    if (flags & PURGE_RXABORT)
        port->Cancel();
    int q = (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) && (flags & (PURGE_TXCLEAR | PURGE_TXABORT)) ? TCIOFLUSH
            : (flags & (PURGE_RXCLEAR | PURGE_RXABORT))                                            ? TCIFLUSH
            : (flags & (PURGE_TXCLEAR | PURGE_TXABORT))                                            ? TCOFLUSH
                                                                                                   : -1;
    if (q >= 0)
        ::tcflush(port->Fd(), q);
    return TRUE;
}

BOOL SetupComm(HANDLE file, DWORD, DWORD) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    return test::ShouldFail("SetupComm") ? Failed(ERROR_INVALID_PARAMETER) : TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (test::ShouldFail("EscapeCommFunction"))
        return Failed(ERROR_GEN_FAILURE);
    int bits;
    unsigned long request;
    switch (function) {
    case SETRTS:
        bits = TIOCM_RTS, request = TIOCMBIS;
        break;
    case CLRRTS:
        bits = TIOCM_RTS, request = TIOCMBIC;
        break;
    case SETDTR:
        bits = TIOCM_DTR, request = TIOCMBIS;
        break;
    case CLRDTR:
        bits = TIOCM_DTR, request = TIOCMBIC;
        break;
    default:
        return Failed(ERROR_INVALID_PARAMETER);
    }
    // A pseudo-terminal has no modem lines and says so; that is no reason to refuse the port.
    if (::ioctl(port->Fd(), request, &bits) != 0 && errno != ENOTTY && errno != EINVAL)
        return Failed(ERROR_GEN_FAILURE);
    return TRUE;
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (errors)
        *errors = 0;
    if (stat) {
        *stat = COMSTAT{};
        int n = 0;
        if (::ioctl(port->Fd(), FIONREAD, &n) == 0 && n > 0)
            stat->cbInQue = static_cast<DWORD>(n);
    }
    return TRUE;
}

namespace test {
int PortDescriptor(HANDLE file) {
    auto port = LookupHandleAs<SerialPort>(file);
    return port ? port->Fd() : -1;
}
} // namespace test

} // namespace win
