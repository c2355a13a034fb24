#include "sim/air/Air.h"

#include "sim/air/AirFileWatch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace air {

using json = nlohmann::json;

// ---------------------------------------------------------------------------------------
// Small helpers

std::string AddressToText(const Address& a) {
    static const char* hex = "0123456789ABCDEF";
    std::string s = "(";
    for (size_t i = 0; i < a.size(); ++i) {
        if (i)
            s += ':';
        s += hex[a[i] >> 4];
        s += hex[a[i] & 15];
    }
    s += ')';
    return s;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<Address> AddressFromText(std::string_view t) {
    if (t.size() >= 2 && t.front() == '(' && t.back() == ')')
        t = t.substr(1, t.size() - 2);
    Address a{};
    if (t.size() == 12) {
        for (size_t i = 0; i < 6; ++i) {
            int h = HexDigit(t[2 * i]), l = HexDigit(t[2 * i + 1]);
            if (h < 0 || l < 0)
                return std::nullopt;
            a[i] = static_cast<uint8_t>(h << 4 | l);
        }
        return a;
    }
    if (t.size() != 17)
        return std::nullopt;
    const char sep = t[2];
    if (sep != ':' && sep != '-')
        return std::nullopt;
    for (size_t i = 0; i < 6; ++i) {
        int h = HexDigit(t[3 * i]), l = HexDigit(t[3 * i + 1]);
        if (h < 0 || l < 0 || (i < 5 && t[3 * i + 2] != sep))
            return std::nullopt;
        a[i] = static_cast<uint8_t>(h << 4 | l);
    }
    return a;
}

std::string ClampName(std::string name) {
    if (name.size() <= kMaxNameBytes)
        return name;
    size_t n = kMaxNameBytes;
    // Step back over continuation bytes so no character is cut in half.
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
        --n;
    name.resize(n);
    return name;
}

std::optional<uint16_t> Service::Uuid16() const {
    auto base = FromUuid16(0);
    if (uuid[0] != 0 || uuid[1] != 0 || !std::equal(uuid.begin() + 4, uuid.end(), base.begin() + 4))
        return std::nullopt;
    return static_cast<uint16_t>(uuid[2] << 8 | uuid[3]);
}

std::array<uint8_t, 16> Service::FromUuid16(uint16_t u) {
    // The Bluetooth base UUID 00000000-0000-1000-8000-00805F9B34FB.
    return {0,
            0,
            static_cast<uint8_t>(u >> 8),
            static_cast<uint8_t>(u),
            0x00,
            0x00,
            0x10,
            0x00,
            0x80,
            0x00,
            0x00,
            0x80,
            0x5F,
            0x9B,
            0x34,
            0xFB};
}

bool Phone::ReachableFrom(int stackKind) const {
    return inRange && (radios.empty() || std::find(radios.begin(), radios.end(), stackKind) != radios.end());
}

const Service* Phone::FindService(uint16_t uuid16) const {
    for (const auto& s : services)
        if (s.Uuid16() == uuid16)
            return &s;
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// The state and its description

struct Air::State {
    std::array<Radio, kStackKinds> radios{};
    bool irda = false;
    bool deviceLink = false;
    bool wifi = false;
    double timeScale = 1.0;
    std::vector<Phone> phones;
};

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

void CheckKeys(const json& j, const std::string& where, std::initializer_list<const char*> allowed) {
    if (!j.is_object())
        Fail(where, "expected an object");
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string& k = it.key();
        if (!k.empty() && k[0] == '_')
            continue; // free-form remarks
        bool ok = false;
        for (const char* a : allowed)
            ok = ok || k == a;
        if (!ok)
            Fail(where, "unknown key \"" + k + "\"");
    }
}

// A number given as a JSON integer or as text ("0x5A020C", "$1F", "42").
uint64_t Number(const json& v, const std::string& where, uint64_t max) {
    uint64_t n = 0;
    if (v.is_number_unsigned()) {
        n = v.get<uint64_t>();
    } else if (v.is_number_integer()) {
        Fail(where, "must not be negative");
    } else if (v.is_string()) {
        std::string s = v.get<std::string>();
        int base = 10;
        if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
            s = s.substr(2), base = 16;
        else if (s.size() > 1 && s[0] == '$')
            s = s.substr(1), base = 16;
        if (s.empty() || s.size() > 16)
            Fail(where, "not a number");
        for (char c : s) {
            int d = HexDigit(c);
            if (d < 0 || d >= base)
                Fail(where, "not a number");
            n = n * base + d;
        }
    } else {
        Fail(where, "expected a number");
    }
    if (n > max)
        Fail(where, "out of range");
    return n;
}

template <typename T> T Get(const json& j, const char* key, const std::string& where, T def, uint64_t max) {
    auto it = j.find(key);
    if (it == j.end())
        return def;
    return static_cast<T>(Number(*it, where + "." + key, max));
}

bool Flag(const json& j, const char* key, const std::string& where, bool def) {
    auto it = j.find(key);
    if (it == j.end())
        return def;
    if (!it->is_boolean())
        Fail(where + "." + key, "expected true or false");
    return it->get<bool>();
}

std::string Text(const json& j, const char* key, const std::string& where, const std::string& def = {}) {
    auto it = j.find(key);
    if (it == j.end())
        return def;
    if (!it->is_string())
        Fail(where + "." + key, "expected text");
    return it->get<std::string>();
}

int StackKindOf(const json& v, const std::string& where) {
    if (v.is_string()) {
        std::string s = v.get<std::string>();
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        static const char* names[kStackKinds] = {"bluesoleil", "microsoft", "toshiba", "widcomm"};
        for (int k = 0; k < kStackKinds; ++k)
            if (s == names[k])
                return k;
        if (s.size() != 1 || s[0] < '0' || s[0] > '3')
            Fail(where, "unknown stack \"" + v.get<std::string>() + "\"");
    }
    return static_cast<int>(Number(v, where, kStackKinds - 1));
}

Address AddressOf(const json& j, const std::string& where) {
    if (!j.is_string())
        Fail(where, "expected an address text");
    auto a = AddressFromText(j.get<std::string>());
    if (!a)
        Fail(where, "not a Bluetooth address: \"" + j.get<std::string>() + "\"");
    return *a;
}

template <typename E>
E Choice(const json& j, const char* key, const std::string& where, E def,
         std::initializer_list<std::pair<const char*, E>> choices) {
    auto it = j.find(key);
    if (it == j.end())
        return def;
    if (it->is_string())
        for (const auto& [name, value] : choices)
            if (it->get<std::string>() == name)
                return value;
    std::string list;
    for (const auto& c : choices)
        list += std::string(list.empty() ? "" : ", ") + c.first;
    Fail(where + "." + key, "expected one of " + list);
}

std::array<uint8_t, 16> UuidOf(const json& v, const std::string& where) {
    if (v.is_string()) {
        std::string s = v.get<std::string>();
        if (s.size() == 36) {
            std::array<uint8_t, 16> u{};
            size_t k = 0;
            for (size_t i = 0; i < s.size();) {
                if (i == 8 || i == 13 || i == 18 || i == 23) {
                    if (s[i] != '-')
                        Fail(where, "not a UUID");
                    ++i;
                    continue;
                }
                int h = HexDigit(s[i]), l = HexDigit(s[i + 1]);
                if (h < 0 || l < 0)
                    Fail(where, "not a UUID");
                u[k++] = static_cast<uint8_t>(h << 4 | l);
                i += 2;
            }
            return u;
        }
        if (s.size() <= 8 && s.rfind("0x", 0) != 0 && s.rfind("$", 0) != 0)
            s = "0x" + s; // UUIDs are written in hex
        uint64_t n = Number(json(s), where, 0xFFFFFFFFu);
        auto u = Service::FromUuid16(0);
        u[0] = static_cast<uint8_t>(n >> 24);
        u[1] = static_cast<uint8_t>(n >> 16);
        u[2] = static_cast<uint8_t>(n >> 8);
        u[3] = static_cast<uint8_t>(n);
        return u;
    }
    return Service::FromUuid16(static_cast<uint16_t>(Number(v, where, 0xFFFF)));
}

} // namespace

