// Stand-ins for pieces that other units supply (the proximity senders). Each is as small as the main window needs and goes away when
// the real piece is wired in.
#pragma once

#include <functional>

namespace tavlin {

class TSenderStub {
public:
    explicit TSenderStub(int tag) : tag_(tag) {}
    std::function<void(TSenderStub*)> OnStopped;
    int Tag() const { return tag_; }
    bool Active() const { return active_; }
    void Start() { active_ = true; }
    void Stop() { if (!active_) return; active_ = false; if (OnStopped) OnStopped(this); }

private:
    int tag_;
    bool active_ = false;
};

} // namespace tavlin
