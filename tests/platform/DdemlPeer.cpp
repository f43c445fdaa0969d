// A DDE server in a process of its own, for the cross-process DDE tests.
// Usage: ddeml_peer <service>. Prints "ready" once the service is registered.
// Every topic is accepted. Request "Pid" answers the process id; a poke stores
// the value and advises it to every link on that item; execute "Die" ends the
// process at once without answering; execute "Quit" answers and then ends.

#include "platform/ddeml.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

namespace {

DWORD g_inst = 0;
std::map<HSZ, std::string> g_values;

std::string bytesOf(HDDEDATA data) {
    DWORD size = 0;
    const BYTE* p = DdeAccessData(data, &size);
    std::string s = p != nullptr ? std::string(reinterpret_cast<const char*>(p), size) : "";
    DdeUnaccessData(data);
    return s;
}

HDDEDATA handleOf(const std::string& s, HSZ item, UINT format) {
    return DdeCreateDataHandle(g_inst, reinterpret_cast<const BYTE*>(s.data()), DWORD(s.size()), 0,
                               item, format, 0);
}

HDDEDATA callback(UINT type, UINT format, HCONV, HSZ topic, HSZ item, HDDEDATA data, ULONG_PTR,
                  ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
    case XTYP_ADVSTART:
        return TRUE;
    case XTYP_REQUEST:
    case XTYP_ADVREQ: {
        char name[256] = {};
        DdeQueryString(g_inst, item, name, sizeof(name), CP_WINANSI);
        if (std::string(name) == "Pid") {
            const std::string pid = std::to_string(::getpid());
            return handleOf(std::string(pid.c_str(), pid.size() + 1), item, format);
        }
        const auto it = g_values.find(item);
        return it == g_values.end() ? 0 : handleOf(it->second, item, format);
    }
    case XTYP_POKE:
        if (g_values.find(item) == g_values.end()) {
            DdeKeepStringHandle(g_inst, item);
        }
        g_values[item] = bytesOf(data);
        DdePostAdvise(g_inst, topic, item);
        return DDE_FACK;
    case XTYP_EXECUTE: {
        const std::string command = bytesOf(data);
        if (command == std::string("Die", 4)) {
            std::_Exit(3);
        }
        if (command == std::string("Quit", 5)) {
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        }
        return DDE_FACK;
    }
    default:
        return 0;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ddeml_peer <service>\n");
        return 2;
    }
    if (DdeInitialize(&g_inst, &callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
        return 1;
    }
    const HSZ service = DdeCreateStringHandle(g_inst, argv[1], CP_WINANSI);
    if (DdeNameService(g_inst, service, 0, DNS_REGISTER) == 0) {
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const int result = app.exec();
    DdeUninitialize(g_inst);
    return result;
}
