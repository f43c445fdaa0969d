// Trend traces fed from hot links of the simulated server: values reach the
// buffers, strings are refused, a recording is a well-formed CSV, and removing
// the traces ends the hot links.
#include "windows/TrendFeed.h"

#include <functional>
#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "SimServer.h"
#include "TestEnvironment.h"
#include "Wait.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "platform/Registry.h"
#include "windows/TrendForm.h"
#include "windows/TrendValue.h"

#include <qcustomplot.h>

using namespace orvane;
using orvane::test::SimServer;

namespace {

constexpr int kWaitMs = 15000;

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    return orvane::test::WaitUntil(condition, timeoutMs);
}

const QString kSetPoint = QStringLiteral("Service: Loop.Set Point");
const QString kActual = QStringLiteral("Service: Loop.Actual");
const QString kRunning = QStringLiteral("Running");

class TrendFeedTest : public ::testing::Test {
protected:
    const TKIServer::TimingScope m_serverTiming{{.retryIntervalMs = 50}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};

    void SetUp() override {
        ASSERT_TRUE(m_sim.start(m_sim.writeNetwork(SimServer::kSmallNetwork)))
            << m_sim.errorString().toStdString();
        {
            TRegistry registry(HKEY_LOCAL_MACHINE);
            registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
            registry.WriteString(QString(), orvane::test::serverExecutable());
        }
        m_server = std::make_unique<TKIServer>();
        m_server->SetServerName(QStringLiteral("UPCIDuxlane"));
        ASSERT_TRUE(waitUntil([this] { return m_server->IsConnected(); }));
        m_control = std::make_unique<TKIDuxlaneControl>();
        m_control->SetServer(m_server.get());
        m_control->SetIdentifier(QStringLiteral("PLC1"));
        ASSERT_TRUE(waitUntil([this] { return m_control->Active(); }));
    }
    void TearDown() override {
        m_feed.reset();
        if (m_control) {
            m_control->SetServer(nullptr);
        }
        m_control.reset();
        m_server.reset();
        m_sim.stop();
    }
    void setPoint(const QString& value) {
        TKIItem* item = m_control->AcquireItem(kSetPoint);
        item->SetValueAndWait(value);
        m_control->ReleaseItem(item->Name());
    }
    bool allTracesHaveValues() const {
        for (int i = 0; i < m_feed->TraceCount(); ++i) {
            if (m_feed->Trace(i).buffer.Empty()) {
                return false;
            }
        }
        return true;
    }

    SimServer m_sim;
    std::unique_ptr<TKIServer> m_server;
    std::unique_ptr<TKIDuxlaneControl> m_control;
    std::unique_ptr<TTrendFeed> m_feed = std::make_unique<TTrendFeed>();
};

// A recording of the loop's set point and measured value: a header, then at
// least minimumRows whole rows, one column per trace, times in UTC and
// increasing.
void expectLoopRecording(const QString& fileName, int minimumRows) {
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.takeLast(), QString()); // ends with a whole row
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst(),
              QStringLiteral("time,Service: Loop.Set Point,Service: Loop.Actual"));
    ASSERT_GE(lines.size(), minimumRows);
    QDateTime previous;
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char(','));
        ASSERT_EQ(fields.size(), 3) << line.toStdString();
        const QDateTime time = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << line.toStdString();
        EXPECT_TRUE(fields[0].endsWith(QLatin1Char('Z')));
        if (previous.isValid()) {
            EXPECT_LT(previous, time);
        }
        previous = time;
        EXPECT_TRUE(TrendNumber(vdtReal, fields[1])) << line.toStdString();
        EXPECT_TRUE(TrendNumber(vdtReal, fields[2])) << line.toStdString();
    }
}

TEST_F(TrendFeedTest, HotLinksFillTheTracesAndStringsAreRefused) {
    QString error;
    for (const QString& name : {kSetPoint, kActual, kRunning}) {
        ASSERT_TRUE(m_feed->AddTrace(m_control.get(), name, &error)) << error.toStdString();
    }
    ASSERT_TRUE(m_feed->AddTrace(m_control.get(), kActual.toLower(), &error));
    EXPECT_EQ(m_feed->TraceCount(), 3); // the same variable is traced once

    EXPECT_FALSE(m_feed->AddTrace(m_control.get(), QStringLiteral("Plant.Area.Name"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Plant.Area.Name"))) << error.toStdString();
    EXPECT_EQ(m_feed->TraceCount(), 3);

    int notices = 0;
    m_feed->OnValues = [&] { ++notices; };
    ASSERT_TRUE(waitUntil([this] { return allTracesHaveValues(); }));
    EXPECT_DOUBLE_EQ(m_feed->Trace(0).buffer.Last()->value, 20.0);
    EXPECT_DOUBLE_EQ(m_feed->Trace(2).buffer.Last()->value, 1.0);
    // A set point stepped up: its trace steps, the measured one climbs after it.
    const double start = m_feed->Trace(1).buffer.Last()->value;
    setPoint(QStringLiteral("60"));
    ASSERT_TRUE(waitUntil([this] { return m_feed->Trace(0).buffer.Last()->value == 60.0; }));
    ASSERT_TRUE(waitUntil([&] { return m_feed->Trace(1).buffer.Last()->value > start + 1; }));
    EXPECT_GT(notices, 0);
    const TTrendTrace& actual = m_feed->Trace(1);
    EXPECT_DOUBLE_EQ(actual.buffer.Last()->value, *TrendNumber(vdtReal, actual.lastText));
}

TEST_F(TrendFeedTest, RemovingTheTracesEndsTheHotLinks) {
    // A claim of our own keeps the item alive to look at.
    TKIItem* item = m_control->AcquireItem(kActual);
    QString error;
    ASSERT_TRUE(m_feed->AddTrace(m_control.get(), kActual, &error));
    ASSERT_TRUE(waitUntil([this] { return allTracesHaveValues(); }));
    EXPECT_EQ(item->SubscriberCount(), 1);
    m_feed.reset();
    EXPECT_EQ(item->SubscriberCount(), 0);
    EXPECT_FALSE(item->IsAdvised());
    m_control->ReleaseItem(item->Name());
}

TEST_F(TrendFeedTest, RecordingGivesOneColumnPerTraceWithIncreasingTimes) {
    QString error;
    ASSERT_TRUE(m_feed->AddTrace(m_control.get(), kSetPoint, &error));
    ASSERT_TRUE(m_feed->AddTrace(m_control.get(), kActual, &error));
    ASSERT_TRUE(waitUntil([this] { return allTracesHaveValues(); }));

    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("rec.csv"));
    ASSERT_TRUE(m_feed->StartRecording(fileName, &error)) << error.toStdString();
    setPoint(QStringLiteral("80")); // the measured value moves while recording
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [this] { m_feed->TickRecording(); });
    tick.start(TTrendRecorder::kRowIntervalMs);
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() >= 2000; }, 3000);
    tick.stop();
    ASSERT_TRUE(m_feed->StopRecording(&error)) << error.toStdString();

    expectLoopRecording(fileName, 2);
}

} // namespace

