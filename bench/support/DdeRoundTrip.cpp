#include "DdeRoundTrip.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "Median.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/Synchronizer.h"
#include "platform/ddeml.h"

namespace orvane::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServerStartMs = 10000;
constexpr int kConnectMs = 10000;

struct Server {
    DWORD instance = 0;
    HSZ topic = 0;
    std::vector<HSZ> items;
    std::vector<long long> counters;
    std::unordered_map<HSZ, int> index; // item handle -> position
    int posting = 0;                    // items changing; 0 = quiet
};
Server* g_server = nullptr;
std::atomic<bool> g_stopServer{false};
std::atomic<bool> g_serverReady{false};

HDDEDATA ServerCallback(UINT type, UINT, HCONV, HSZ, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                        ULONG_PTR) {
    Server& s = *g_server;
    switch (type) {
    case XTYP_CONNECT:
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
        s.posting = std::clamp(s.posting, 0, kDdeBenchItems);
        return DDE_FACK;
    }
    default:
        return DDE_FACK;
    }
}

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Receives the answers of the timed requests.
class Client {
public:
    void Completed(const char* value, std::unique_ptr<EDdeError> error) {
        ok = value != nullptr && error == nullptr;
        sync.CompleteTransaction();
    }
    Synchronizer sync;
    bool ok = false;
};

} // namespace

int RunDdeBenchServer() {
    Server s;
    g_server = &s;
    if (DdeInitialize(&s.instance, &ServerCallback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
        return 1;
    }
    const HSZ service = DdeCreateStringHandle(s.instance, kDdeBenchService, CP_WINANSI);
    s.topic = DdeCreateStringHandle(s.instance, kDdeBenchTopic, CP_WINANSI);
    for (int i = 0; i < kDdeBenchItems; ++i) {
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
            DdePostAdvise(s.instance, s.topic, s.items[std::size_t(i)]);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    DdeUninitialize(s.instance);
    g_server = nullptr;
    return 0;
}

void StopDdeBenchServer() {
    g_stopServer = true;
}

DdeBenchServerThread::~DdeBenchServerThread() {
    StopServer();
}

bool DdeBenchServerThread::StartServer() {
    g_stopServer = false;
    g_serverReady = false;
    start();
    QElapsedTimer waited;
    waited.start();
    while (!g_serverReady) {
        if (waited.elapsed() > kServerStartMs || isFinished()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void DdeBenchServerThread::StopServer() {
    if (!isRunning()) {
        return;
    }
    StopDdeBenchServer();
    if (auto* dispatcher = QAbstractEventDispatcher::instance(this)) {
        dispatcher->wakeUp();
    }
    wait();
}

void DdeBenchServerThread::run() {
    RunDdeBenchServer();
}

double RequestRoundTripUs(TKIDdeClientConv& conv, int samples, int warmup) {
    Client client;
    std::vector<double> timed;
    timed.reserve(std::size_t(samples));
    const TDdeDataEvent done(&client, &Client::Completed);
    for (int i = 0; i < warmup + samples; ++i) {
        const auto start = Clock::now();
        client.sync.StartTransaction();
        conv.Request(QStringLiteral("Small"), done);
        client.sync.WaitForCompletion();
        if (!client.ok) {
            std::fprintf(stderr, "request failed\n");
            return 0;
        }
        if (i >= warmup) {
            timed.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    return Median(std::move(timed));
}

double MeasureRequestRoundTripUs(int samples, int warmup) {
    if (TKIDdeMgr::Current() == nullptr) {
        std::fprintf(stderr, "no DDE instance to measure the request round trip with\n");
        return 0;
    }
    DdeBenchServerThread thread;
    if (!thread.StartServer()) {
        std::fprintf(stderr, "the round trip server did not start\n");
        return 0;
    }
    double median = 0;
    {
        TKIDdeClientConv conv;
        QElapsedTimer waited;
        waited.start();
        bool connected = false;
        while (!(connected = conv.Connect(QString::fromLatin1(kDdeBenchService),
                                          QString::fromLatin1(kDdeBenchTopic))) &&
               waited.elapsed() < kConnectMs) {
            RunFor(20);
        }
        if (connected) {
            median = RequestRoundTripUs(conv, samples, warmup);
            conv.Disconnect();
        } else {
            std::fprintf(stderr, "the round trip server does not answer\n");
        }
    }
    thread.StopServer();
    return median;
}

} // namespace orvane::bench
