#include "sim/air/AirFileWatch.h"

#include "sim/air/Air.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace air {

AirFileWatch::AirFileWatch(Air& air) : air_(air), seen_(Current()) {}

AirFileWatch::~AirFileWatch() {
    Stop();
}

bool AirFileWatch::Enabled() {
    const char* env = std::getenv("TAVLIN_AIR_WATCH");
    return !env || std::strcmp(env, "0") != 0;
}

AirFileWatch::Version AirFileWatch::Current() const {
    Version v;
    v.path = air_.FilePath();
    struct stat st {};
    if (!v.path.empty() && ::stat(v.path.c_str(), &st) == 0) {
        v.mtime = st.st_mtim;
        v.size = st.st_size;
    }
    return v;
}

bool AirFileWatch::Poll() {
    std::lock_guard lock(pollMu_);
    const Version now = Current();
    if (!(now == seen_)) {
        seen_ = now;
        return false;
    }
    std::string error;
    const bool reloaded = air_.PollFileChange(&error);
    // The air reports a broken version only the first time it meets it.
    if (!error.empty()) {
        std::fprintf(stderr, "tavlin: the air file was not loaded, the air stays as it was: %s\n", error.c_str());
        std::fflush(stderr);
    }
    return reloaded;
}

void AirFileWatch::Start(int intervalMs) {
    Stop();
    {
        std::lock_guard lock(threadMu_);
        stop_ = false;
    }
    const auto interval = std::chrono::milliseconds(intervalMs > 0 ? intervalMs : 1);
    thread_ = std::thread([this, interval] {
        std::unique_lock lock(threadMu_);
        while (!wake_.wait_for(lock, interval, [this] { return stop_; })) {
            lock.unlock();
            Poll();
            lock.lock();
        }
    });
}

void AirFileWatch::Stop() {
    {
        std::lock_guard lock(threadMu_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

} // namespace air
