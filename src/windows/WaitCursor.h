#pragma once

// The hourglass for the life of a scope, so that an exception never leaves it
// set. Scopes nest.

#include <QGuiApplication>

namespace orvane {

class TWaitCursor {
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace orvane
