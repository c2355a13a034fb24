// Lets Qt's event loop drain the message queue of the thread it runs on: every post, send or timer tick
// for that thread's windows wakes an eventfd watched by a QSocketNotifier, and the bridge dispatches
// what is waiting. With the bridge installed, QCoreApplication::exec() / processEvents() is the message
// loop of the library's hidden windows. WM_QUIT ends the Qt event loop with its exit code. Sockets
// selected to the thread's windows are watched by notifiers of their own, kept in step after each drain.
#pragma once

#include <QObject>

#include <map>

class QSocketNotifier;

namespace win {

class MessageBridge : public QObject {
    Q_OBJECT
public:
    // Attaches to the calling thread's queue. One bridge per thread.
    explicit MessageBridge(QObject* parent = nullptr);
    ~MessageBridge() override;

    // Creates the calling thread's bridge (owned by the application object) unless it exists; returns it.
    static MessageBridge* Install();

    // Dispatches what is waiting now, at most `limit` messages; more wakes the bridge again later so
    // that Qt's own events are not starved. Returns how many were handled.
    int Drain(int limit = 500);

private:
    void Activated();
    void SocketReadable(int fd);
    void WatchSockets();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::map<int, QSocketNotifier*> sockets_;
};

} // namespace win
