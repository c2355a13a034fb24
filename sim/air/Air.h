// The simulated air: the radios attached to this PC and the phones around it.
// One stack-neutral truth that every stand-in stack renders in its own byte order
// and record layout. Thread-safe: stand-in threads read it, tests change it.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace air {

// Same numbers as the library's stack kinds.
enum class StackKind : int { BlueSoleil = 0, Microsoft = 1, Toshiba = 2, WidComm = 3 };
constexpr int kStackKinds = 4;

// Six address bytes in text order (most significant first, as "(00:1A:7D:DA:71:13)" reads).
using Address = std::array<uint8_t, 6>;

// "(00:1A:7D:DA:71:13)": upper-case pairs, colons, parentheses.
std::string AddressToText(const Address& a);
// Accepts the parenthesised form, the bare "00:1A:..." or "00-1A-..." form and 12 bare hex digits.
std::optional<Address> AddressFromText(std::string_view text);
// Bluetooth names are at most 248 bytes of UTF-8; longer text is cut at a character boundary.
constexpr size_t kMaxNameBytes = 248;
std::string ClampName(std::string name);

// Where a phone's objects land: an absolute `given` as it is, a relative one under
// Air::InboxRoot(), none in a folder named after the address under Air::InboxRoot().
std::string ResolveInbox(const std::string& given, const Address& address);

struct Radio {
    bool present = false;
    Address address{};
    std::string name;
    uint32_t classOfDevice = 0;
};

enum class PairOutcome { Accept, Refuse, Timeout };

struct Pairing {
    std::string pin; // empty: any PIN is taken
    PairOutcome outcome = PairOutcome::Accept;
    bool paired = false; // current bond with this PC
};

// An SDP service record as a phone offers it.
struct Service {
    std::array<uint8_t, 16> uuid{}; // full 128-bit class UUID, big-endian
    uint8_t channel = 0;            // RFCOMM server channel
    std::string name;               // UTF-8
    std::string comment;            // UTF-8, may be empty
    uint32_t handle = 0;            // SDP record handle
    // The 16-bit short form when the UUID lies on the Bluetooth base UUID, else nullopt.
    std::optional<uint16_t> Uuid16() const;
    static std::array<uint8_t, 16> FromUuid16(uint16_t u);
    // A class UUID from a GUID record (Data1..Data3 as numbers, Data4 as bytes), as the stacks hand it.
    template <typename Guid> static std::array<uint8_t, 16> FromGuid(const Guid& g) {
        std::array<uint8_t, 16> b{};
        for (size_t i = 0; i < 4; ++i)
            b[i] = static_cast<uint8_t>(g.Data1 >> (24 - 8 * i));
        b[4] = static_cast<uint8_t>(g.Data2 >> 8);
        b[5] = static_cast<uint8_t>(g.Data2);
        b[6] = static_cast<uint8_t>(g.Data3 >> 8);
        b[7] = static_cast<uint8_t>(g.Data3);
        for (size_t i = 0; i < 8; ++i)
            b[8 + i] = g.Data4[i];
        return b;
    }
};
constexpr uint16_t kObexObjectPushUuid16 = 0x1105;

// How the phone's Object Push server behaves.
enum class ObexMode {
    Accept,        // store every object
    Refuse,        // answer the first PUT packet of each object with refuseCode (0xC3 by default)
    Silent,        // read everything, answer nothing
    SilentAfter,   // answer `after` request packets, then fall silent
    DropMidPut,    // answer `after` PUT packets, then drop the link on the next one
    RefuseConnect, // answer CONNECT with refuseCode
    Authenticate,  // demand OBEX authentication with `password`
};

struct ObexBehaviour {
    ObexMode mode = ObexMode::Accept;
    int after = 0;                // packet count for SilentAfter / DropMidPut
    uint8_t refuseCode = 0xC3;    // response code for Refuse / RefuseConnect
    std::string password;         // for Authenticate
    int delayMs = 0;              // every response goes out this late (not scaled by the time scale)
    int finalDelayMs = 0;         // the reply to the final PUT of an object goes out this much later still
    uint16_t maxPacket = 4096;    // the phone's maximum OBEX packet length
    bool closeAfterFinal = false; // hangs up right after answering the final PUT of an object it stored
};

// Whether the phone takes an RFCOMM link at all.
enum class LinkPolicy { Accept, Refuse, NeedsPairing };

struct Phone {
    Address address{};
    std::string name;
    int nameFailures = 0; // the next N name reads fail (counts down as they do)
    uint32_t classOfDevice = 0;
    bool inRange = true;
    std::vector<int> radios; // stack kinds that reach it; empty = all
    Pairing pairing;
    std::vector<Service> services;
    std::string inbox; // folder where received objects land (absolute)
    ObexBehaviour obex;
    LinkPolicy link = LinkPolicy::Accept;
    std::string bridge; // "tcp:HOST:PORT" or a tty path: an external server stands in
    // When not empty, a raw service search (the Microsoft stack's) returns these SDP records as they are,
    // whatever class is asked: a phone with odd or hostile records.
    std::vector<std::vector<uint8_t>> rawSdpRecords;

