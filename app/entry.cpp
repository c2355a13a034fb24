#include "entry.h"

#include "main.h"
#include "splash.h"

#include <QApplication>
#include <QThread>

int RunStation(int splashMilliseconds, const std::function<void(TfmMain&)>& created) {
    fmSplash = new TfmSplash(nullptr);
    fmSplash->show();
    fmSplash->repaint();
    QApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(splashMilliseconds));

    auto* window = new TfmMain();
    if (created)
        created(*window);

    fmSplash->hide();
    delete fmSplash;
    fmSplash = nullptr;

    int rc = 0;
    if (window->Connected) {
        window->show();
        rc = QApplication::exec();
    }
    delete window;
    return rc;
}