std::string ResolveInbox(const std::string& given, const Address& a) {
    if (!given.empty() && given[0] == '/')
        return given;
    if (!given.empty())
        return Air::InboxRoot() + "/" + given;
    std::string hex = AddressToText(a);
    hex.erase(std::remove_if(hex.begin(), hex.end(), [](char c) { return c == ':' || c == '(' || c == ')'; }),
              hex.end());
    return Air::InboxRoot() + "/" + hex;
}

namespace {

Phone ParsePhone(const json& j, const std::string& where) {
    CheckKeys(j, where,
              {"address", "name", "name_failures", "class", "in_range", "radios", "pairing", "services", "inbox",
               "obex", "link", "bridge"});
    Phone p;
    if (!j.contains("address"))
        Fail(where, "missing \"address\"");
    p.address = AddressOf(j["address"], where + ".address");
    p.name = ClampName(Text(j, "name", where));
    p.nameFailures = Get<int>(j, "name_failures", where, 0, 1000000);
    p.classOfDevice = Get<uint32_t>(j, "class", where, 0x5A020C, 0xFFFFFF);
    p.inRange = Flag(j, "in_range", where, true);
    if (auto it = j.find("radios"); it != j.end()) {
        if (!it->is_array())
            Fail(where + ".radios", "expected a list of stacks");
        for (size_t i = 0; i < it->size(); ++i)
            p.radios.push_back(StackKindOf((*it)[i], where + ".radios[" + std::to_string(i) + "]"));
    }
    if (auto it = j.find("pairing"); it != j.end()) {
        const std::string w = where + ".pairing";
        CheckKeys(*it, w, {"pin", "outcome", "paired"});
        p.pairing.pin = Text(*it, "pin", w);
        p.pairing.outcome = Choice(
            *it, "outcome", w, PairOutcome::Accept,
            {{"accept", PairOutcome::Accept}, {"refuse", PairOutcome::Refuse}, {"timeout", PairOutcome::Timeout}});
        p.pairing.paired = Flag(*it, "paired", w, false);
    }
    if (auto it = j.find("services"); it != j.end()) {
        if (!it->is_array())
            Fail(where + ".services", "expected a list");
        for (size_t i = 0; i < it->size(); ++i) {
            const json& s = (*it)[i];
            const std::string w = where + ".services[" + std::to_string(i) + "]";
            CheckKeys(s, w, {"uuid", "channel", "name", "comment", "handle"});
            Service svc;
            svc.uuid = s.contains("uuid") ? UuidOf(s["uuid"], w + ".uuid") : Service::FromUuid16(kObexObjectPushUuid16);
            svc.channel = Get<uint8_t>(s, "channel", w, 0, 30);
            svc.name = Text(s, "name", w);
            svc.comment = Text(s, "comment", w);
            svc.handle = Get<uint32_t>(s, "handle", w, 0x00010000u + static_cast<uint32_t>(i), 0xFFFFFFFFu);
            p.services.push_back(std::move(svc));
        }
    } else {
        // A phone described without services still offers the one service it is here for.
        Service svc;
        svc.uuid = Service::FromUuid16(kObexObjectPushUuid16);
        svc.channel = 9;
        svc.name = "OBEX Object Push";
        svc.handle = 0x00010001;
        p.services.push_back(std::move(svc));
    }
    const std::string inbox = Text(j, "inbox", where);
    if (!inbox.empty() && inbox[0] != '/' &&
        (inbox == ".." || inbox.rfind("../", 0) == 0 || inbox.find("/../") != std::string::npos ||
         (inbox.size() >= 3 && inbox.compare(inbox.size() - 3, 3, "/..") == 0)))
        Fail(where + ".inbox", "a relative inbox must stay under the inbox root");
    p.inbox = ResolveInbox(inbox, p.address);
    if (auto it = j.find("obex"); it != j.end()) {
        const std::string w = where + ".obex";
        CheckKeys(*it, w, {"mode", "after", "code", "password", "delay_ms", "max_packet", "close_after_final"});
        auto& o = p.obex;
        o.mode = Choice(*it, "mode", w, ObexMode::Accept,
                        {{"accept", ObexMode::Accept},
                         {"refuse", ObexMode::Refuse},
                         {"forbidden", ObexMode::Refuse},
                         {"bad_request", ObexMode::Refuse},
                         {"silent", ObexMode::Silent},
                         {"silent_after", ObexMode::SilentAfter},
                         {"drop", ObexMode::DropMidPut},
                         {"refuse_connect", ObexMode::RefuseConnect},
                         {"authenticate", ObexMode::Authenticate}});
        const std::string modeText = Text(*it, "mode", w);
        o.refuseCode = Get<uint8_t>(*it, "code", w, modeText == "bad_request" ? 0xC0 : 0xC3, 0xFF);
        if (o.refuseCode < 0xC0)
            Fail(w + ".code", "a refusal must be an error response (0xC0 or above)");
        o.after = Get<int>(*it, "after", w, o.mode == ObexMode::DropMidPut ? 1 : 0, 1000000);
        o.password = Text(*it, "password", w);
        o.delayMs = Get<int>(*it, "delay_ms", w, 0, 600000);
        o.finalDelayMs = Get<int>(*it, "final_delay_ms", w, 0, 600000);
        o.maxPacket = Get<uint16_t>(*it, "max_packet", w, 4096, 0xFFFF);
        if (o.maxPacket < 255)
            Fail(w + ".max_packet", "below the OBEX minimum of 255");
        o.closeAfterFinal = Flag(*it, "close_after_final", w, false);
    }
    p.link = Choice(
        j, "link", where, LinkPolicy::Accept,
        {{"accept", LinkPolicy::Accept}, {"refuse", LinkPolicy::Refuse}, {"needs_pairing", LinkPolicy::NeedsPairing}});
    p.bridge = Text(j, "bridge", where);
    return p;
}

} // namespace