namespace {

TEST_F(TrendFeedTest, TrendWindowDrawsEachTraceUpToItsLatestValue) {
    auto form = std::make_unique<TTrendForm>(nullptr, TOrvaneMDIForm::TActivatedEvent());
    form->show();
    QString error;
    for (const QString& name : {kSetPoint, kActual, kRunning}) {
        ASSERT_TRUE(form->AddVariable(m_control.get(), name, &error)) << error.toStdString();
    }
    EXPECT_FALSE(form->AddVariable(m_control.get(), QStringLiteral("Plant.Area.Name"), &error));
    ASSERT_EQ(form->Plot()->graphCount(), 3);
    EXPECT_EQ(form->Plot()->graph(0)->name(), kSetPoint);

    TTrendFeed& feed = form->Feed();
    ASSERT_TRUE(waitUntil([&] {
        for (int i = 0; i < feed.TraceCount(); ++i) {
            if (feed.Trace(i).buffer.Empty()) {
                return false;
            }
        }
        return true;
    }));
    form->RepaintNow();
    for (int i = 0; i < 3; ++i) {
        const QSharedPointer<QCPGraphDataContainer> data = form->Plot()->graph(i)->data();
        ASSERT_FALSE(data->isEmpty()) << i;
        EXPECT_DOUBLE_EQ((data->constEnd() - 1)->value, feed.Trace(i).buffer.Last()->value) << i;
    }
    // The set point's value lies inside the value axis.
    EXPECT_TRUE(form->Plot()->yAxis->range().contains(20.0));

    // Closing the window ends its hot links.
    TKIItem* item = m_control->AcquireItem(kActual);
    EXPECT_EQ(item->SubscriberCount(), 1);
    form.reset();
    EXPECT_EQ(item->SubscriberCount(), 0);
    m_control->ReleaseItem(item->Name());
}

} // namespace

namespace {

TEST_F(TrendFeedTest, TrendWindowPausedStaysStillAndRecordsTwoSeconds) {
    auto form = std::make_unique<TTrendForm>(nullptr, TOrvaneMDIForm::TActivatedEvent());
    form->show();
    QString error;
    for (const QString& name : {kSetPoint, kActual}) {
        ASSERT_TRUE(form->AddVariable(m_control.get(), name, &error)) << error.toStdString();
    }
    TTrendFeed& feed = form->Feed();
    ASSERT_TRUE(
        waitUntil([&] { return !feed.Trace(0).buffer.Empty() && !feed.Trace(1).buffer.Empty(); }));
    form->RepaintNow();

    // The control's limits frame each trace's own axis.
    ASSERT_TRUE(feed.Trace(0).limits);
    EXPECT_EQ(*feed.Trace(0).limits, std::make_pair(0.0, 100.0));
    form->SetScale(TTrendScale::PerTrace);
    QCPAxis* axis = form->Plot()->graph(0)->valueAxis();
    EXPECT_EQ(axis->label(), kSetPoint + QStringLiteral(" (0 to 100)"));
    EXPECT_EQ(axis->range(), QCPRange(0, 100));
    form->SetScale(TTrendScale::Shared);

    // Paused while the measured value climbs after a set point step: the
    // buffer grows, the view does not move.
    form->SetPaused(true);
    const QCPRange still = form->Plot()->xAxis->range();
    const std::size_t held = feed.Trace(1).buffer.Size();
    setPoint(QStringLiteral("70"));
    ASSERT_TRUE(waitUntil([&] { return feed.Trace(1).buffer.Size() > held + 2; }));
    form->RepaintNow();
    EXPECT_EQ(form->Plot()->xAxis->range(), still);
    form->Follow();
    EXPECT_GT(form->Plot()->xAxis->range().upper, still.upper);

    // Two seconds of recording on the window's own timer.
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("two-seconds.csv"));
    ASSERT_TRUE(form->StartRecording(fileName, &error)) << error.toStdString();
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() >= 2000; }, 3000);
    ASSERT_TRUE(form->StopRecording(&error)) << error.toStdString();
    EXPECT_FALSE(form->Recording());

    expectLoopRecording(fileName, 2); // the measured value moves all the while
}

} // namespace
