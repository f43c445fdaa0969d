#include "windows/TrendForm.h"

#include <algorithm>
#include <cmath>

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QSaveFile>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "platform/Csv.h"
#include "platform/DialogService.h"
#include "windows/TrendGraph.h"

namespace orvane {

namespace {

const char* const kCsvFilter = "CSV Files (*.csv)|*.CSV|All Files (*.*)|*.*";
const char* const kPngFilter = "PNG Images (*.png)|*.PNG|All Files (*.*)|*.*";
// A rubber band smaller than this is a slip of the hand, not a zoom.
constexpr int kMinimumBandPixels = 4;
const QColor kHiddenEntryColour(160, 160, 160);

// Distinct colours for the first traces; later ones cycle through hues.
QColor TraceColour(int index) {
    static const QColor kColours[] = {
        QColor(0, 90, 200),   QColor(210, 40, 40), QColor(0, 150, 60),  QColor(230, 130, 0),
        QColor(130, 50, 170), QColor(0, 160, 170), QColor(120, 90, 40), QColor(200, 0, 140)};
    constexpr int kCount = static_cast<int>(std::size(kColours));
    if (index < kCount) {
        return kColours[index];
    }
    return QColor::fromHsv((index * 47) % 360, 200, 190);
}

QString WindowChoiceText(std::int64_t ms) {
    switch (ms) {
    case 60 * 1000:
        return QStringLiteral("1 min");
    case 10 * 60 * 1000:
        return QStringLiteral("10 min");
    case 60 * 60 * 1000:
        return QStringLiteral("1 h");
    default:
        return QStringLiteral("All");
    }
}

// A plotted value as the read-out and an export show it: the shortest text
// that reads back as the same number.
QString NumberText(double value) {
    if (std::isnan(value)) {
        return QString();
    }
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// A value axis range with room around the values; a flat trace still gets a
// visible band.
QCPRange PaddedRange(double low, double high) {
    const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
    return QCPRange(low - margin, high + margin);
}

} // namespace

TTrendForm::TTrendForm(QWidget* owner, TActivatedEvent onActivated, TTrendFeed::Clock clock)
    : TOrvaneMDIForm(owner, onActivated), m_feed(std::make_unique<TTrendFeed>(std::move(clock))) {
    setWindowTitle(QStringLiteral("Trend"));
    resize(760, 460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolBar = new QToolBar(this);
    layout->addWidget(m_toolBar);
    m_plot = new QCustomPlot(this);
    layout->addWidget(m_plot, 1);
    auto* statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(6, 2, 6, 2);
    m_readout = new QLabel(this);
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_readout->setWordWrap(true);
    m_recordingLabel = new QLabel(this);
    statusRow->addWidget(m_readout, 1);
    statusRow->addWidget(m_recordingLabel);
    layout->addLayout(statusRow);

    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    m_plot->xAxis->setTicker(ticker);
    m_plot->xAxis->setLabel(QStringLiteral("Time"));
    // Thin lines without antialiasing stay on the painter's fast path.
    m_plot->setNotAntialiasedElements(QCP::aePlottables);
    // The legend sits in a row above the plot, its entries side by side: it
    // never covers a trace, however many there are.
    m_plot->legend->setVisible(true);
    m_plot->axisRect()->insetLayout()->take(m_plot->legend);
    m_plot->plotLayout()->insertRow(0);
    m_plot->plotLayout()->addElement(0, 0, m_plot->legend);
    m_plot->plotLayout()->setRowStretchFactor(0, 0.001);
    m_plot->legend->setBorderPen(Qt::NoPen);
    m_plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    m_plot->legend->setMargins(QMargins(4, 2, 4, 0));
    // Time is what the engineer zooms and pans; values scale to what is shown.
    m_plot->setInteractions(QCP::Interactions(QCP::iRangeDrag) | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);
    m_plot->setMouseTracking(true);

    // The cursor lives on the buffered overlay: moving it redraws that layer only.
    m_cursorLine = new QCPItemStraightLine(m_plot);
    m_cursorLine->setLayer(QStringLiteral("overlay"));
    m_cursorLine->setPen(QPen(QColor(80, 80, 80), 0, Qt::DashLine));
    m_cursorLine->setSelectable(false);
    m_cursorLine->setVisible(false);

    connect(m_plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange&) {
                if (!m_settingRange) {
                    TimeRangeChangedByUser();
                }
            });
    connect(m_plot, &QCustomPlot::mousePress, this,
            [this](QMouseEvent* event) { PlotMousePress(event); });
    connect(m_plot, &QCustomPlot::mouseMove, this,
            [this](QMouseEvent* event) { PlotMouseMove(event); });
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) { Follow(); });
    connect(m_plot->selectionRect(), &QCPSelectionRect::accepted, this,
            [this](const QRect& rect, QMouseEvent*) { RubberBandZoom(rect); });
    connect(m_plot, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
                if (auto* entry = qobject_cast<QCPPlottableLegendItem*>(item)) {
                    for (int i = 0; i < m_plot->graphCount(); ++i) {
                        if (m_plot->graph(i) == entry->plottable()) {
                            SetTraceVisible(i, !TraceVisible(i));
                        }
                    }
                }
            });

    BuildToolBar();

    m_repaintTimer = new QTimer(this);
    connect(m_repaintTimer, &QTimer::timeout, this, [this] { RepaintNow(); });
    m_repaintTimer->start(kRepaintIntervalMs);
    m_recordTimer = new QTimer(this);
    connect(m_recordTimer, &QTimer::timeout, this, [this] { RecordingTick(); });
    m_recordTimer->start(TTrendRecorder::kRowIntervalMs);
    m_feed->OnValues = [this] { m_dirty = true; };
    UpdateActions();
}

