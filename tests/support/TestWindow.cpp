#include "TestWindow.h"

using namespace win;

TestWindow::TestWindow(Handler handler) : handler_(std::move(handler)) {
    hwnd_ = CreateWindowExW(0, u"Message", u"WindowForMessage", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrW(hwnd_, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&TestWindow::Proc));
    }
}

TestWindow::~TestWindow() {
    if (hwnd_ && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWL_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void TestWindow::SetHandler(Handler handler) {
    std::lock_guard lk(mu_);
    handler_ = std::move(handler);
}

std::vector<TestWindow::Received> TestWindow::ReceivedMessages() const {
    std::lock_guard lk(mu_);
    return received_;
}

int TestWindow::Count(UINT msg) const {
    std::lock_guard lk(mu_);
    int n = 0;
    for (auto& r : received_)
        n += r.msg == msg;
    return n;
}

LRESULT TestWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(hwnd, GWL_USERDATA));
    if (!self || msg == WM_DESTROY || msg == WM_NCDESTROY)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    Handler handler;
    {
        std::lock_guard lk(self->mu_);
        self->received_.push_back({msg, wParam, lParam, GetCurrentThreadId()});
        handler = self->handler_;
    }
    return handler ? handler(msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}
