// Throughput and latency of the DDE library stand-in: a server instance on a
// thread of its own, the client on the main thread's Qt event loop.
// Figures (last lines of the output):
//   ddeml.raw_socket_roundtrip_us           ping-pong of 16 bytes over a Unix socket pair
//   ddeml.request_roundtrip_us              synchronous request, median
//   ddeml.async_request_roundtrip_us        asynchronous request + event loop, median
//   ddeml.advise_updates_per_s_1000_items   acknowledged hot-link updates delivered per second
//   ddeml.advise_updates_per_s_10_items

#include "Median.h"
#include "platform/ddeml.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kService = "BenchServer";
constexpr const char* kTopic = "Plant";
constexpr int kRoundTrips = 20000;
constexpr double kAdviseSeconds = 2.0;

double rawSocketRoundTripUs() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return 0;
    }
    std::thread echo([fd = fds[1]] {
        char buf[16];
        for (int i = 0; i < kRoundTrips; ++i) {
            if (::read(fd, buf, sizeof(buf)) <= 0 || ::write(fd, buf, sizeof(buf)) <= 0) {
                return;
            }
        }
    });
    std::vector<double> samples;
    samples.reserve(kRoundTrips);
    char buf[16] = {};
    for (int i = 0; i < kRoundTrips; ++i) {
        const auto start = Clock::now();
        if (::write(fds[0], buf, sizeof(buf)) <= 0 || ::read(fds[0], buf, sizeof(buf)) <= 0) {
            break;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
    return orvane::bench::Median(samples);
}

// --- Server thread ---------------------------------------------------------

std::atomic<DWORD> g_serverInst{0};
std::atomic<bool> g_serverReady{false};
std::atomic<bool> g_stop{false};
std::atomic<int> g_postItems{0}; // items the server keeps changing; 0 = idle
std::vector<HSZ> g_serverItems;  // server thread only
HSZ g_serverTopic = 0;
std::uint64_t g_counter = 0;

HDDEDATA serverCallback(UINT type, UINT format, HCONV, HSZ, HSZ item, HDDEDATA, ULONG_PTR,
                        ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
    case XTYP_ADVSTART:
        return TRUE;
    case XTYP_REQUEST:
    case XTYP_ADVREQ: {
        char text[32];
        auto [end, ec] = std::to_chars(text, text + sizeof(text) - 1, ++g_counter);
        *end = '\0';
        return DdeCreateDataHandle(g_serverInst, reinterpret_cast<const BYTE*>(text),
                                   DWORD(end - text + 1), 0, item, format, 0);
    }
    default:
        return 0;
    }
}

class ServerThread : public QThread {
protected:
    void run() override {
        DWORD inst = 0;
        DdeInitialize(&inst, &serverCallback, APPCLASS_STANDARD, 0);
        g_serverInst = inst;
        const HSZ service = DdeCreateStringHandle(inst, kService, CP_WINANSI);
        DdeNameService(inst, service, 0, DNS_REGISTER);
        g_serverTopic = DdeCreateStringHandle(inst, kTopic, CP_WINANSI);
        for (int i = 0; i < 1000; ++i) {
            g_serverItems.push_back(
                DdeCreateStringHandle(inst, ("Item" + std::to_string(i)).c_str(), CP_WINANSI));
        }
        g_serverReady = true;
        QEventLoop loop;
        while (!g_stop) {
            const int items = g_postItems;
            if (items == 0) {
                loop.processEvents(QEventLoop::WaitForMoreEvents);
                continue;
            }
            // Every item changes all the time: post them all, then sleep until
            // acknowledgements come in (links still waiting for one coalesce).
            for (int i = 0; i < items; ++i) {
                DdePostAdvise(inst, g_serverTopic, g_serverItems[std::size_t(i)]);
            }
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        DdeUninitialize(inst);
    }
};

// --- Client (main thread) --------------------------------------------------

DWORD g_client = 0;
std::uint64_t g_adviseCount = 0;
std::uint64_t g_adviseBytes = 0;
int g_completions = 0;

HDDEDATA clientCallback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_ADVDATA) {
        DWORD size = 0;
        if (DdeAccessData(data, &size) != nullptr) {
            g_adviseBytes += size;
        }
        ++g_adviseCount;
        return DDE_FACK;
    }
    if (type == XTYP_XACT_COMPLETE) {
        ++g_completions;
    }
    return 0;
}

QThread* g_serverThread = nullptr;

void setPostItems(int items) {
    g_postItems = items;
    if (auto* dispatcher = QAbstractEventDispatcher::instance(g_serverThread)) {
        dispatcher->wakeUp(); // it may sleep waiting for events
    }
}