// ---------------------------------------------------------------------------------------

namespace {
Air::State ParseDescription(std::string_view text);
}

Air& Air::Instance() {
    // Never destroyed: stand-in threads may still read it while the process exits.
    static Air* instance = new Air();
    return *instance;
}

Air::Air() : state_(new State) {
    std::string error;
    if (!LoadDefault(&error)) {
        std::fprintf(stderr, "tavlin: the air stays empty: %s\n", error.c_str()); // say why nothing is there
        return;
    }
    // The operator may edit the file under the running program. Like the air, the watch is never
    // destroyed: its thread may be in the middle of a look while the process exits.
    if (AirFileWatch::Enabled())
        (new AirFileWatch(*this))->Start(500);
}

Air::~Air() {
    delete state_;
}

std::string Air::DefaultFilePath() {
    if (const char* env = std::getenv("TAVLIN_AIR"); env && *env)
        return env;
    std::string bundled = std::string(TAVLIN_SOURCE_DIR) + "/sim/air/demo.json";
    struct stat st {};
    if (::stat(bundled.c_str(), &st) == 0)
        return bundled;
    // An installed program keeps the demo beside its data.
    char exe[4096];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        dir = dir.substr(0, dir.rfind('/'));
        return dir + "/../share/tavlin/air/demo.json";
    }
    return bundled;
}

