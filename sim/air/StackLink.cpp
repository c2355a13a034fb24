// Stack links and virtual COM ports over pseudo-terminals.
#include "sim/air/StackLink.h"

#include "sim/air/FarEnd.h"
#include "sim/air/ObexLink.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace air {

int OpenStackLink(int stackKind, const Address& phone, uint8_t channel, LinkFailure& failure) {
    failure = LinkFailure::None;
    Air& a = Air::Instance();
    if (!a.RadioPresent(stackKind)) {
        failure = LinkFailure::NoRadio;
        return -1;
    }
    auto p = a.FindPhone(phone);
    if (!p || !p->ReachableFrom(stackKind)) {
        failure = LinkFailure::Unreachable;
        return -1;
    }
    if (auto script = FindRfcommFarEnd(phone, channel)) {
        switch (script->mode) {
        case FarEndMode::Refuse:
            failure = LinkFailure::Refused;
            return -1;
        case FarEndMode::Silence:
            failure = LinkFailure::Silent;
            return -1;
        default: {
            int fd = OpenFarEnd(*script);
            if (fd < 0)
                failure = LinkFailure::Refused;
            return fd;
        }
        }
    }
    int fd = ConnectRfcomm(stackKind, phone, channel);
    if (fd < 0)
        failure = errno == ENETDOWN       ? LinkFailure::NoRadio
                  : errno == EHOSTUNREACH ? LinkFailure::Unreachable
                                          : LinkFailure::Refused;
    return fd;
}

std::string ComFolder() {
    const char* dir = std::getenv("TAVLIN_COM_DIR");
    return dir && *dir ? std::string(dir) : std::string();
}

bool ComPortTaken(unsigned number) {
    std::string dir = ComFolder();
    if (dir.empty())
        return true;
    struct stat st;
    return ::lstat((dir + "/COM" + std::to_string(number)).c_str(), &st) == 0;
}

std::unique_ptr<VirtualComPort> VirtualComPort::Create(unsigned number) {
    std::string dir = ComFolder();
    if (dir.empty() || number == 0 || number > 255)
        return nullptr;
    std::unique_ptr<VirtualComPort> port(new VirtualComPort);
    port->number_ = number;
    port->master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port->master_ < 0 || ::grantpt(port->master_) != 0 || ::unlockpt(port->master_) != 0)
        return nullptr;
    char name[128];
    if (::ptsname_r(port->master_, name, sizeof name) != 0)
        return nullptr;
    port->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port->slave_ < 0)
        return nullptr;
    // Raw before anyone writes: echo would send the phone's own bytes back to it.
    termios t{};
    if (::tcgetattr(port->slave_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(port->slave_, TCSANOW, &t);
    }
    ::fcntl(port->master_, F_SETFL, ::fcntl(port->master_, F_GETFL) | O_NONBLOCK);
    std::string entry = dir + "/COM" + std::to_string(number);
    // symlink fails when the name exists: that is how a taken port is refused, atomically.
    if (::symlink(name, entry.c_str()) != 0)
        return nullptr;
    port->entry_ = entry;
    return port;
}

VirtualComPort::~VirtualComPort() {
    Detach();
    if (!entry_.empty())
        ::unlink(entry_.c_str());
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

bool VirtualComPort::Attach(int link, std::function<void()> onLost) {
    if (relay_.joinable() || master_ < 0 || link < 0)
        return false;
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        return false;
    ::fcntl(link, F_SETFL, ::fcntl(link, F_GETFL) | O_NONBLOCK);
    onLost_ = std::move(onLost);
    stop_ = false;
    try {
        relay_ = std::thread(&VirtualComPort::Relay, this, link);
    } catch (...) {
        ::close(wake_[0]);
        ::close(wake_[1]);
        wake_[0] = wake_[1] = -1;
        return false;
    }
    return true;
}

void VirtualComPort::Detach() {
    if (!relay_.joinable())
        return;
    stop_ = true;
    char c = 0;
    (void)!::write(wake_[1], &c, 1);
    relay_.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
    wake_[0] = wake_[1] = -1;
}

bool VirtualComPort::PortHoldsUnread() const {
    // Bytes written to the master pass through the terminal's own buffer before the port's reader can
    // count them, so a count alone can read 0 while some are on their way. Polling the port side pushes
    // that buffer through first; after it, the count is the truth.
    pollfd in{slave_, POLLIN, 0};
    if (::poll(&in, 1, 0) > 0 && (in.revents & POLLIN))
        return true;
    int waiting = 0;
    return ::ioctl(slave_, FIONREAD, &waiting) == 0 && waiting > 0;
}

void VirtualComPort::Relay(int link) {
    std::vector<char> toPort, toLink;
    char buf[4096];
    bool lost = false;
    while (!stop_ && !lost) {
        pollfd p[3] = {{wake_[0], POLLIN, 0},
                       {master_, static_cast<short>(toLink.size() < (1u << 20) ? POLLIN : 0), 0},
                       {link, static_cast<short>(toPort.size() < (1u << 20) ? POLLIN : 0), 0}};
        if (!toPort.empty())
            p[1].events |= POLLOUT;
        if (!toLink.empty())
            p[2].events |= POLLOUT;
        if (::poll(p, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[0].revents)
            break;
        if (p[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(link, buf, sizeof buf);
            if (n > 0)
                toPort.insert(toPort.end(), buf, buf + n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                lost = true;
        }
        if (p[1].revents & POLLIN) {
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                toLink.insert(toLink.end(), buf, buf + n);
        }
        if (!toPort.empty() && (p[1].revents & POLLOUT)) {
            ssize_t n = ::write(master_, toPort.data(), toPort.size());
            if (n > 0)
                toPort.erase(toPort.begin(), toPort.begin() + n);
        }
        if (!toLink.empty() && (p[2].revents & POLLOUT)) {
            // A phone that hung up must not take the process down with SIGPIPE.
            ssize_t n = ::send(link, toLink.data(), toLink.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == ENOTSOCK)
                n = ::write(link, toLink.data(), toLink.size());
            if (n > 0)
                toLink.erase(toLink.begin(), toLink.begin() + n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                lost = true;
        }
    }
    ::close(link);
    if (lost) {
        // What the phone said before it went still reaches the port (bounded).
        while (!toPort.empty()) {
            pollfd out{master_, POLLOUT, 0};
            if (::poll(&out, 1, 1000) <= 0)
                break;
            ssize_t n = ::write(master_, toPort.data(), toPort.size());
            if (n <= 0)
                break;
            toPort.erase(toPort.begin(), toPort.begin() + n);
        }
        // Give the port's user a moment to read what is waiting, then hang the terminal up, so it reads an
        // error rather than silence: the hang-up throws away whatever is still unread.
        for (int i = 0; i < 1000 && PortHoldsUnread(); ++i)
            ::usleep(1000);
        ::close(master_);
        ::close(slave_);
        master_ = slave_ = -1;
        if (onLost_)
            onLost_();
    }
}

} // namespace air
