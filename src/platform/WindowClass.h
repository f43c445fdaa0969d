#pragma once

// Window classes of top-level windows, as far as other programs can see them:
// a process that owns a top-level window of a class registers the class name
// for as long as the window lives, and FindWindow finds a live registration.
//
// A registration is a file "<CLASS>.<pid>.<n>.wndclass" in the private
// run-time folder (the folder of the DDE sockets: $ORVANE_DDE_DIR, else
// $XDG_RUNTIME_DIR/orvane-dde, else /tmp/orvane-dde-<uid>; mode 0700, refused
// when another user owns it or others may enter it). The owner holds an
// exclusive flock on it while it lives, so a registration left behind by a
// process that died counts as gone (and is removed by the next search).
// Class names are compared without regard to letter case, as on Windows.

#include <cstdint>

#include <QString>

// A window handle. Here the process id of the window's owner; 0 = none.
using HWND = std::uintptr_t;

// The top-level window of class lpClassName of any live process of this user
// (the earliest-registered one when several live), or 0. Window titles are not
// registered: a non-null lpWindowName finds nothing. Sets errno on failure.
HWND FindWindow(const char* lpClassName, const char* lpWindowName);

// Process id of the window's owner in *lpdwProcessId (when not null); returns
// the owner's main-thread id, which is the process id here; 0 for no window.
std::uint32_t GetWindowThreadProcessId(HWND hWnd, std::uint32_t* lpdwProcessId);

namespace orvane {

// The registration of one top-level window of a class, held from construction
// to destruction (RAII). Not copyable. Use on any thread; the object itself is
// not shared between threads.
class WindowClassRegistration {
public:
    explicit WindowClassRegistration(const QString& className);
    ~WindowClassRegistration();
    WindowClassRegistration(const WindowClassRegistration&) = delete;
    WindowClassRegistration& operator=(const WindowClassRegistration&) = delete;

    // False when the run-time folder was refused or the file could not be
    // made; errorString() says why.
    bool isValid() const { return m_fd >= 0; }
    QString errorString() const { return m_error; }
    QString className() const { return m_className; }

private:
    QString m_className;
    QString m_path;
    QString m_error;
    int m_fd = -1;
};

} // namespace orvane
