#include "busycursor.h"

#include <QApplication>
#include <QCursor>

TBusyCursor::TBusyCursor() {
    // Only a GUI application has cursors.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        shown_ = true;
    }
}

TBusyCursor::~TBusyCursor() {
    if (shown_)
        QApplication::restoreOverrideCursor();
}