std::string Air::InboxRoot() {
    if (const char* env = std::getenv("TAVLIN_AIR_INBOX"); env && *env)
        return env;
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tavlin-air-" + std::to_string(::getuid());
}

namespace {

Air::State ParseDescription(std::string_view text) {
    json j;
    try {
        j = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        // The parser's text names the line and column; its internal error id is of no use here.
        std::string what = e.what();
        if (what.rfind("[json.exception.", 0) == 0)
            if (const size_t end = what.find("] "); end != std::string::npos)
                what.erase(0, end + 2);
        throw std::runtime_error("not valid JSON: " + what);
    }
    CheckKeys(j, "air", {"time_scale", "radios", "irda", "device_link", "wifi", "phones"});
    Air::State s;
    if (auto it = j.find("time_scale"); it != j.end()) {
        if (!it->is_number() || !(it->get<double>() > 0) || it->get<double>() > 1000)
            Fail("air.time_scale", "expected a number above 0 and at most 1000");
        s.timeScale = it->get<double>();
    }
    if (auto it = j.find("radios"); it != j.end()) {
        if (!it->is_array())
            Fail("air.radios", "expected a list");
        bool seen[kStackKinds] = {};
        for (size_t i = 0; i < it->size(); ++i) {
            const json& r = (*it)[i];
            const std::string w = "air.radios[" + std::to_string(i) + "]";
            CheckKeys(r, w, {"stack", "present", "address", "name", "class"});
            if (!r.contains("stack"))
                Fail(w, "missing \"stack\"");
            int k = StackKindOf(r["stack"], w + ".stack");
            if (seen[k])
                Fail(w + ".stack", "a second radio of the same stack");
            seen[k] = true;
            Radio& radio = s.radios[k];
            radio.present = Flag(r, "present", w, true);
            if (r.contains("address"))
                radio.address = AddressOf(r["address"], w + ".address");
            radio.name = ClampName(Text(r, "name", w));
            radio.classOfDevice = Get<uint32_t>(r, "class", w, 0x1C010C, 0xFFFFFF);
        }
    }
    s.irda = Flag(j, "irda", "air", false);
    s.deviceLink = Flag(j, "device_link", "air", false);
    s.wifi = Flag(j, "wifi", "air", false);
    if (auto it = j.find("phones"); it != j.end()) {
        if (!it->is_array())
            Fail("air.phones", "expected a list");
        for (size_t i = 0; i < it->size(); ++i) {
            Phone p = ParsePhone((*it)[i], "air.phones[" + std::to_string(i) + "]");
            for (const auto& q : s.phones)
                if (q.address == p.address)
                    Fail("air.phones[" + std::to_string(i) + "]", "address " + AddressToText(p.address) + " twice");
            s.phones.push_back(std::move(p));
        }
    }
    return s;
}

} // namespace

