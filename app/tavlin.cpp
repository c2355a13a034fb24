// The station program.
#include "entry.h"
#include "main.h"
#include "stopsignal.h"

#include "qt/MessageBridge.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv) {
    // A phone or peer that hangs up is a lost link to handle, never a signal that ends the station.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    // The library's hidden windows get their messages from Qt's event loop.
    win::MessageBridge::Install();
    StopOnTerminationSignals([] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<TfmMain*>(w) && w->isVisible()) {
                // Every loop ends, open dialogs included; the window then closes as on Exit.
                QCoreApplication::exit(0);
                return;
            }
        }
        // Still starting: nothing is sending yet.
        std::exit(1);
    });
    return RunStation(1000);
}
