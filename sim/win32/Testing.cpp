// Failure switches, result values and the call journal shared by the platform and every stand-in.
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <set>

namespace win {
namespace detail {
void ResetSystemForTests();       // System.cpp
void ResetLoadingForTests();      // Loader.cpp
void ResetComputerNameForTests(); // DeviceRegistry.cpp
} // namespace detail

namespace test {
namespace {

struct Switches {
    std::mutex mu;
    std::map<std::string, int, std::less<>> failNext;
    std::set<std::string, std::less<>> failAlways;
    std::map<std::string, long long, std::less<>> values;
    std::vector<JournalEntry> journal;
};

Switches& W() {
    static Switches* s = new Switches;
    return *s;
}

// Long runs must not grow the journal without bound; tests clear it anyway.
constexpr std::size_t kJournalLimit = 100000;

} // namespace

void FailNext(std::string_view name, int count) {
    std::lock_guard lk(W().mu);
    if (count <= 0)
        W().failNext.erase(std::string(name));
    else
        W().failNext[std::string(name)] = count;
}

void SetFail(std::string_view name, bool fail) {
    std::lock_guard lk(W().mu);
    if (fail)
        W().failAlways.insert(std::string(name));
    else
        W().failAlways.erase(std::string(name));
}

bool ShouldFail(std::string_view name) {
    std::lock_guard lk(W().mu);
    if (W().failAlways.count(name))
        return true;
    auto it = W().failNext.find(name);
    if (it == W().failNext.end())
        return false;
    if (--it->second <= 0)
        W().failNext.erase(it);
    return true;
}

void SetValue(std::string_view name, long long value) {
    std::lock_guard lk(W().mu);
    W().values[std::string(name)] = value;
}

void ClearValue(std::string_view name) {
    std::lock_guard lk(W().mu);
    auto it = W().values.find(name);
    if (it != W().values.end())
        W().values.erase(it);
}

long long Value(std::string_view name, long long defaultValue) {
    std::lock_guard lk(W().mu);
    auto it = W().values.find(name);
    return it == W().values.end() ? defaultValue : it->second;
}

void Record(std::string_view name, std::string args) {
    std::lock_guard lk(W().mu);
    auto& j = W().journal;
    if (j.size() >= kJournalLimit)
        j.erase(j.begin(), j.begin() + kJournalLimit / 2);
    j.push_back({std::string(name), std::move(args)});
}

std::vector<JournalEntry> Journal() {
    std::lock_guard lk(W().mu);
    return W().journal;
}

std::vector<std::string> Calls(std::string_view name) {
    std::lock_guard lk(W().mu);
    std::vector<std::string> out;
    for (auto& e : W().journal)
        if (e.name == name)
            out.push_back(e.args);
    return out;
}

int CallCount(std::string_view name) {
    return static_cast<int>(Calls(name).size());
}

void ClearJournal() {
    std::lock_guard lk(W().mu);
    W().journal.clear();
}

std::string HandleText(const void* handle) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%#llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
    return buf;
}

void Reset() {
    {
        std::lock_guard lk(W().mu);
        W().failNext.clear();
        W().failAlways.clear();
        W().values.clear();
        W().journal.clear();
    }
    SetTimeScale(1.0);
    detail::ResetSystemForTests();
    detail::ResetLoadingForTests();
    detail::ResetComputerNameForTests();
}

} // namespace test
} // namespace win