void TTrendForm::resizeEvent(QResizeEvent* event) {
    TOrvaneMDIForm::resizeEvent(event);
    // Another width is another set of pixel columns, even for a still view.
    m_viewChanged = true;
}

TTrendForm::~TTrendForm() {
    m_feed->OnValues = nullptr;
    m_feed->RemoveAll();
}

void TTrendForm::BuildToolBar() {
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_pauseAction = m_toolBar->addAction(QStringLiteral("Pause"));
    m_pauseAction->setCheckable(true);
    m_pauseAction->setToolTip(QStringLiteral("Hold the view still; values keep being collected"));
    connect(m_pauseAction, &QAction::triggered, this, [this](bool checked) { SetPaused(checked); });
    m_followAction = m_toolBar->addAction(QStringLiteral("Follow"));
    m_followAction->setToolTip(QStringLiteral("Return to the live end"));
    connect(m_followAction, &QAction::triggered, this, [this] { Follow(); });
    m_toolBar->addSeparator();

    auto* windowBox = new QComboBox(m_toolBar);
    windowBox->setObjectName(QStringLiteral("timeWindow"));
    windowBox->setToolTip(QStringLiteral("Time shown while following the live end"));
    for (const std::int64_t ms : kWindowChoicesMs) {
        windowBox->addItem(WindowChoiceText(ms), QVariant::fromValue<qlonglong>(ms));
    }
    windowBox->setCurrentText(WindowChoiceText(m_windowMs));
    connect(windowBox, qOverload<int>(&QComboBox::activated), this, [this, windowBox](int index) {
        SetTimeWindowMs(windowBox->itemData(index).toLongLong());
    });
    m_toolBar->addWidget(windowBox);

    auto* scaleBox = new QComboBox(m_toolBar);
    scaleBox->setObjectName(QStringLiteral("scale"));
    scaleBox->setToolTip(QStringLiteral("One value axis for all traces, or one for each"));
    scaleBox->addItem(QStringLiteral("Shared scale"), static_cast<int>(TTrendScale::Shared));
    scaleBox->addItem(QStringLiteral("Scale per trace"), static_cast<int>(TTrendScale::PerTrace));
    connect(scaleBox, qOverload<int>(&QComboBox::activated), this, [this, scaleBox](int index) {
        SetScale(static_cast<TTrendScale>(scaleBox->itemData(index).toInt()));
    });
    m_toolBar->addWidget(scaleBox);
    m_toolBar->addSeparator();

    m_recordAction = m_toolBar->addAction(QStringLiteral("Record..."));
    m_recordAction->setCheckable(true);
    m_recordAction->setToolTip(
        QStringLiteral("Record the values to a CSV file while the trend runs"));
    connect(m_recordAction, &QAction::triggered, this, [this] { RecordCommand(); });
    m_exportCsvAction = m_toolBar->addAction(QStringLiteral("Export CSV..."));
    m_exportCsvAction->setToolTip(QStringLiteral("Write the visible time range to a CSV file"));
    connect(m_exportCsvAction, &QAction::triggered, this, [this] { ExportCsvCommand(); });
    m_exportPngAction = m_toolBar->addAction(QStringLiteral("Export PNG..."));
    m_exportPngAction->setToolTip(QStringLiteral("Save the plot as a PNG image"));
    connect(m_exportPngAction, &QAction::triggered, this, [this] { ExportPngCommand(); });
}