template <typename Done>
void runUntil(const Done& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void runFor(Clock::duration duration) {
    QTimer tick; // so that the end is noticed without traffic
    tick.start(5);
    const auto until = Clock::now() + duration;
    runUntil([&] { return Clock::now() >= until; });
}

double syncRequestRoundTripUs(HCONV conv, HSZ item) {
    std::vector<double> samples;
    samples.reserve(kRoundTrips);
    for (int i = 0; i < kRoundTrips; ++i) {
        DWORD result = 0;
        const auto start = Clock::now();
        const HDDEDATA data =
            DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_REQUEST, 5000, &result);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        DdeFreeDataHandle(data);
    }
    return orvane::bench::Median(samples);
}

double asyncRequestRoundTripUs(HCONV conv, HSZ item) {
    std::vector<double> samples;
    samples.reserve(kRoundTrips);
    for (int i = 0; i < kRoundTrips; ++i) {
        DWORD id = 0;
        const int before = g_completions;
        const auto start = Clock::now();
        DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_REQUEST, TIMEOUT_ASYNC, &id);
        runUntil([&] { return g_completions != before; });
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return orvane::bench::Median(samples);
}

double advisePerSecond(HCONV conv, int items) {
    std::vector<HSZ> handles;
    for (int i = 0; i < items; ++i) {
        handles.push_back(
            DdeCreateStringHandle(g_client, ("Item" + std::to_string(i)).c_str(), CP_WINANSI));
        DWORD id = 0;
        DdeClientTransaction(nullptr, 0, conv, handles.back(), CF_TEXT,
                             XTYP_ADVSTART | XTYPF_ACKREQ, TIMEOUT_ASYNC, &id);
    }
    const int expected = g_completions + items;
    runUntil([&] { return g_completions >= expected; });
    setPostItems(items);
    // Warm up, then count.
    runFor(std::chrono::milliseconds(300));
    const std::uint64_t before = g_adviseCount;
    const auto start = Clock::now();
    runFor(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kAdviseSeconds)));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = double(g_adviseCount - before) / seconds;
    setPostItems(0);
    for (HSZ h : handles) {
        DWORD id = 0;
        DdeClientTransaction(nullptr, 0, conv, h, CF_TEXT, XTYP_ADVSTOP, TIMEOUT_ASYNC, &id);
    }
    const int stopped = g_completions + items;
    runUntil([&] { return g_completions >= stopped; });
    for (HSZ h : handles) {
        DdeFreeStringHandle(g_client, h);
    }
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    if (qEnvironmentVariableIsEmpty("ORVANE_DDE_DIR")) {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("ORVANE_DDE_DIR", dir.path().toLocal8Bit());
    }
    QCoreApplication app(argc, argv);

    const double raw = rawSocketRoundTripUs();

    ServerThread server;
    g_serverThread = &server;
    server.start();
    while (!g_serverReady) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (DdeInitialize(&g_client, &clientCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        std::fprintf(stderr, "DdeInitialize failed\n");
        return 1;
    }
    const HSZ service = DdeCreateStringHandle(g_client, kService, CP_WINANSI);
    const HSZ topic = DdeCreateStringHandle(g_client, kTopic, CP_WINANSI);
    const HCONV conv = DdeConnect(g_client, service, topic, nullptr);
    if (conv == 0) {
        std::fprintf(stderr, "DdeConnect failed\n");
        return 1;
    }
    // DDEML_BENCH_ONLY=advise10 (or request, advise1000) runs one part, for profiling.
    const QByteArray only = qgetenv("DDEML_BENCH_ONLY");
    const auto part = [&](const char* name) { return only.isEmpty() || only == name; };
    const HSZ item = DdeCreateStringHandle(g_client, "Item0", CP_WINANSI);
    const double sync = part("request") ? syncRequestRoundTripUs(conv, item) : 0;
    const double async = part("request") ? asyncRequestRoundTripUs(conv, item) : 0;
    const double many = part("advise1000") ? advisePerSecond(conv, 1000) : 0;
    const double few = part("advise10") ? advisePerSecond(conv, 10) : 0;

    DdeDisconnect(conv);
    DdeUninitialize(g_client);
    g_stop = true;
    if (auto* d = QAbstractEventDispatcher::instance(&server)) {
        d->wakeUp();
    }
    server.wait();

    std::printf("ddeml.raw_socket_roundtrip_us: %.2f us\n", raw);
    std::printf("ddeml.request_roundtrip_us: %.2f us\n", sync);
    std::printf("ddeml.async_request_roundtrip_us: %.2f us\n", async);
    std::printf("ddeml.advise_updates_per_s_1000_items: %.0f /s\n", many);
    std::printf("ddeml.advise_updates_per_s_10_items: %.0f /s\n", few);
    return 0;
}
