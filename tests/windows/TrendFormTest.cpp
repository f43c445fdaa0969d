// The trend window on its own clock, fed as hot links feed it: pause and
// follow, time windows, zoom and pan, the cursor's read-out, legend toggles,
// scales, export and recording through the tool bar.
#include "windows/TrendForm.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QToolBar>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "ScriptedDialogService.h"
#include "windows/TrendGraph.h"

#include <qcustomplot.h>

using namespace orvane;
using orvane::test::ScriptedDialogService;

namespace {

// 2026-12-08T22:10:00.000Z
constexpr std::int64_t kT0 = 1796767800000;
const QString kFlow = QStringLiteral("Service: Loop.Flow");
const QString kLevel = QStringLiteral("Service: Drum.Level");

class TrendFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_form = std::make_unique<TTrendForm>(nullptr, TOrvaneMDIForm::TActivatedEvent(),
                                              [this] { return m_now; });
        m_form->resize(900, 500);
        m_form->show();
        m_form->Feed().AddDetachedTrace(kFlow);
        m_form->Feed().AddDetachedTrace(kLevel, vdtInteger);
        m_form->TracesAdded();
    }

    // Both traces receive a value every `stepMs` for `count` steps, the clock
    // moving on after each.
    void Feed(int count, std::int64_t stepMs = 1000) {
        for (int i = 0; i < count; ++i) {
            m_form->Feed().Receive(0, QString::number(m_flow));
            m_form->Feed().Receive(1, QString::number(m_level));
            m_flow += 0.5;
            m_level += 1;
            m_now += stepMs;
        }
    }
    QCustomPlot* plot() const { return m_form->Plot(); }
    std::pair<double, double> timeRange() const {
        return {plot()->xAxis->range().lower, plot()->xAxis->range().upper};
    }
    // The pixel a trace draws a point at.
    QPoint plotPoint(double timeS, double value) const {
        return QPoint(static_cast<int>(std::floor(plot()->xAxis->coordToPixel(timeS))),
                      static_cast<int>(std::lround(plot()->yAxis->coordToPixel(value))));
    }
    void send(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QMouseEvent event(type, QPointF(pos), plot()->mapToGlobal(QPointF(pos)), button, buttons,
                          modifiers);
        QApplication::sendEvent(plot(), &event);
    }
    void click(QPoint pos) {
        send(QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
    }
    QComboBox* box(const char* name) const {
        return m_form->findChild<QComboBox*>(QString::fromLatin1(name));
    }
    static void choose(QComboBox* box, const QString& text) {
        const int index = box->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    std::int64_t m_now = kT0;
    double m_flow = 1.0;
    int m_level = 100;
    std::unique_ptr<TTrendForm> m_form;
};

TEST_F(TrendFormTest, PauseHoldsTheViewWhileValuesKeepComing) {
    Feed(30);
    m_form->RepaintNow();
    EXPECT_DOUBLE_EQ(timeRange().second, (m_now) / 1000.0); // the live end
    EXPECT_FALSE(m_form->FollowAction()->isEnabled());

    m_form->PauseAction()->trigger();
    EXPECT_TRUE(m_form->Paused());
    EXPECT_EQ(m_form->PauseAction()->text(), QStringLiteral("Resume"));
    EXPECT_TRUE(m_form->FollowAction()->isEnabled());
    const auto still = timeRange();
    const std::size_t held = m_form->Feed().Trace(0).buffer.Size();
    const int drawn = plot()->graph(0)->data()->size();
    Feed(20);
    m_form->RepaintNow();
    EXPECT_EQ(timeRange(), still);
    EXPECT_EQ(plot()->graph(0)->data()->size(), drawn);
    EXPECT_EQ(m_form->Feed().Trace(0).buffer.Size(), held + 20);

    // Resuming follows the live end again, with what came meanwhile.
    m_form->PauseAction()->trigger();
    EXPECT_FALSE(m_form->Paused());
    EXPECT_TRUE(m_form->Following());
    EXPECT_DOUBLE_EQ(timeRange().second, m_now / 1000.0);
    EXPECT_DOUBLE_EQ((plot()->graph(0)->data()->constEnd() - 1)->value, m_flow - 0.5);
}

TEST_F(TrendFormTest, TimeWindowChoiceSetsTheVisibleRange) {
    Feed(2 * 3600, 1000); // two hours at a value a second
    m_form->RepaintNow();
    EXPECT_EQ(box("timeWindow")->currentText(), QStringLiteral("10 min"));
    const double end = m_now / 1000.0;
    EXPECT_DOUBLE_EQ(timeRange().first, end - 600);

    const std::pair<QString, double> choices[] = {{QStringLiteral("1 min"), 60},
                                                  {QStringLiteral("1 h"), 3600},
                                                  {QStringLiteral("All"), 7200}};
    for (const auto& [text, seconds] : choices) {
        choose(box("timeWindow"), text);
        EXPECT_DOUBLE_EQ(timeRange().second, end) << text.toStdString();
        EXPECT_DOUBLE_EQ(timeRange().first, end - seconds) << text.toStdString();
    }
    EXPECT_EQ(m_form->TimeWindowMs(), 0);

    // A still view keeps its right edge and takes the new width.
    m_form->SetPaused(true);
    Feed(10);
    m_form->SetTimeWindowMs(60'000);
    EXPECT_DOUBLE_EQ(timeRange().second, end);
    EXPECT_DOUBLE_EQ(timeRange().first, end - 60);
    EXPECT_TRUE(m_form->Paused());
}

TEST_F(TrendFormTest, TimeAxisShowsTheDateWhenTheRangeRunsOverMidnight) {
    auto format = [this] {
        return plot()->xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>()->dateTimeFormat();
    };
    Feed(60);
    m_form->RepaintNow();
    EXPECT_EQ(format(), QStringLiteral("HH:mm:ss"));

    // Five minutes either side of the next local midnight.
    const QDateTime midnight(QDateTime::fromMSecsSinceEpoch(m_now).date().addDays(1), QTime(0, 0));
    m_now = midnight.toMSecsSinceEpoch() - 5 * 60 * 1000;
    Feed(600);
    m_form->RepaintNow();
    EXPECT_TRUE(format().contains(QStringLiteral("yyyy-MM-dd"))) << format().toStdString();
    EXPECT_TRUE(format().contains(QStringLiteral("HH:mm:ss"))) << format().toStdString();
}

TEST_F(TrendFormTest, CursorReadsEveryTraceAtItsTime) {
    Feed(10); // flow 1.0, 1.5, ... level 100, 101, ... at kT0, kT0 + 1 s, ...
    m_form->RepaintNow();
    EXPECT_FALSE(m_form->CursorTime());
    EXPECT_EQ(m_form->CursorValueTexts(), QStringList({QString(), QString()}));

    m_form->SetCursorTime(kT0 + 3500); // between the 4th and 5th values
    EXPECT_EQ(m_form->CursorValueTexts(),
              QStringList({QStringLiteral("2.5"), QStringLiteral("103")}));
    const QString readout = m_form->CursorReadout();
    EXPECT_TRUE(readout.contains(
        QDateTime::fromMSecsSinceEpoch(kT0 + 3500).toString(QStringLiteral("HH:mm:ss.zzz"))))
        << readout.toStdString();
    EXPECT_TRUE(readout.contains(kFlow + QStringLiteral(": 2.5"))) << readout.toStdString();
    EXPECT_TRUE(readout.contains(kLevel + QStringLiteral(": 103"))) << readout.toStdString();

    m_form->SetCursorTime(kT0 - 1); // before the trend began
    EXPECT_EQ(m_form->CursorValueTexts(), QStringList({QString(), QString()}));

    // The pointer over the plot moves the cursor to the time under it.
    const QPoint at = plotPoint((kT0 + 6000) / 1000.0, 0);
    const QPoint over(at.x(), plot()->axisRect()->center().y());
    send(QEvent::MouseMove, over, Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(m_form->CursorTime());
    EXPECT_NEAR(static_cast<double>(*m_form->CursorTime()),
                plot()->xAxis->pixelToCoord(over.x()) * 1000.0, 1.0);
    EXPECT_EQ(m_form->CursorValueTexts().at(1),
              QString::number(100 + (*m_form->CursorTime() - kT0) / 1000));
}

TEST_F(TrendFormTest, LegendClickHidesAndShowsATrace) {
    Feed(10);
    m_form->RepaintNow();
    plot()->replot();
    QCPAbstractLegendItem* entry = plot()->legend->itemWithPlottable(plot()->graph(1));
    ASSERT_NE(entry, nullptr);
    const QPoint centre = entry->outerRect().center();

    click(centre);
    EXPECT_FALSE(m_form->TraceVisible(1));
    EXPECT_TRUE(m_form->TraceVisible(0));
    EXPECT_FALSE(plot()->graph(1)->visible());
    EXPECT_NE(static_cast<QCPPlottableLegendItem*>(entry)->textColor(), QColor(Qt::black));
    // The hidden trace no longer stretches the shared axis nor reads out.
    EXPECT_LT(plot()->yAxis->range().upper, 100);
    m_form->SetCursorTime(kT0 + 2000);
    EXPECT_FALSE(m_form->CursorReadout().contains(kLevel));

    click(centre);
    EXPECT_TRUE(m_form->TraceVisible(1));
    EXPECT_TRUE(plot()->graph(1)->visible());
    EXPECT_EQ(static_cast<QCPPlottableLegendItem*>(entry)->textColor(), QColor(Qt::black));
    EXPECT_GT(plot()->yAxis->range().upper, 100);
}

TEST_F(TrendFormTest, WheelAndDragLeaveTheLiveEndAndDoubleClickReturns) {
    Feed(600);
    m_form->RepaintNow();
    const auto live = timeRange();
    const QPoint centre = plot()->axisRect()->center();

    QWheelEvent wheel(QPointF(centre), plot()->mapToGlobal(QPointF(centre)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot(), &wheel);
    EXPECT_FALSE(m_form->Following());
    EXPECT_TRUE(m_form->FollowAction()->isEnabled());
    EXPECT_FALSE(m_form->Paused());
    EXPECT_LT(timeRange().second - timeRange().first, live.second - live.first); // zoomed in
    const auto zoomed = timeRange();
    Feed(5);
    m_form->RepaintNow();
    EXPECT_EQ(timeRange(), zoomed); // values arriving do not move a zoomed view

    // A plain drag pans the time axis.
    send(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, centre + QPoint(100, 0), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, centre + QPoint(100, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_LT(timeRange().first, zoomed.first);
    EXPECT_NEAR(timeRange().second - timeRange().first, zoomed.second - zoomed.first, 1e-6);

    send(QEvent::MouseButtonDblClick, centre, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(m_form->Following());
    EXPECT_FALSE(m_form->FollowAction()->isEnabled());
    EXPECT_DOUBLE_EQ(timeRange().second, m_now / 1000.0);
}

TEST_F(TrendFormTest, CtrlDragZoomsTimeAndValuesToTheBand) {
    Feed(600);
    m_form->RepaintNow();
    const QPoint from = plotPoint((kT0 + 100'000) / 1000.0, 120);
    const QPoint to = plotPoint((kT0 + 200'000) / 1000.0, 60);
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::ControlModifier);
    EXPECT_FALSE(m_form->Following());
    EXPECT_NEAR(timeRange().first, (kT0 + 100'000) / 1000.0, 2.0);
    EXPECT_NEAR(timeRange().second, (kT0 + 200'000) / 1000.0, 2.0);
    EXPECT_NEAR(plot()->yAxis->range().lower, 60, 1.0);
    EXPECT_NEAR(plot()->yAxis->range().upper, 120, 1.0);
    // The band's values stay while values arrive.
    Feed(5);
    m_form->RepaintNow();
    EXPECT_NEAR(plot()->yAxis->range().upper, 120, 1.0);

    m_form->FollowAction()->trigger();
    EXPECT_GT(plot()->yAxis->range().upper, 600); // scaled to the values again
}

TEST_F(TrendFormTest, ScalePerTraceGivesEachTraceItsOwnAxis) {
    Feed(10);
    choose(box("scale"), QStringLiteral("Scale per trace"));
    EXPECT_EQ(m_form->Scale(), TTrendScale::PerTrace);
    QCPAxis* flowAxis = plot()->graph(0)->valueAxis();
    QCPAxis* levelAxis = plot()->graph(1)->valueAxis();
    ASSERT_NE(flowAxis, levelAxis);
    EXPECT_EQ(flowAxis->label(), kFlow);
    EXPECT_EQ(levelAxis->label(), kLevel);
    EXPECT_EQ(levelAxis->labelColor(), plot()->graph(1)->pen().color());
    // Each axis spans its own trace's values.
    EXPECT_TRUE(flowAxis->range().contains(1.0) && flowAxis->range().contains(5.5));
    EXPECT_LT(flowAxis->range().upper, 20);
    EXPECT_TRUE(levelAxis->range().contains(100) && levelAxis->range().contains(109));

    m_form->SetTraceVisible(1, false);
    EXPECT_FALSE(levelAxis->visible());
    m_form->SetTraceVisible(1, true);

    m_form->SetScale(TTrendScale::Shared);
    EXPECT_EQ(box("scale")->currentIndex(), 0);
    EXPECT_EQ(plot()->graph(0)->valueAxis(), plot()->yAxis);
    EXPECT_EQ(plot()->graph(1)->valueAxis(), plot()->yAxis);
    EXPECT_EQ(plot()->axisRect()->axes(QCPAxis::atLeft | QCPAxis::atRight).size(), 2);
    EXPECT_TRUE(plot()->yAxis->range().contains(1.0) && plot()->yAxis->range().contains(109));
}

TEST_F(TrendFormTest, ExportWritesTheVisibleRangeOnly) {
    Feed(300);
    m_form->SetTimeWindowMs(60'000);
    m_form->RepaintNow();
    m_form->SetPaused(true);
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("visible.csv"));
    ScriptedDialogService dialogs;
    dialogs.answerSaveFile(fileName);
    m_form->ExportCsvAction()->trigger();

    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.takeLast(), QString());
    EXPECT_EQ(lines.takeFirst(), QStringLiteral("time,%1,%2").arg(kFlow, kLevel));
    const auto [from, to] = timeRange();
    ASSERT_EQ(lines.size(), 60); // one value a second, the live end not yet reached
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char(','));
        ASSERT_EQ(fields.size(), 3) << line.toStdString();
        const QDateTime time = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << line.toStdString();
        const double seconds = time.toMSecsSinceEpoch() / 1000.0;
        EXPECT_GE(seconds, from);
        EXPECT_LE(seconds, to);
        // The values sent at that time.
        const int step = static_cast<int>((time.toMSecsSinceEpoch() - kT0) / 1000);
        EXPECT_EQ(fields[1], QString::number(1.0 + step * 0.5)) << line.toStdString();
        EXPECT_EQ(fields[2], QString::number(100 + step)) << line.toStdString();
    }

    const QString picture = dir.filePath(QStringLiteral("trend.png"));
    dialogs.answerSaveFile(picture);
    m_form->ExportPngAction()->trigger();
    const QImage image(picture);
    EXPECT_EQ(image.size(), plot()->size());

    // A file that cannot be written is said so, and nothing is claimed written.
    const QString nowhere = dir.filePath(QStringLiteral("missing/visible.csv"));
    QString error;
    EXPECT_FALSE(m_form->ExportCsv(nowhere, &error));
    EXPECT_TRUE(error.contains(nowhere)) << error.toStdString();
    dialogs.answerSaveFile(nowhere).answerMessage(mrOk);
    m_form->ExportCsvAction()->trigger();
    EXPECT_FALSE(QFile::exists(nowhere));
}

TEST_F(TrendFormTest, RecordButtonAsksForTheFileAndShowsItWhileRecording) {
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("rec.csv"));
    ScriptedDialogService dialogs;
    dialogs.answerSaveFile(std::nullopt); // cancelled: nothing starts
    m_form->RecordAction()->trigger();
    EXPECT_FALSE(m_form->Recording());
    EXPECT_FALSE(m_form->RecordAction()->isChecked());

    dialogs.answerSaveFile(fileName);
    m_form->RecordAction()->trigger();
    ASSERT_TRUE(m_form->Recording());
    EXPECT_TRUE(m_form->RecordAction()->isChecked());
    EXPECT_EQ(m_form->RecordAction()->text(), QStringLiteral("Stop Recording"));
    const auto labels = m_form->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
        return label->text() == QStringLiteral("Recording to rec.csv") &&
               label->toolTip() == fileName;
    }));
    Feed(3);
    m_form->Feed().TickRecording();
    m_form->RecordAction()->trigger();
    EXPECT_FALSE(m_form->Recording());
    EXPECT_EQ(m_form->RecordAction()->text(), QStringLiteral("Record..."));

    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.first(), QStringLiteral("time,%1,%2").arg(kFlow, kLevel));
    EXPECT_GE(lines.size(), 3);

    // A file that cannot be made is said so.
    dialogs.answerSaveFile(dir.filePath(QStringLiteral("missing/rec.csv"))).answerMessage(mrOk);
    m_form->RecordAction()->trigger();
    EXPECT_FALSE(m_form->Recording());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].type, mtError);
}

TEST_F(TrendFormTest, TracesAreDrawnAsColumnsWithGapsForMissingValues) {
    // A step from 0 to 10 half way, then a missing value, then 5 again.
    m_form->SetPaused(true);
    m_form->SetTraceVisible(1, false);
    for (int i = 0; i < 40; ++i) {
        const QString text = i < 20   ? QStringLiteral("0")
                             : i < 30 ? QStringLiteral("10")
                             : i < 35 ? QStringLiteral("-")
                                      : QStringLiteral("5");
        m_form->Feed().Receive(0, text);
        m_now += 1000;
    }
    m_form->Follow();
    plot()->legend->setVisible(false);
    plot()->yAxis->setRange(-1, 11);
    plot()->replot();
    const QImage image = plot()->toPixmap().toImage();
    const QColor colour = plot()->graph(0)->pen().color();
    auto drawnAt = [&](double timeS, double value) {
        const QPoint p = plotPoint(timeS, value);
        return image.pixelColor(p) == colour;
    };
    const double t0 = kT0 / 1000.0;
    EXPECT_TRUE(drawnAt(t0 + 10.5, 0));
    EXPECT_TRUE(drawnAt(t0 + 25.5, 10));
    EXPECT_FALSE(drawnAt(t0 + 25.5, 0));
    // The step runs the whole way from the old value to the new one.
    const int stepX = plotPoint(t0 + 20, 0).x();
    for (double v = 0.5; v < 10; v += 0.5) {
        const QPoint p(stepX, plotPoint(t0, v).y());
        EXPECT_EQ(image.pixelColor(p), colour) << v;
    }
    EXPECT_FALSE(drawnAt(t0 + 32.5, 10)); // the gap
    EXPECT_TRUE(drawnAt(t0 + 37.5, 5));
    EXPECT_TRUE(drawnAt(t0 + 39.8, 5)); // held to the live end
}

} // namespace
