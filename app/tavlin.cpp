// The station program.
#include "entry.h"

#include "qt/MessageBridge.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The library's hidden windows get their messages from Qt's event loop.
    win::MessageBridge::Install();
    return RunStation(1000);
}