void TTrendForm::UpdateActions() {
    m_pauseAction->setChecked(m_paused);
    m_pauseAction->setText(m_paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_followAction->setEnabled(!m_following);
    const bool recording = Recording();
    m_recordAction->setChecked(recording);
    m_recordAction->setText(recording ? QStringLiteral("Stop Recording")
                                      : QStringLiteral("Record..."));
    m_recordAction->setEnabled(recording || m_feed->TraceCount() > 0);
    // The file's name only, the whole path in the tip: a long path must not
    // widen the window.
    const QString file = m_feed->Recorder().FileName();
    m_recordingLabel->setText(
        recording ? QStringLiteral("Recording to %1").arg(QFileInfo(file).fileName()) : QString());
    m_recordingLabel->setToolTip(recording ? file : QString());
    if (auto* box = m_toolBar->findChild<QComboBox*>(QStringLiteral("timeWindow"))) {
        box->setCurrentText(WindowChoiceText(m_windowMs));
    }
    if (auto* box = m_toolBar->findChild<QComboBox*>(QStringLiteral("scale"))) {
        box->setCurrentIndex(m_scale == TTrendScale::Shared ? 0 : 1);
    }
}

bool TTrendForm::AddVariable(TKIDevice* device, const QString& itemName, QString* error) {
    if (!m_feed->AddTrace(device, itemName, error)) {
        return false;
    }
    TracesAdded();
    return true;
}

void TTrendForm::TracesAdded() {
    for (int i = m_plot->graphCount(); i < m_feed->TraceCount(); ++i) {
        auto* graph = new TTrendGraph(m_plot->xAxis, m_plot->yAxis); // owned by the plot
        graph->setName(m_feed->Trace(i).name);
        // A 1-pixel (cosmetic) pen: wider pens take the painter's slow path.
        graph->setPen(QPen(TraceColour(i), 0));
        m_hidden.push_back(false);
    }
    ApplyScale();
    UpdateActions();
    m_dirty = true;
    m_viewChanged = true;
}

std::int64_t TTrendForm::Now() const {
    return m_feed->Now();
}

void TTrendForm::RepaintNow() {
    // Paused: nothing on the plot moves until the engineer changes the view.
    if (!m_viewChanged && (m_paused || !m_dirty)) {
        return;
    }
    m_dirty = false;
    m_viewChanged = false;
    Redraw();
}

std::pair<std::int64_t, std::int64_t> TTrendForm::LiveRange(std::int64_t nowMs) const {
    std::int64_t first = nowMs;
    for (int i = 0; i < m_feed->TraceCount(); ++i) {
        const TTrendBuffer& buffer = m_feed->Trace(i).buffer;
        if (!buffer.Empty()) {
            first = std::min(first, buffer.At(0).timeMs);
        }
    }
    // A young trend shows what it has rather than squeezing it against the
    // live end of an empty window.
    const std::int64_t youngFrom = std::min(first, nowMs - kMinimumSpanMs);
    if (m_windowMs <= 0) {
        return {youngFrom, nowMs};
    }
    return {std::max(nowMs - m_windowMs, youngFrom), nowMs};
}

std::pair<std::int64_t, std::int64_t> TTrendForm::VisibleRange() const {
    const QCPRange range = m_plot->xAxis->range();
    return {static_cast<std::int64_t>(std::llround(range.lower * 1000.0)),
            static_cast<std::int64_t>(std::llround(range.upper * 1000.0))};
}

void TTrendForm::SetTimeRange(std::int64_t fromMs, std::int64_t toMs) {
    m_settingRange = true;
    m_plot->xAxis->setRange(fromMs / 1000.0, toMs / 1000.0);
    m_settingRange = false;
    // The date joins the time where the range runs over midnight.
    const QDate firstDay = QDateTime::fromMSecsSinceEpoch(fromMs).date();
    const QDate lastDay = QDateTime::fromMSecsSinceEpoch(toMs).date();
    auto ticker = m_plot->xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>();
    if (ticker) {
        ticker->setDateTimeFormat(firstDay == lastDay ? QStringLiteral("HH:mm:ss")
                                                      : QStringLiteral("HH:mm:ss\nyyyy-MM-dd"));
    }
}

void TTrendForm::Redraw() {
    // Axes added or removed, labels grown or a legend wrapped change the
    // plot's width only as it is laid out in drawing: then it is reduced and
    // drawn again for the width it now has.
    const int columns = ReduceAndDraw();
    if (m_plot->axisRect()->width() > 0 && m_plot->axisRect()->width() != columns) {
        ReduceAndDraw();
    }
}

int TTrendForm::ReduceAndDraw() {
    const std::int64_t now = Now();
    if (m_following) {
        const auto [from, to] = LiveRange(now);
        SetTimeRange(from, to);
    }
    const auto [from, to] = VisibleRange();
    const int columns = std::max(1, m_plot->axisRect()->width());
    FitToWidth();
    m_drawn.resize(static_cast<std::size_t>(m_feed->TraceCount()));
    for (int i = 0; i < m_feed->TraceCount() && i < m_plot->graphCount(); ++i) {
        const TTrendBuffer& buffer = m_feed->Trace(i).buffer;
        TDrawnTrace& drawn = m_drawn[static_cast<std::size_t>(i)];
        if (m_hidden[static_cast<std::size_t>(i)] || buffer.Empty()) {
            drawn = TDrawnTrace{};
            continue;
        }
        // A trace that got nothing new for a view that did not move is drawn
        // as it was.
        const TDrawnTrace key{true,
                              from,
                              to,
                              columns,
                              buffer.Size(),
                              buffer.At(0).timeMs,
                              buffer.Last()->timeMs,
                              std::min(now, to),
                              std::nullopt};
        if (drawn.valid && drawn.SameAs(key)) {
            continue;
        }
        drawn = key;
        const std::vector<TTrendPoint> points = buffer.Decimate(from, to + 1, columns);
        QVector<QCPGraphData> data;
        data.reserve(static_cast<int>(points.size()) + 1);
        for (const TTrendPoint& p : points) {
            data.append(QCPGraphData(p.timeMs / 1000.0, p.value));
            // The reduction keeps every column's extremes: the values drawn
            // span the same range as all points held there, and the one held
            // in from before.
            if (p.timeMs <= to && !std::isnan(p.value)) {
                if (!drawn.range) {
                    drawn.range.emplace(p.value, p.value);
                } else {
                    drawn.range->first = std::min(drawn.range->first, p.value);
                    drawn.range->second = std::max(drawn.range->second, p.value);
                }
            }
        }
        // A value holds until the control sends the next one: a steady set
        // point runs on to the live end instead of stopping at its last change.
        if (!points.empty() && points.back().timeMs == buffer.Last()->timeMs &&
            points.back().timeMs < now) {
            data.append(QCPGraphData(std::min(now, to) / 1000.0, points.back().value));
        }
        m_plot->graph(i)->data()->set(data, true);
    }
    if (!m_valuesZoomed) {
        ScaleValueAxes();
    }
    UpdateCursor();
    // The timer already batches the values: draw now, show on the next paint.
    m_plot->replot(QCustomPlot::rpRefreshHint);
    return columns;
}

void TTrendForm::FitToWidth() {
    // As many time labels and legend entries side by side as the width holds.
    const int width = m_plot->width();
    if (width == m_fittedWidth && m_plot->axisRect()->width() == m_fittedAxisWidth &&
        m_plot->legend->elementCount() == m_fittedEntries) {
        return;
    }
    m_fittedWidth = width;
    m_fittedAxisWidth = m_plot->axisRect()->width();
    m_fittedEntries = m_plot->legend->elementCount();
    m_plot->xAxis->ticker()->setTickCount(
        std::max(2, m_plot->axisRect()->width() / kTimeLabelPixels));
    int widest = 1;
    for (int i = 0; i < m_plot->legend->itemCount(); ++i) {
        // A wrapped legend grid holds empty cells, which have no item.
        if (QCPAbstractLegendItem* item = m_plot->legend->item(i)) {
            widest = std::max(widest, item->minimumOuterSizeHint().width());
        }
    }
    m_plot->legend->setWrap(std::max(1, width / (widest + kLegendGapPixels)));
    m_plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst, true);
}