bool Air::LoadDefault(std::string* error) {
    return LoadFile(DefaultFilePath(), error);
}

bool Air::LoadFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read the air file " + path;
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    State next;
    try {
        next = ParseDescription(ss.str());
    } catch (const std::exception& e) {
        if (error)
            *error = path + ": " + e.what();
        return false;
    }
    return Apply(std::move(next), path, error);
}

bool Air::LoadJson(std::string_view text, std::string* error) {
    State next;
    try {
        next = ParseDescription(text);
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }
    return Apply(std::move(next), {}, error);
}

void Air::Clear() {
    Apply(State{}, {}, nullptr);
}

bool Air::Apply(State next, std::string path, std::string* /*error*/) {
    std::vector<Notice> notices;
    {
        std::lock_guard lock(mu_);
        notices = Diff(*state_, next);
        *state_ = std::move(next);
        path_ = std::move(path);
        mtime_ = {};
        fileSize_ = -1;
        struct stat st {};
        if (!path_.empty() && ::stat(path_.c_str(), &st) == 0) {
            mtime_ = st.st_mtim;
            fileSize_ = st.st_size;
        }
    }
    Notify(notices);
    return true;
}

std::vector<Notice> Air::Diff(const State& a, const State& b) {
    std::vector<Notice> n;
    for (int k = 0; k < kStackKinds; ++k)
        if (a.radios[k].present != b.radios[k].present)
            n.push_back({b.radios[k].present ? AirEvent::RadioArrived : AirEvent::RadioRemoved, k});
    if (a.irda != b.irda)
        n.push_back({b.irda ? AirEvent::IrdaArrived : AirEvent::IrdaRemoved});
    if (a.deviceLink != b.deviceLink)
        n.push_back({b.deviceLink ? AirEvent::DeviceLinkConnected : AirEvent::DeviceLinkDisconnected});
    if (a.wifi != b.wifi)
        n.push_back({b.wifi ? AirEvent::WifiArrived : AirEvent::WifiRemoved});
    if (!a.phones.empty() || !b.phones.empty())
        n.push_back({AirEvent::PhonesChanged});
    return n;
}

