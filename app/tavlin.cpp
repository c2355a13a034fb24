// The station program.
#include "entry.h"

#include "qt/MessageBridge.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv) {
    // A phone or peer that hangs up is a lost link to handle, never a signal that ends the station.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    // The library's hidden windows get their messages from Qt's event loop.
    win::MessageBridge::Install();
    return RunStation(1000);
}
