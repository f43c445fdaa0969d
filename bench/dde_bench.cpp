// DDE link benchmark: what a user feels of the link to the server.
//
//   dde.raw_socket_roundtrip_us      median round trip of a 32-byte message over a plain
//                                    Unix stream socket between two threads (the baseline)
//   dde.request_roundtrip_us         median round trip of a Request through TKIDdeClientConv
//                                    and a Synchronizer to a server on another thread
//   dde.advise_updates_per_s         acknowledged advise updates per second, server
//                                    DdePostAdvise to subscriber callbacks, 1,000 items changing
//   dde.advise_updates_per_s_10_items  the same with 10 items
//
// The server runs on a thread with its own event loop; with
// DDE_BENCH_SERVER=process the program starts itself as the server in a child
// process instead (DDE_BENCH_ROLE=server).

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/Synchronizer.h"
#include "platform/Process.h"
#include "platform/ddeml.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kService = "DdeBench";
constexpr const char* kTopic = "Bench";
constexpr int kItems = 1000;
constexpr int kRoundTrips = 20000;
constexpr int kWarmup = 2000;
constexpr int kAdviseSeconds = 2;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ---------------------------------------------------------------- server role

struct Server {
    DWORD instance = 0;
    HSZ topic = 0;
    std::vector<HSZ> items;
    std::vector<long long> counters;
    std::unordered_map<HSZ, int> index; // item handle -> position
    int posting = 0;                    // items changing; 0 = quiet
};
Server* g_server = nullptr;

HDDEDATA serverCallback(UINT type, UINT, HCONV, HSZ, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                        ULONG_PTR) {
    Server& s = *g_server;
    switch (type) {
    case XTYP_CONNECT:
        return TRUE;
    case XTYP_ADVSTART:
        return TRUE;
    case XTYP_REQUEST:
    case XTYP_ADVREQ: {
        // A value text as a control's variable has one ("12345.5").
        const auto found = s.index.find(hsz2);
        char text[32] = "12345.678";
        char* end = text + 9;
        if (found != s.index.end()) {
            end = std::to_chars(text, text + 20, ++s.counters[std::size_t(found->second)]).ptr;
            *end++ = '.';
            *end++ = '5';
            *end = '\0';
        }
        return DdeCreateDataHandle(s.instance, reinterpret_cast<const BYTE*>(text),
                                   DWORD(end - text + 1), 0, hsz2, CF_TEXT, 0);
    }
    case XTYP_EXECUTE: {
        DWORD size = 0;
        const BYTE* bytes = DdeAccessData(data, &size);
        s.posting = bytes != nullptr ? std::atoi(reinterpret_cast<const char*>(bytes)) : 0;
        DdeUnaccessData(data);
        return DDE_FACK;
    }
    default:
        return DDE_FACK;
    }
}

std::atomic<bool> g_stopServer{false};
std::atomic<bool> g_serverReady{false};

