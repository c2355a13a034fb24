// Keeps the simulated air in step with its description file while Qt's event loop runs, so
// an operator may edit the file under a running program: phones come, go or change, radios
// are plugged or unplugged. A file that does not load is reported once on standard error
// (which file, and where in it) and the air stays as it was.
#pragma once

#include <QObject>
#include <QTimer>

#include <ctime>
#include <string>
#include <sys/types.h>

namespace air {

class AirFileWatch : public QObject {
    Q_OBJECT
public:
    explicit AirFileWatch(int intervalMs = 500, QObject* parent = nullptr);

    // Creates the watch (owned by the application object) unless it exists; returns it.
    static AirFileWatch* Install();

    // One look at the file. A file seen changing is loaded one look later, once it held still,
    // so an editor caught halfway through writing it is not reported as broken. True when
    // the air was reloaded.
    bool Poll();

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
    static Version Current();

    QTimer timer_;
    Version seen_;
};

} // namespace air
