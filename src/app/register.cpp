// orvane-register: records where the Duxlane server program lives, as its
// installer does on Windows, so that Orvane can start it:
//   HKEY_LOCAL_MACHINE "SOFTWARE\Kestova\DDE Servers\UPCIDuxlane", unnamed value.
//
// Usage: orvane-register <path of the server executable> [service name]

#include <cstdio>

#include <QCoreApplication>
#include <QFileInfo>

#include "platform/Registry.h"

namespace {
constexpr const char* kServersKey = "\\SOFTWARE\\Kestova\\DDE Servers\\";
constexpr const char* kDefaultService = "UPCIDuxlane";
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.size() > 3 || args[1].isEmpty()) {
        std::fprintf(stderr, "usage: orvane-register <server executable> [service name]\n");
        return 2;
    }
    const QString path = QFileInfo(args[1]).absoluteFilePath();
    const QString service = args.size() > 2 ? args[2] : QString::fromLatin1(kDefaultService);
    if (!QFileInfo(path).isExecutable()) {
        std::fprintf(stderr, "orvane-register: warning: %s is not an executable file\n",
                     qPrintable(path));
    }
    try {
        orvane::TRegistry registry(orvane::HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey(QString::fromLatin1(kServersKey) + service, true)) {
            std::fprintf(stderr, "orvane-register: cannot create the key in %s\n",
                         qPrintable(orvane::registryFolder()));
            return 1;
        }
        registry.WriteString(QString(), path);
    } catch (const orvane::Exception& e) {
        std::fprintf(stderr, "orvane-register: %s\n", e.what());
        return 1;
    }
    return 0;
}