int runServer() {
    Server s;
    g_server = &s;
    if (DdeInitialize(&s.instance, &serverCallback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
        return 1;
    }
    const HSZ service = DdeCreateStringHandle(s.instance, kService, CP_WINANSI);
    s.topic = DdeCreateStringHandle(s.instance, kTopic, CP_WINANSI);
    for (int i = 0; i < kItems; ++i) {
        s.items.push_back(
            DdeCreateStringHandle(s.instance, ("I" + std::to_string(i)).c_str(), CP_WINANSI));
        s.counters.push_back(0);
        s.index.emplace(s.items.back(), i);
    }
    if (DdeNameService(s.instance, service, 0, DNS_REGISTER) == 0) {
        return 1;
    }
    g_serverReady = true;
    // While items change, every item changes between two turns of the event
    // loop and each change is posted; the library sends an item's latest
    // value once the client has taken the previous one.
    while (!g_stopServer) {
        if (s.posting == 0) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            continue;
        }
        for (int i = 0; i < s.posting; ++i) {
            DdePostAdvise(s.instance, s.topic, s.items[i]);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    DdeUninitialize(s.instance);
    return 0;
}

// ---------------------------------------------------------------- client role

double rawSocketRoundTripUs() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return 0;
    }
    constexpr int kMessage = 32;
    std::thread echo([fd = fds[1]] {
        char buffer[kMessage];
        for (;;) {
            ssize_t got = 0;
            while (got < kMessage) {
                const ssize_t n = ::read(fd, buffer + got, kMessage - got);
                if (n <= 0) {
                    return;
                }
                got += n;
            }
            if (::write(fd, buffer, kMessage) != kMessage) {
                return;
            }
        }
    });
    std::vector<double> samples;
    char message[kMessage] = "ping";
    for (int i = 0; i < kWarmup + kRoundTrips; ++i) {
        const auto start = Clock::now();
        if (::write(fds[0], message, kMessage) != kMessage) {
            break;
        }
        ssize_t got = 0;
        while (got < kMessage) {
            const ssize_t n = ::read(fds[0], message + got, kMessage - got);
            if (n <= 0) {
                break;
            }
            got += n;
        }
        if (i >= kWarmup) {
            samples.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    ::close(fds[0]);
    echo.join();
    ::close(fds[1]);
    return median(samples);
}

// The server on a thread of its own with its own event loop.
class ServerThread : public QThread {
protected:
    void run() override { runServer(); }
};

class Client {
public:
    void Completed(const char* value, std::unique_ptr<orvane::EDdeError> error) {
        ok = value != nullptr && error == nullptr;
        sync.CompleteTransaction();
    }
    void Update(const char* value, std::unique_ptr<orvane::EDdeError> /*error*/) {
        if (value != nullptr) {
            ++updates;
        }
    }
    orvane::Synchronizer sync;
    bool ok = false;
    long long updates = 0;
};

double requestRoundTripUs(orvane::TKIDdeClientConv& conv, Client& client) {
    std::vector<double> samples;
    const orvane::TDdeDataEvent done(&client, &Client::Completed);
    for (int i = 0; i < kWarmup + kRoundTrips; ++i) {
        const auto start = Clock::now();
        client.sync.StartTransaction();
        conv.Request(QStringLiteral("Small"), done);
        client.sync.WaitForCompletion();
        if (!client.ok) {
            std::fprintf(stderr, "request failed\n");
            return 0;
        }
        if (i >= kWarmup) {
            samples.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    return median(samples);
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double advisePerSecond(orvane::TKIDdeClientConv& conv, Client& client, int items) {
    std::vector<std::int64_t> keys;
    const orvane::TDdeDataEvent update(&client, &Client::Update);
    for (int i = 0; i < items; ++i) {
        keys.push_back(conv.StartAdvise(QStringLiteral("I%1").arg(i), update));
    }
    runFor(200); // the links are up and their first values are in
    conv.Execute(QString::number(items), orvane::TDdeDataEvent());
    runFor(300); // warm up
    client.updates = 0;
    QElapsedTimer timer;
    timer.start();
    runFor(kAdviseSeconds * 1000);
    const double rate = client.updates / (timer.nsecsElapsed() / 1e9);
    conv.Execute(QStringLiteral("0"), orvane::TDdeDataEvent());
    for (std::int64_t key : keys) {
        conv.StopAdvise(key);
    }
    runFor(200);
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qgetenv("DDE_BENCH_ROLE") == "server") {
        return runServer(); // ends with the process (SIGTERM)
    }
    // A private run-time folder for the sockets of this run.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("ORVANE_DDE_DIR", QFile::encodeName(runtime.path()));

    const double raw = rawSocketRoundTripUs();

    // The server runs on a thread of this process, or with
    // DDE_BENCH_SERVER=process in a child process.
    std::unique_ptr<orvane::Process> server;
    ServerThread thread;
    if (qgetenv("DDE_BENCH_SERVER") == "process") {
        qputenv("DDE_BENCH_ROLE", "server");
        int error = 0;
        server = orvane::Process::start(QCoreApplication::applicationFilePath(), QString(), SW_HIDE,
                                        &error);
        qunsetenv("DDE_BENCH_ROLE");
        if (!server) {
            std::fprintf(stderr, "cannot start the server: %s\n",
                         qPrintable(orvane::systemErrorText(error)));
            return 1;
        }
    } else {
        thread.start();
        while (!g_serverReady) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    auto stopServer = [&] {
        if (server) {
            server->requestClose();
            server->waitForExit(5000);
        } else {
            g_stopServer = true;
            if (auto* dispatcher = QAbstractEventDispatcher::instance(&thread)) {
                dispatcher->wakeUp();
            }
            thread.wait();
        }
    };
    orvane::TKIDdeMgr manager;
    orvane::TKIDdeClientConv conv;
    QElapsedTimer waited;
    waited.start();
    while (!conv.Connect(kService, kTopic)) {
        if (waited.elapsed() > 10000) {
            std::fprintf(stderr, "server does not answer\n");
            stopServer();
            return 1;
        }
        runFor(20);
    }
    Client client;
    const double request = requestRoundTripUs(conv, client);
    const double many = advisePerSecond(conv, client, kItems);
    const double few = advisePerSecond(conv, client, 10);
    conv.Disconnect();
    stopServer();

    std::printf("request round trip is %.2f x the raw socket round trip (target <= 3)\n",
                raw > 0 ? request / raw : 0.0);
    std::printf("dde.raw_socket_roundtrip_us: %.2f us\n", raw);
    std::printf("dde.request_roundtrip_us: %.2f us\n", request);
    std::printf("dde.advise_updates_per_s: %.0f updates/s\n", many);
    std::printf("dde.advise_updates_per_s_10_items: %.0f updates/s\n", few);
    return 0;
}