void TTrendForm::ScaleValueAxes() {
    auto rangeOf = [this](int i) {
        return static_cast<std::size_t>(i) < m_drawn.size()
                   ? m_drawn[static_cast<std::size_t>(i)].range
                   : std::nullopt;
    };
    if (m_scale == TTrendScale::PerTrace) {
        for (int i = 0; i < m_feed->TraceCount() && i < static_cast<int>(m_traceAxes.size()); ++i) {
            const TTrendTrace& trace = m_feed->Trace(i);
            const auto range = rangeOf(i);
            if (trace.limits) {
                // The item's limits frame the trace; a value beyond them widens
                // the axis rather than leaving the plot.
                const double low =
                    range ? std::min(range->first, trace.limits->first) : trace.limits->first;
                const double high =
                    range ? std::max(range->second, trace.limits->second) : trace.limits->second;
                m_traceAxes[static_cast<size_t>(i)]->setRange(low, high);
            } else if (range) {
                m_traceAxes[static_cast<size_t>(i)]->setRange(
                    PaddedRange(range->first, range->second));
            }
        }
        return;
    }
    std::optional<std::pair<double, double>> all;
    for (int i = 0; i < m_feed->TraceCount(); ++i) {
        if (m_hidden[static_cast<size_t>(i)]) {
            continue;
        }
        if (const auto range = rangeOf(i)) {
            if (!all) {
                all = range;
            } else {
                all->first = std::min(all->first, range->first);
                all->second = std::max(all->second, range->second);
            }
        }
    }
    if (all) {
        m_plot->yAxis->setRange(PaddedRange(all->first, all->second));
    }
}

