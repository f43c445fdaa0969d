#include "platform/DdeRuntime.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::dde {

namespace {

// Socket names longer than this are shortened with a hash.
constexpr std::size_t kMaxSocketNameBytes = 64;
constexpr std::size_t kKeptNameBytes = 40;

bool plainNameByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '_' ||
           c == '-';
}

} // namespace

std::string runtimeDirPath() {
    if (const char* dir = std::getenv("ORVANE_DDE_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
        return std::string(xdg) + "/orvane-dde";
    }
    return "/tmp/orvane-dde-" + std::to_string(::geteuid());
}

bool prepareRuntimeDir(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no run-time folder";
        return false;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = "cannot inspect " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        error = path + " belongs to another user";
        return false;
    }
    if ((st.st_mode & 0077) != 0) {
        error = path + " is open to other users (mode must be 0700)";
        return false;
    }
    return true;
}

char upperCase1252(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') {
        return char(c - 0x20);
    }
    if (c < 0x80) {
        return ch;
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return char(c - 0x20);
    }
    switch (c) {
    case 0x9A: // s caron
    case 0x9C: // oe
    case 0x9E: // z caron
        return char(c - 0x10);
    case 0xFF: // y diaeresis
        return char(0x9F);
    default:
        return ch;
    }
}

std::string upperCased(std::string_view text) {
    std::string out;
    foldInto(text, out);
    return out;
}

void foldInto(std::string_view text, std::string& out) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = upperCase1252(text[i]);
    }
}

std::string serviceSocketName(std::string_view service) {
    static const char hex[] = "0123456789ABCDEF";
    const std::string upper = upperCased(service);
    std::string name;
    for (const char ch : upper) {
        const auto c = static_cast<unsigned char>(ch);
        if (plainNameByte(c)) {
            name += ch;
        } else {
            name += '%';
            name += hex[c >> 4];
            name += hex[c & 0xF];
        }
    }
    if (name.size() > kMaxSocketNameBytes) {
        std::uint64_t hash = 14695981039346656037ull; // FNV-1a of the upper-cased name
        for (const char ch : upper) {
            hash = (hash ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
        }
        name.resize(kKeptNameBytes);
        name += '~';
        for (int shift = 60; shift >= 0; shift -= 4) {
            name += hex[(hash >> shift) & 0xF];
        }
    }
    return name + ".dde";
}

bool peerIsSameUser(int fd) {
    struct ucred cred {};
    socklen_t len = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
        return false;
    }
    return cred.uid == ::geteuid();
}

std::size_t maxSocketPathBytes() {
    return sizeof(sockaddr_un::sun_path) - 1;
}

bool fillSocketAddress(const std::string& path, sockaddr_un& address) {
    if (path.size() > maxSocketPathBytes()) {
        return false;
    }
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

} // namespace orvane::dde
