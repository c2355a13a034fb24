// Links as the vendor stand-ins make them: an RFCOMM link to one phone's channel (a scripted far end when a
// test set one, else the phone's own server), and the virtual COM ports some stacks put in front of such a
// link: a pseudo-terminal entered in the COM folder ($TAVLIN_COM_DIR) as COM<n>, whose bytes a relay
// thread carries to and from the link.
#pragma once

#include "sim/air/Air.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace air {

enum class LinkFailure {
    None,
    NoRadio,     // the stack's radio is not attached
    Unreachable, // nobody answers the page
    Refused,     // the phone turned the link down, or offers nothing on that channel
    Silent,      // the phone never answers (the caller decides how long to wait)
};

// Opens the link (a blocking, close-on-exec stream socket the caller owns), or -1 with the failure.
// Channel 0 takes the phone's Object Push channel.
int OpenStackLink(int stackKind, const Address& phone, uint8_t channel, LinkFailure& failure);

// The COM folder, or empty when none is set (no virtual port can be made then).
std::string ComFolder();
// Whether COM<n> is entered in the COM folder already.
bool ComPortTaken(unsigned number);

// A virtual COM port: made free of any link, then given one. The relay ends when the link ends; the far
// end's hang-up closes the pseudo-terminal, so whoever has the port open reads an error, and OnLost runs
// (on the relay thread).
class VirtualComPort {
public:
    // Creates the pseudo-terminal and enters it as COM<number>; null when the number is taken or the
    // folder or terminal cannot be made.
    static std::unique_ptr<VirtualComPort> Create(unsigned number);
    ~VirtualComPort(); // ends the relay, closes everything and removes the entry
    VirtualComPort(const VirtualComPort&) = delete;
    VirtualComPort& operator=(const VirtualComPort&) = delete;

    unsigned Number() const { return number_; }
    // Starts carrying bytes between the port and the link (taking the descriptor); false when a link is
    // there already or the relay cannot start.
    bool Attach(int link, std::function<void()> onLost);
    // Ends the link (no OnLost); the port stays.
    void Detach();
    bool Attached() const { return relay_.joinable(); }

private:
    VirtualComPort() = default;
    void Relay(int link);
    // Bytes the phone sent that the port's user has not read yet.
    bool PortHoldsUnread() const;

    unsigned number_ = 0;
    std::string entry_;
    int master_ = -1;
    int slave_ = -1; // held so the master never reads a hang-up while nobody has the port open
    int wake_[2] = {-1, -1};
    std::thread relay_;
    std::atomic<bool> stop_{false};
    std::function<void()> onLost_;
};

} // namespace air