bool Air::PollFileChange(std::string* error) {
    std::string path;
    std::timespec mtime;
    off_t size;
    {
        std::lock_guard lock(mu_);
        path = path_;
        mtime = mtime_;
        size = fileSize_;
    }
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false; // gone for now (an editor saving it); keep what we have
    if (st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec && st.st_size == size)
        return false;
    if (!LoadFile(path, error)) {
        // Remember this version so a broken file is reported once, not on every poll.
        std::lock_guard lock(mu_);
        if (path_ == path) {
            mtime_ = st.st_mtim;
            fileSize_ = st.st_size;
        }
        return false;
    }
    return true;
}

std::string Air::FilePath() const {
    std::lock_guard lock(mu_);
    return path_;
}

// ---------------------------------------------------------------------------------------
// Radios and transports

static bool ValidKind(int k) {
    return k >= 0 && k < kStackKinds;
}

Radio Air::GetRadio(int k) const {
    std::lock_guard lock(mu_);
    return ValidKind(k) ? state_->radios[k] : Radio{};
}

bool Air::RadioPresent(int k) const {
    return GetRadio(k).present;
}

void Air::SetRadio(int k, const Radio& r) {
    if (!ValidKind(k))
        return;
    std::vector<Notice> n;
    {
        std::lock_guard lock(mu_);
        Radio& cur = state_->radios[k];
        if (cur.present != r.present)
            n.push_back({r.present ? AirEvent::RadioArrived : AirEvent::RadioRemoved, k});
        cur = r;
        cur.name = ClampName(cur.name);
    }
    Notify(n);
}

void Air::SetRadioPresent(int k, bool present) {
    Radio r = GetRadio(k);
    r.present = present;
    SetRadio(k, r);
}

void Air::SetRadioName(int k, const std::string& name) {
    if (!ValidKind(k))
        return;
    std::lock_guard lock(mu_);
    state_->radios[k].name = ClampName(name);
}

bool Air::IrdaPresent() const {
    std::lock_guard lock(mu_);
    return state_->irda;
}

bool Air::DeviceLinkConnected() const {
    std::lock_guard lock(mu_);
    return state_->deviceLink;
}

bool Air::WifiPresent() const {
    std::lock_guard lock(mu_);
    return state_->wifi;
}

namespace {
template <typename F> void Toggle(std::mutex& mu, bool& flag, bool value, F notify, AirEvent on, AirEvent off) {
    bool changed;
    {
        std::lock_guard lock(mu);
        changed = flag != value;
        flag = value;
    }
    if (changed)
        notify(std::vector<Notice>{{value ? on : off}});
}
} // namespace

void Air::SetIrdaPresent(bool v) {
    Toggle(
        mu_, state_->irda, v, [this](const std::vector<Notice>& n) { Notify(n); }, AirEvent::IrdaArrived,
        AirEvent::IrdaRemoved);
}

