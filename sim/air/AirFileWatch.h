// Keeps the simulated air in step with its description file, so an operator may edit the file
// under a running program: phones come, go or change, radios are plugged or unplugged. A file
// that does not load is reported once on standard error (which file, and where in it) and the
// air stays as it was.
#pragma once

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

namespace air {

class Air;

class AirFileWatch {
public:
    explicit AirFileWatch(Air& air);
    // Stops the looking thread, if one runs.
    ~AirFileWatch();
    AirFileWatch(const AirFileWatch&) = delete;
    AirFileWatch& operator=(const AirFileWatch&) = delete;

    // One look at the file. A file seen changing is loaded one look later, once it held still,
    // so an editor caught halfway through writing it is not reported as broken. True when
    // the air was reloaded.
    bool Poll();

    // Looks every intervalMs on a thread of its own until Stop. The air's notices of what a
    // reload changed then arrive on that thread.
    void Start(int intervalMs = 500);
    void Stop();

    // Whether the air watches the file it loaded by itself: unless $TAVLIN_AIR_WATCH is "0"
    // (the tests, which drive their own watch where they need one).
    static bool Enabled();

private:
    struct Version {
        std::string path;
        std::timespec mtime{};
        off_t size = -1;
        bool operator==(const Version& o) const {
            return path == o.path && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
                   size == o.size;
        }
    };
    Version Current() const;

    Air& air_;
    std::mutex pollMu_;
    Version seen_;
    std::mutex threadMu_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace air
