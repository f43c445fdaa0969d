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
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include "DdeRoundTrip.h"
#include "Median.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "platform/Process.h"
#include "platform/ddeml.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvane::bench::kDdeBenchItems;

constexpr int kRoundTrips = 20000;
constexpr int kWarmup = 2000;
constexpr int kAdviseSeconds = 2;

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
    return orvane::bench::Median(samples);
}

class Client {
public:
    void Update(const char* value, std::unique_ptr<orvane::EDdeError> /*error*/) {
        if (value != nullptr) {
            ++updates;
        }
    }
    long long updates = 0;
};

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
        return orvane::bench::RunDdeBenchServer(); // ends with the process (SIGTERM)
    }
    // A private run-time folder for the sockets of this run.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("ORVANE_DDE_DIR", QFile::encodeName(runtime.path()));

    const double raw = rawSocketRoundTripUs();

    // The server runs on a thread of this process, or with
    // DDE_BENCH_SERVER=process in a child process.
    std::unique_ptr<orvane::Process> server;
    orvane::bench::DdeBenchServerThread thread;
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
    } else if (!thread.StartServer()) {
        std::fprintf(stderr, "cannot start the server\n");
        return 1;
    }
    auto stopServer = [&] {
        if (server) {
            server->requestClose();
            server->waitForExit(5000);
        } else {
            thread.StopServer();
        }
    };
    orvane::TKIDdeMgr manager;
    orvane::TKIDdeClientConv conv;
    QElapsedTimer waited;
    waited.start();
    while (!conv.Connect(orvane::bench::kDdeBenchService, orvane::bench::kDdeBenchTopic)) {
        if (waited.elapsed() > 10000) {
            std::fprintf(stderr, "server does not answer\n");
            stopServer();
            return 1;
        }
        runFor(20);
    }
    Client client;
    const double request = orvane::bench::RequestRoundTripUs(conv, kRoundTrips, kWarmup);
    const double many = advisePerSecond(conv, client, kDdeBenchItems);
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
