#pragma once

// The private run-time folder of the local DDE transport and the file names in
// it: where services listen, how a stale socket is told from a live one, and
// the same-user rule for peers.

#include <string>
#include <string_view>

struct sockaddr_un;

namespace orvane::dde {

// The folder: $ORVANE_DDE_DIR, else $XDG_RUNTIME_DIR/orvane-dde, else
// /tmp/orvane-dde-<uid>. Not checked.
std::string runtimeDirPath();

// Creates the folder (mode 0700) when missing and checks it: a real folder
// (not a link), owned by this user, with no permission for group or others.
// Returns false with a reason in `error` when it must not be used.
bool prepareRuntimeDir(const std::string& path, std::string& error);

// Upper-cases a Windows-1252 text the way atoms compare (ASCII and the
// accented letters of the code page).
char upperCase1252(char c);
std::string upperCased(std::string_view text);
// Folds a text for case-insensitive identity into `out` (reused storage).
void foldInto(std::string_view text, std::string& out);

// File name (without folder) of the socket of a service: the upper-cased
// name, bytes outside [A-Z0-9 ._-] written as %XX, ".dde" appended; a long
// name is cut and completed by a hash so that the path fits a socket address.
std::string serviceSocketName(std::string_view service);

// True when the connected Unix socket's peer runs as this process's user.
bool peerIsSameUser(int fd);

// Longest path a Unix socket address holds.
std::size_t maxSocketPathBytes();

// Fills a Unix socket address with `path`; false when the path does not fit.
bool fillSocketAddress(const std::string& path, sockaddr_un& address);

} // namespace orvane::dde