void Air::SetDeviceLinkConnected(bool v) {
    Toggle(
        mu_, state_->deviceLink, v, [this](const std::vector<Notice>& n) { Notify(n); }, AirEvent::DeviceLinkConnected,
        AirEvent::DeviceLinkDisconnected);
}

void Air::SetWifiPresent(bool v) {
    Toggle(
        mu_, state_->wifi, v, [this](const std::vector<Notice>& n) { Notify(n); }, AirEvent::WifiArrived,
        AirEvent::WifiRemoved);
}

// ---------------------------------------------------------------------------------------
// Phones

std::vector<Phone> Air::Phones() const {
    std::lock_guard lock(mu_);
    return state_->phones;
}

std::optional<Phone> Air::FindPhone(const Address& a) const {
    std::lock_guard lock(mu_);
    for (const auto& p : state_->phones)
        if (p.address == a)
            return p;
    return std::nullopt;
}

std::optional<Phone> Air::FindPhone(std::string_view text) const {
    auto a = AddressFromText(text);
    if (!a)
        return std::nullopt;
    return FindPhone(*a);
}

void Air::AddPhone(const Phone& p) {
    {
        std::lock_guard lock(mu_);
        Phone copy = p;
        copy.name = ClampName(copy.name);
        if (copy.inbox.empty() || copy.inbox[0] != '/')
            copy.inbox = ResolveInbox(copy.inbox, copy.address);
        auto it = std::find_if(state_->phones.begin(), state_->phones.end(),
                               [&](const Phone& q) { return q.address == p.address; });
        if (it != state_->phones.end())
            *it = std::move(copy);
        else
            state_->phones.push_back(std::move(copy));
    }
    Notify({{AirEvent::PhonesChanged}});
}

bool Air::RemovePhone(const Address& a) {
    bool removed;
    {
        std::lock_guard lock(mu_);
        auto& v = state_->phones;
        auto it = std::remove_if(v.begin(), v.end(), [&](const Phone& p) { return p.address == a; });
        removed = it != v.end();
        v.erase(it, v.end());
    }
    if (removed)
        Notify({{AirEvent::PhonesChanged}});
    return removed;
}

bool Air::UpdatePhone(const Address& a, const std::function<void(Phone&)>& edit) {
    {
        std::lock_guard lock(mu_);
        auto it =
            std::find_if(state_->phones.begin(), state_->phones.end(), [&](const Phone& q) { return q.address == a; });
        if (it == state_->phones.end())
            return false;
        edit(*it);
        it->address = a; // the key stays the key
        it->name = ClampName(it->name);
    }
    Notify({{AirEvent::PhonesChanged}});
    return true;
}

bool Air::SetPhoneInRange(const Address& a, bool inRange) {
    return UpdatePhone(a, [&](Phone& p) { p.inRange = inRange; });
}

NameResult Air::ReadName(const Address& a, std::string& name) {
    std::lock_guard lock(mu_);
    for (auto& p : state_->phones) {
        if (p.address != a)
            continue;
        if (!p.inRange)
            return NameResult::NotFound;
        if (p.nameFailures > 0) {
            --p.nameFailures;
            return NameResult::Failed;
        }
        name = p.name;
        return NameResult::Ok;
    }
    return NameResult::NotFound;
}

NameResult Air::ReadClassOfDevice(const Address& a, uint32_t& cod) const {
    std::lock_guard lock(mu_);
    for (const auto& p : state_->phones)
        if (p.address == a) {
            if (!p.inRange)
                return NameResult::NotFound;
            cod = p.classOfDevice;
            return NameResult::Ok;
        }
    return NameResult::NotFound;
}

