// A hidden message-only window for tests: records what it receives and hands it to an optional handler.
#pragma once

#include "win32/Windows.h"

#include <functional>
#include <mutex>
#include <vector>

class TestWindow {
public:
    using Handler = std::function<win::LRESULT(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam)>;
    struct Received {
        win::UINT msg;
        win::WPARAM wParam;
        win::LPARAM lParam;
        win::DWORD threadId;
    };

    explicit TestWindow(Handler handler = {});
    ~TestWindow(); // destroys the window if it still lives (call on the owner thread)
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    win::HWND Hwnd() const { return hwnd_; }
    void SetHandler(Handler handler);
    std::vector<Received> ReceivedMessages() const;
    int Count(win::UINT msg) const;

private:
    static win::LRESULT Proc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

    win::HWND hwnd_ = nullptr;
    mutable std::mutex mu_;
    Handler handler_;
    std::vector<Received> received_;
};
