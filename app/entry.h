// The program's start-up sequence: splash, main window, and the message loop only when
// the database was reached.
#pragma once

#include <functional>

class TfmMain;

// Returns the message loop's exit code, or 0 when the loop never ran. `created` sees the
// main window right after its creation (tests use it).
int RunStation(int splashMilliseconds, const std::function<void(TfmMain&)>& created = {});