void TTrendForm::ApplyScale() {
    QCPAxisRect* rect = m_plot->axisRect();
    // Traces go back to the shared axis before the per-trace axes go.
    for (int i = 0; i < m_plot->graphCount(); ++i) {
        m_plot->graph(i)->setValueAxis(m_plot->yAxis);
    }
    for (QCPAxis* axis : m_traceAxes) {
        if (axis != m_plot->yAxis) {
            rect->removeAxis(axis);
        }
    }
    m_traceAxes.clear();
    const QPen black(Qt::black, 0);
    m_plot->yAxis->setBasePen(black);
    m_plot->yAxis->setTickPen(black);
    m_plot->yAxis->setSubTickPen(black);
    m_plot->yAxis->setLabelColor(Qt::black);
    m_plot->yAxis->setTickLabelColor(Qt::black);
    m_plot->yAxis->setVisible(true);
    if (m_scale == TTrendScale::Shared || m_feed->TraceCount() == 0) {
        m_plot->yAxis->setLabel(m_feed->TraceCount() == 1 ? m_feed->Trace(0).name : QString());
    } else {
        for (int i = 0; i < m_feed->TraceCount(); ++i) {
            const TTrendTrace& trace = m_feed->Trace(i);
            // Alternating sides keep the axes beside the plot few on each.
            QCPAxis* axis = i == 0 ? m_plot->yAxis
                                   : rect->addAxis(i % 2 == 1 ? QCPAxis::atRight : QCPAxis::atLeft);
            const QColor colour = TraceColour(i);
            const QPen pen(colour, 0);
            axis->setBasePen(pen);
            axis->setTickPen(pen);
            axis->setSubTickPen(pen);
            axis->setLabelColor(colour);
            axis->setTickLabelColor(colour);
            QString label = trace.name;
            if (trace.limits) {
                label +=
                    QStringLiteral(" (%1 to %2)")
                        .arg(NumberText(trace.limits->first), NumberText(trace.limits->second));
            }
            axis->setLabel(label);
            axis->setVisible(!m_hidden[static_cast<size_t>(i)]);
            m_plot->graph(i)->setValueAxis(axis);
            m_traceAxes.push_back(axis);
        }
    }
    m_valuesZoomed = false;
    m_viewChanged = true;
}

