// Ctrl+C or a kill from the terminal ends the station the way its Exit does, without asking.
#pragma once

#include <functional>

// Call once the QApplication exists. From then on SIGINT and SIGTERM call `stop` on the
// thread that runs the Qt event loop (a later call replaces `stop`). The embedded database
// engine of this process would otherwise take either signal as its own shutdown and leave
// the station running on a dead connection: it is told to keep going, and the station
// closes it in order instead.
void StopOnTerminationSignals(std::function<void()> stop);
