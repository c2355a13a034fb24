#include "entry.h"

#include "main.h"
#include "splash.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

int RunStation(int splashMilliseconds, const std::function<void(TfmMain&)>& created) {
    fmSplash = new TfmSplash(nullptr);
    fmSplash->show();
    fmSplash->repaint();
    // A window manager may map the window only later: it is painted when it is exposed, so
    // its time is spent serving the window's events rather than asleep. Input waits until
    // the main window is up.
    QEventLoop shown;
    QTimer::singleShot(splashMilliseconds, &shown, &QEventLoop::quit);
    shown.exec(QEventLoop::ExcludeUserInputEvents);

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
