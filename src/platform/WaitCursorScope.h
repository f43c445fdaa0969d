#pragma once

// The hourglass for the life of a scope: set on construction, taken back on
// Restore() or at the end of the scope, so that an exception never leaves it
// set. Scopes nest (the override cursor is a stack).
//
// Thread: main thread only; does nothing without a QGuiApplication.

#include <QCursor>
#include <QGuiApplication>

namespace orvane {

class TWaitCursorScope {
public:
    TWaitCursorScope() {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            m_set = true;
        }
    }
    ~TWaitCursorScope() { Restore(); }
    TWaitCursorScope(const TWaitCursorScope&) = delete;
    TWaitCursorScope& operator=(const TWaitCursorScope&) = delete;

    void Restore() {
        if (m_set) {
            m_set = false;
            QGuiApplication::restoreOverrideCursor();
        }
    }

private:
    bool m_set = false;
};

} // namespace orvane
