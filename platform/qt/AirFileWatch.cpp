#include "qt/AirFileWatch.h"

#include "sim/air/Air.h"

#include <QCoreApplication>

#include <cstdio>
#include <sys/stat.h>

namespace air {
namespace {
AirFileWatch* g_watch = nullptr;
}

AirFileWatch::AirFileWatch(int intervalMs, QObject* parent) : QObject(parent), seen_(Current()) {
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
}

AirFileWatch* AirFileWatch::Install() {
    if (!g_watch) {
        g_watch = new AirFileWatch(500, QCoreApplication::instance());
        QObject::connect(g_watch, &QObject::destroyed, [] { g_watch = nullptr; });
    }
    return g_watch;
}

AirFileWatch::Version AirFileWatch::Current() {
    Version v;
    v.path = Air::Instance().FilePath();
    struct stat st {};
    if (!v.path.empty() && ::stat(v.path.c_str(), &st) == 0) {
        v.mtime = st.st_mtim;
        v.size = st.st_size;
    }
    return v;
}

bool AirFileWatch::Poll() {
    const Version now = Current();
    if (!(now == seen_)) {
        seen_ = now;
        return false;
    }
    std::string error;
    const bool reloaded = Air::Instance().PollFileChange(&error);
    // The air reports a broken version only the first time it meets it.
    if (!error.empty()) {
        std::fprintf(stderr, "tavlin: the air file was not loaded, the air stays as it was: %s\n", error.c_str());
        std::fflush(stderr);
    }
    return reloaded;
}

} // namespace air