PairResult Air::Pair(int stackKind, const Address& a, const std::string& pin) {
    std::lock_guard lock(mu_);
    if (!ValidKind(stackKind) || !state_->radios[stackKind].present)
        return PairResult::NotFound;
    for (auto& p : state_->phones) {
        if (p.address != a)
            continue;
        if (!p.ReachableFrom(stackKind))
            return PairResult::NotFound;
        switch (p.pairing.outcome) {
        case PairOutcome::Refuse:
            return PairResult::Refused;
        case PairOutcome::Timeout:
            return PairResult::Timeout;
        case PairOutcome::Accept:
            break;
        }
        if (!p.pairing.pin.empty() && p.pairing.pin != pin)
            return PairResult::WrongPin;
        p.pairing.paired = true;
        return PairResult::Paired;
    }
    return PairResult::NotFound;
}

bool Air::Unpair(const Address& a) {
    std::lock_guard lock(mu_);
    for (auto& p : state_->phones)
        if (p.address == a) {
            bool was = p.pairing.paired;
            p.pairing.paired = false;
            return was;
        }
    return false;
}

bool Air::IsPaired(const Address& a) const {
    std::lock_guard lock(mu_);
    for (const auto& p : state_->phones)
        if (p.address == a)
            return p.pairing.paired;
    return false;
}

InquiryResult Air::Inquire(int stackKind, int requestedMs) const {
    InquiryResult r;
    std::lock_guard lock(mu_);
    if (!ValidKind(stackKind) || !state_->radios[stackKind].present)
        return r;
    r.radioPresent = true;
    r.durationMs = static_cast<int>(std::lround(std::max(0, requestedMs) * state_->timeScale));
    if (requestedMs > 0 && r.durationMs == 0)
        r.durationMs = 1;
    for (const auto& p : state_->phones)
        if (p.ReachableFrom(stackKind))
            r.found.push_back(p);
    return r;
}

// ---------------------------------------------------------------------------------------
// Time

double Air::TimeScale() const {
    std::lock_guard lock(mu_);
    return state_->timeScale;
}

void Air::SetTimeScale(double scale) {
    if (!(scale > 0))
        scale = 1e-6;
    std::lock_guard lock(mu_);
    state_->timeScale = std::min(scale, 1000.0);
}

int Air::ScaledMs(int ms) const {
    double s = TimeScale();
    if (ms <= 0)
        return 0;
    long v = std::lround(ms * s);
    return static_cast<int>(std::clamp(v, 1L, static_cast<long>(INT32_MAX)));
}

// ---------------------------------------------------------------------------------------
// Observers

int Air::Subscribe(Listener listener) {
    std::lock_guard lock(subMu_);
    int token = nextToken_++;
    subs_.push_back({token, std::move(listener)});
    return token;
}

void Air::Unsubscribe(int token) {
    std::unique_lock lock(subMu_);
    subs_.erase(std::remove_if(subs_.begin(), subs_.end(), [&](const Sub& s) { return s.token == token; }),
                subs_.end());
    // Wait out deliveries on other threads; the caller may unload the callback's code next.
    const auto me = std::this_thread::get_id();
    subCv_.wait(lock, [&] {
        return std::none_of(inFlight_.begin(), inFlight_.end(),
                            [&](const auto& f) { return f.first == token && f.second != me; });
    });
}

void Air::Notify(const std::vector<Notice>& notices) {
    const auto me = std::this_thread::get_id();
    for (const auto& n : notices) {
        std::vector<Sub> subs;
        {
            std::lock_guard lock(subMu_);
            subs = subs_;
        }
        for (const auto& s : subs) {
            {
                // Skip a listener that left meanwhile; otherwise mark it busy on this thread.
                std::lock_guard lock(subMu_);
                if (std::none_of(subs_.begin(), subs_.end(), [&](const Sub& x) { return x.token == s.token; }))
                    continue;
                inFlight_.emplace_back(s.token, me);
            }
            try {
                s.fn(n);
            } catch (...) {
                // A listener's failure must not stop the others or reach the caller's thread.
            }
            {
                std::lock_guard lock(subMu_);
                inFlight_.erase(std::find(inFlight_.begin(), inFlight_.end(), std::make_pair(s.token, me)));
            }
            subCv_.notify_all();
        }
    }
}

} // namespace air
