// The wait cursor over the whole application while a step that may take seconds runs on
// the window's thread (storing or preparing a large campaign): the operator sees the
// station at work rather than a window that seems to hang. Nests; restored on every exit.
#pragma once

class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    bool shown_ = false;
};