void TTrendForm::SetScale(TTrendScale scale) {
    if (scale == m_scale) {
        return;
    }
    m_scale = scale;
    ApplyScale();
    UpdateActions();
    RepaintNow();
}

void TTrendForm::SetTimeWindowMs(std::int64_t ms) {
    m_windowMs = std::max<std::int64_t>(0, ms);
    if (!m_following) {
        // A still view keeps its right edge and takes the new width.
        const std::int64_t to = VisibleRange().second;
        SetTimeRange(m_windowMs == 0 ? LiveRange(to).first : to - m_windowMs, to);
    }
    m_viewChanged = true;
    UpdateActions();
    RepaintNow();
}

void TTrendForm::SetPaused(bool paused) {
    if (!paused) {
        Follow();
        return;
    }
    m_paused = true;
    m_following = false;
    UpdateActions();
}

void TTrendForm::Follow() {
    m_paused = false;
    m_following = true;
    m_valuesZoomed = false;
    m_viewChanged = true;
    UpdateActions();
    RepaintNow();
}

void TTrendForm::TimeRangeChangedByUser() {
    m_following = false;
    m_viewChanged = true;
    UpdateActions();
    // The plot shows the new range at once; the points for it follow on the
    // next turn of the event loop, so a burst of wheel steps is one redraw.
    QTimer::singleShot(0, this, [this] { RepaintNow(); });
}

void TTrendForm::SetTraceVisible(int index, bool visible) {
    if (index < 0 || index >= m_plot->graphCount()) {
        return;
    }
    m_hidden[static_cast<size_t>(index)] = !visible;
    m_plot->graph(index)->setVisible(visible);
    if (index < static_cast<int>(m_traceAxes.size())) {
        m_traceAxes[static_cast<size_t>(index)]->setVisible(visible);
    }
    UpdateLegendEntry(index);
    m_viewChanged = true;
    RepaintNow();
}

bool TTrendForm::TraceVisible(int index) const {
    return index >= 0 && index < static_cast<int>(m_hidden.size()) &&
           !m_hidden[static_cast<size_t>(index)];
}

