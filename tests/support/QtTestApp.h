// One QApplication for the GUI tests of a process (offscreen unless the environment says otherwise).
#pragma once

#include <QApplication>

#include <cstdlib>
#include <ostream>

inline QApplication* EnsureQApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return app;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "tavlin-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down from exit handlers crashes once windows were shown.
    static auto* app = new QApplication(argc, argv);
    return app;
}

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