    bool ReachableFrom(int stackKind) const;
    const Service* FindService(uint16_t uuid16) const;
};

enum class AirEvent {
    RadioArrived,
    RadioRemoved, // stack = the radio's kind
    IrdaArrived,
    IrdaRemoved,
    DeviceLinkConnected,
    DeviceLinkDisconnected,
    WifiArrived,
    WifiRemoved,
    PhonesChanged, // any phone added, removed or changed
};

struct Notice {
    AirEvent event;
    int stack = -1;
};

using Listener = std::function<void(const Notice&)>;

enum class NameResult { Ok, Failed, NotFound };
enum class PairResult { Paired, WrongPin, Refused, Timeout, NotFound };

struct InquiryResult {
    bool radioPresent = false;
    int durationMs = 0;       // how long the inquiry lasts, time scale applied
    std::vector<Phone> found; // in the order of the air description
};

// The air. One per process (it lives in the shared platform library).
class Air {
public:
    static Air& Instance();

    // --- description --------------------------------------------------------------
    // Load from $TAVLIN_AIR, else the bundled demo. False (and the air unchanged) on error.
    bool LoadDefault(std::string* error = nullptr);
    bool LoadFile(const std::string& path, std::string* error = nullptr);
    bool LoadJson(std::string_view text, std::string* error = nullptr);
    // Nothing attached, nothing in range, time scale 1. Forgets the file.
    void Clear();
    // Reloads the file last loaded when it changed on disk; true when it did. Call periodically.
    bool PollFileChange(std::string* error = nullptr);
    std::string FilePath() const;
    static std::string DefaultFilePath();
    // Where relative inboxes and phones without one put their objects.
    static std::string InboxRoot();

    // --- radios and transports ----------------------------------------------------
    Radio GetRadio(int stackKind) const;
    bool RadioPresent(int stackKind) const;
    void SetRadio(int stackKind, const Radio& r); // notifies on a presence change
    void SetRadioPresent(int stackKind, bool present);
    void SetRadioName(int stackKind, const std::string& name);
    bool IrdaPresent() const;
    void SetIrdaPresent(bool present);
    bool DeviceLinkConnected() const;
    void SetDeviceLinkConnected(bool connected);
    bool WifiPresent() const;
    void SetWifiPresent(bool present);

    // --- phones ---------------------------------------------------------------------
    std::vector<Phone> Phones() const;
    std::optional<Phone> FindPhone(const Address& a) const;
    std::optional<Phone> FindPhone(std::string_view addressText) const;
    void AddPhone(const Phone& p); // replaces a phone with the same address
    bool RemovePhone(const Address& a);
    // Edit one phone in place under the lock; false when there is none.
    bool UpdatePhone(const Address& a, const std::function<void(Phone&)>& edit);
    bool SetPhoneInRange(const Address& a, bool inRange);

    // A remote name read as a stack makes it: fails while the phone's failure count lasts.
    NameResult ReadName(const Address& a, std::string& name);
    NameResult ReadClassOfDevice(const Address& a, uint32_t& cod) const;
    PairResult Pair(int stackKind, const Address& a, const std::string& pin);
    bool Unpair(const Address& a);
    bool IsPaired(const Address& a) const;

    // Who answers an inquiry on this radio, and for how long it runs. Does not wait.
    InquiryResult Inquire(int stackKind, int requestedMs) const;

    // --- time ------------------------------------------------------------------------
    double TimeScale() const;
    void SetTimeScale(double scale); // clamped to (0, 1000]
    int ScaledMs(int ms) const;

    // --- observers -------------------------------------------------------------------
    // Callbacks run on the thread that made the change, outside the air's lock, and may read
    // or change the air. Unsubscribe waits until no delivery to that listener runs on another
    // thread, so a module may unload after it; a listener must therefore not block on the
    // thread that unsubscribes it. Notices of changes made on one thread arrive in order.
    int Subscribe(Listener listener);
    void Unsubscribe(int token);

    Air(const Air&) = delete;
    Air& operator=(const Air&) = delete;

    struct State; // the description as loaded (internal)

private:
    Air();
    ~Air();
    struct Sub {
        int token;
        Listener fn;
    };
    bool Apply(State next, std::string path, std::string* error);
    void Notify(const std::vector<Notice>& notices);
    static std::vector<Notice> Diff(const State& before, const State& after);

    mutable std::mutex mu_;
    State* state_;
    std::string path_;
    std::timespec mtime_{};
    off_t fileSize_ = -1;

    std::mutex subMu_;
    std::condition_variable subCv_;
    std::vector<Sub> subs_;
    std::vector<std::pair<int, std::thread::id>> inFlight_; // deliveries running now
    int nextToken_ = 1;
};

} // namespace air