void TTrendForm::UpdateLegendEntry(int index) {
    if (auto* entry = m_plot->legend->itemWithPlottable(m_plot->graph(index))) {
        entry->setTextColor(TraceVisible(index) ? Qt::black : kHiddenEntryColour);
    }
}

void TTrendForm::PlotMousePress(QMouseEvent* event) {
    // Ctrl+left drag is the rubber band; a plain drag pans.
    const bool band =
        event->button() == Qt::LeftButton && event->modifiers().testFlag(Qt::ControlModifier);
    m_plot->setSelectionRectMode(band ? QCP::srmCustom : QCP::srmNone);
}

void TTrendForm::PlotMouseMove(QMouseEvent* event) {
    if (m_plot->axisRect()->rect().contains(event->pos())) {
        SetCursorTime(static_cast<std::int64_t>(
            std::llround(m_plot->xAxis->pixelToCoord(event->position().x()) * 1000.0)));
    }
}

void TTrendForm::RubberBandZoom(const QRect& band) {
    const QRect rect = band.normalized();
    if (rect.width() < kMinimumBandPixels || rect.height() < kMinimumBandPixels) {
        return;
    }
    const double fromS = m_plot->xAxis->pixelToCoord(rect.left());
    const double toS = m_plot->xAxis->pixelToCoord(rect.right());
    std::vector<QCPAxis*> axes = m_traceAxes;
    if (axes.empty()) {
        axes.push_back(m_plot->yAxis);
    }
    for (QCPAxis* axis : axes) {
        axis->setRange(axis->pixelToCoord(rect.bottom()), axis->pixelToCoord(rect.top()));
    }
    m_valuesZoomed = true;
    // Through the axis like a wheel step: the view leaves the live end.
    m_plot->xAxis->setRange(fromS, toS);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void TTrendForm::SetCursorTime(std::int64_t ms) {
    m_cursorMs = ms;
    UpdateCursor();
    m_cursorLine->layer()->replot();
}

void TTrendForm::UpdateCursor() {
    if (!m_cursorMs) {
        m_readout->setText(QString());
        return;
    }
    m_cursorLine->setVisible(true);
    const double x = *m_cursorMs / 1000.0;
    m_cursorLine->point1->setCoords(x, 0);
    m_cursorLine->point2->setCoords(x, 1);
    // Many traces wrap onto more lines, between entries only.
    QStringList entries = CursorReadoutEntries();
    for (QString& entry : entries) {
        entry.replace(QLatin1Char(' '), QChar::Nbsp);
    }
    m_readout->setText(entries.join(QStringLiteral("    ")));
}

QStringList TTrendForm::CursorValueTexts() const {
    QStringList texts;
    for (int i = 0; i < m_feed->TraceCount(); ++i) {
        const auto point = m_cursorMs ? m_feed->Trace(i).buffer.ValueAt(*m_cursorMs) : std::nullopt;
        texts << (point ? NumberText(point->value) : QString());
    }
    return texts;
}

QStringList TTrendForm::CursorReadoutEntries() const {
    if (!m_cursorMs) {
        return {};
    }
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(*m_cursorMs);
    QStringList entries{time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))};
    const QStringList values = CursorValueTexts();
    for (int i = 0; i < values.size(); ++i) {
        if (TraceVisible(i)) {
            entries << QStringLiteral("%1: %2").arg(
                m_feed->Trace(i).name, values[i].isEmpty() ? QStringLiteral("-") : values[i]);
        }
    }
    return entries;
}

QString TTrendForm::CursorReadout() const {
    return CursorReadoutEntries().join(QStringLiteral("   "));
}

