// What a user of a large control feels: how long 10,000 watched variables take
// to show their first values, how many value changes per second reach the
// subscribers, and the round trip of one synchronous read, measured against
// the real simulated server started through the registry and the launcher.
//
// Figures (last lines of the output):
//   model.first_values_10000_items_ms   10,000 items acquired and subscribed on
//                                       one device, until every first value came
//   model.subscriber_values_per_s       subscriber calls per second while all
//                                       10,000 items change
//   model.value_read_roundtrip_us       median synchronous Value read of an
//                                       unadvised item
//   dde.request_roundtrip_us            the same request through the DDE link
//                                       alone, in the same run

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "BenchServer.h"
#include "Median.h"
#include "ddelink/DdeError.h"
#include "ddelink/ExeMod.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIItem.h"
#include "model/KIServer.h"

using namespace orvane;
using orvane::bench::RunFor;
using orvane::bench::WaitUntil;

namespace {

constexpr int kItems = 10000;
constexpr int kNetworkItems = 20000;
constexpr int kThroughputSeconds = 3;
constexpr int kReads = 2000;
const char* const kTopic = "BIG1";

struct Counter {
    void Changed(TKIItem* item) {
        ++calls;
        if (seen.insert(item).second) {
            ++firstValues;
        }
    }
    long long calls = 0;
    int firstValues = 0;
    std::unordered_set<TKIItem*> seen;
};

// One synchronous request through the DDE link alone.
struct RawReader {
    void Done(const char* value, std::unique_ptr<EDdeError> /*error*/) {
        ok = value != nullptr;
        sync.CompleteTransaction();
    }
    double Read(TKIDdeClientConv* conversation, const QString& item) {
        QElapsedTimer timer;
        timer.start();
        sync.StartTransaction();
        conversation->Request(item, TDdeDataEvent(this, &RawReader::Done));
        sync.WaitForCompletion();
        return timer.nsecsElapsed() / 1000.0;
    }
    Synchronizer sync;
    bool ok = false;
};

int Fail(const char* what) {
    std::fprintf(stderr, "model_bench: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    bench::UsePrivateRunTimeFolders(root.path());
    QCoreApplication app(argc, argv);

    // The large network: one control of 20,000 items, 10,000 of which move.
    const QString server = QString::fromUtf8(ORVANE_SERVER_EXE);
    const QString network = root.filePath("large.net");
    if (QProcess::execute(server, {QStringLiteral("--generate-network"),
                                   QString::number(kNetworkItems), network,
                                   QStringLiteral("--live-items"), QString::number(kItems)}) != 0) {
        return Fail("the server could not generate the large network");
    }
    qputenv("DUXLANE_NO_DEFAULT_NETWORK", "1");
    qputenv("DUXLANE_TICK_MS", qEnvironmentVariableIsSet("MODEL_BENCH_TICK_MS")
                                   ? qgetenv("MODEL_BENCH_TICK_MS")
                                   : QByteArray("20"));
    // Only the figures on the output (and warnings).
    qputenv("QT_LOGGING_RULES", "*.debug=false\n*.info=false");
    const char* error = nullptr;
    auto kiServer = bench::ConnectToServer(server, network, QString::fromLatin1(kTopic), &error);
    if (!kiServer) {
        return Fail(error);
    }

    auto device = std::make_unique<TKIDevice>();
    device->SetServer(kiServer.get());
    device->SetIdentifier(QString::fromLatin1(kTopic));
    if (!WaitUntil([&] { return device->Active(); }, 30000)) {
        return Fail("the control did not connect");
    }
    // The moving items are watched; the others are read.
    QStringList names;
    QStringList still;
    for (const QString& name : device->GetTopicItemList()) {
        (name.startsWith(QLatin1String("Live ")) ? names : still).append(name);
    }
    if (names.size() < kItems || still.size() < 100) {
        std::fprintf(stderr, "model_bench: %d moving, %d still items\n", int(names.size()),
                     int(still.size()));
        return Fail("the large network is not as generated");
    }

    // First values of 10,000 subscribed items.
    Counter counter;
    std::vector<TKIItem*> items;
    items.reserve(kItems);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kItems; ++i) {
        TKIItem* item = device->AcquireItem(names[i]);
        item->Subscribe(TKIItemEvent(&counter, &Counter::Changed));
        items.push_back(item);
    }
    std::fprintf(stderr, "model_bench: acquired and subscribed in %.1f ms\n",
                 timer.nsecsElapsed() / 1e6);
    if (!WaitUntil([&] { return counter.firstValues == kItems; }, 120000)) {
        return Fail("not every first value arrived");
    }
    const double firstValuesMs = timer.nsecsElapsed() / 1e6;

    // Sustained subscriber calls while everything changes.
    RunFor(500);
    const long long before = counter.calls;
    timer.restart();
    RunFor(kThroughputSeconds * 1000);
    const double valuesPerSecond = (counter.calls - before) / (timer.nsecsElapsed() / 1e9);

    for (TKIItem* item : items) {
        item->Unsubscribe(TKIItemEvent(&counter, &Counter::Changed));
        device->ReleaseItem(item->Name());
    }
    items.clear();
    RunFor(500);

    // Synchronous reads of unadvised items, and the same through the link.
    std::vector<double> modelReads;
    std::vector<double> linkReads;
    RawReader raw;
    for (int i = 0; i < kReads; ++i) {
        const QString& name = still[i % 100];
        TKIItem* item = device->AcquireItem(name);
        QElapsedTimer read;
        read.start();
        item->Value();
        modelReads.push_back(read.nsecsElapsed() / 1000.0);
        device->ReleaseItem(item->Name());
        linkReads.push_back(raw.Read(device->Conversation(), name.toUpper()));
    }

    device->SetIdentifier(QString());
    device.reset();
    kiServer.reset();

    std::printf("model.first_values_10000_items_ms: %.1f ms\n", firstValuesMs);
    std::printf("model.subscriber_values_per_s: %.0f /s\n", valuesPerSecond);
    std::printf("model.value_read_roundtrip_us: %.1f us\n", bench::Median(modelReads));
    std::printf("dde.request_roundtrip_us: %.1f us\n", bench::Median(linkReads));
    return 0;
}
