// Drives the modal dialogs a test opens: each step waits until the active modal widget is of
// its type (and, optionally, ready), acts on it once and hands over to the next step.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace tavtest {

class ModalSteps {
public:
    ModalSteps() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    // Acts on the next modal dialog of type T once ready(T) holds.
    template <typename T> ModalSteps& Then(std::function<void(T&)> act, std::function<bool(T&)> ready = {}) {
        steps_.push_back(Step{[ready](QWidget* w) {
                                  auto* d = qobject_cast<T*>(w);
                                  return d && (!ready || ready(*d));
                              },
                              [act](QWidget* w) { act(*qobject_cast<T*>(w)); }});
        return *this;
    }
    bool Done() const { return next_ >= steps_.size(); }
    std::size_t Taken() const { return next_; }

private:
    void Poll() {
        if (Done())
            return;
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !steps_[next_].matches(w))
            return;
        // Taken before acting, and acted on from a timer of its own: the action may open a nested
        // modal loop, and this timer does not fire again until its own slot has returned.
        const Step step = steps_[next_++];
        QPointer<QWidget> target(w);
        QTimer::singleShot(0, [step, target] {
            if (target)
                step.act(target);
        });
    }

    struct Step {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> act;
    };
    QTimer timer_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
};

} // namespace tavtest