bool TTrendForm::ExportCsv(const QString& file, QString* error) const {
    // While following, the live window as it is now, not as last drawn.
    const auto [from, to] = m_following ? LiveRange(Now()) : VisibleRange();
    // One row for every time at which any trace received a value in the range,
    // each column holding what its trace showed then.
    std::vector<std::int64_t> times;
    for (int i = 0; i < m_feed->TraceCount(); ++i) {
        const TTrendBuffer& buffer = m_feed->Trace(i).buffer;
        for (std::size_t p = buffer.LowerBound(from), end = buffer.LowerBound(to + 1); p < end;
             ++p) {
            times.push_back(buffer.At(p).timeMs);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error != nullptr) {
            *error = QStringLiteral("Cannot write \"%1\": %2").arg(file, out.errorString());
        }
        return false;
    }
    QByteArray text = "time";
    for (int i = 0; i < m_feed->TraceCount(); ++i) {
        text += ',' + CsvField(m_feed->Trace(i).name).toUtf8();
    }
    text += '\n';
    for (const std::int64_t time : times) {
        text += TTrendRecorder::TimeText(time).toLatin1();
        for (int i = 0; i < m_feed->TraceCount(); ++i) {
            text += ',';
            if (const auto point = m_feed->Trace(i).buffer.ValueAt(time)) {
                text += NumberText(point->value).toLatin1();
            }
        }
        text += '\n';
    }
    if (out.write(text) != text.size() || !out.commit()) {
        if (error != nullptr) {
            *error = QStringLiteral("Cannot write \"%1\": %2").arg(file, out.errorString());
        }
        return false;
    }
    return true;
}

bool TTrendForm::ExportPng(const QString& file, QString* error) {
    RepaintNow();
    const QPixmap image = m_plot->toPixmap();
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") || !out.commit()) {
        if (error != nullptr) {
            *error = QStringLiteral("Cannot write \"%1\": %2").arg(file, out.errorString());
        }
        return false;
    }
    return true;
}

bool TTrendForm::StartRecording(const QString& file, QString* error) {
    const bool ok = m_feed->StartRecording(file, error);
    UpdateActions();
    return ok;
}

bool TTrendForm::StopRecording(QString* error) {
    const bool ok = m_feed->StopRecording(error);
    UpdateActions();
    return ok;
}

void TTrendForm::RecordingTick() {
    if (!Recording()) {
        return;
    }
    if (!m_feed->TickRecording()) {
        UpdateActions();
        showError(QStringLiteral("Recording to \"%1\" stopped: %2")
                      .arg(m_feed->Recorder().FileName(), m_feed->Recorder().ErrorString()));
    }
}

namespace {

std::optional<QString> AskSave(const QString& caption, const char* filter, const char* extension) {
    FileDialogRequest request;
    request.caption = caption;
    request.filter = QString::fromLatin1(filter);
    request.defaultExt = QString::fromLatin1(extension);
    request.options = ofOverwritePrompt | ofHideReadOnly | ofPathMustExist;
    return DialogService::current().saveFile(request);
}

} // namespace

void TTrendForm::RecordCommand() {
    QString error;
    if (Recording()) {
        if (!StopRecording(&error)) {
            showError(QStringLiteral("Recording to \"%1\" failed: %2")
                          .arg(m_feed->Recorder().FileName(), error));
        }
        return;
    }
    UpdateActions(); // the button is not pressed until a file is chosen
    const auto file = AskSave(QStringLiteral("Record Trend"), kCsvFilter, "csv");
    if (file && !StartRecording(*file, &error)) {
        showError(QStringLiteral("Cannot record to \"%1\": %2").arg(*file, error));
    }
}

void TTrendForm::ExportCsvCommand() {
    const auto file = AskSave(QStringLiteral("Export Trend"), kCsvFilter, "csv");
    QString error;
    if (file && !ExportCsv(*file, &error)) {
        showError(error);
    }
}

void TTrendForm::ExportPngCommand() {
    const auto file = AskSave(QStringLiteral("Export Trend Picture"), kPngFilter, "png");
    QString error;
    if (file && !ExportPng(*file, &error)) {
        showError(error);
    }
}

} // namespace orvane
