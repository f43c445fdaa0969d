#pragma once

// What the programs that take pictures for the documentation share: letting
// the demo plant run while values arrive, and saving a window's picture.

#include <cstdio>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>

namespace orvane {

class TServer;

namespace shots {

// Lets the program run (values arrive, windows repaint) for a while.
inline void runFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(ms)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// The server-connected step, as a flag to wait on.
struct Connected {
    void Done(TServer*) { done = true; }
    bool done = false;
};

// Brings the window to the front, lets it paint and saves its picture.
inline bool save(QWidget* window, const QString& path) {
    window->raise();
    window->activateWindow();
    runFor(300);
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

} // namespace shots
} // namespace orvane
