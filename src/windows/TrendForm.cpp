#include "windows/TrendForm.h"

#include <cmath>

#include <QDateTime>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace orvane {

namespace {

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

} // namespace

TTrendForm::TTrendForm(QWidget* owner, TActivatedEvent onActivated)
    : TOrvaneMDIForm(owner, onActivated), m_feed(std::make_unique<TTrendFeed>()) {
    setWindowTitle(QStringLiteral("Trend"));
    resize(720, 420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    layout->addWidget(m_plot);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    m_plot->xAxis->setTicker(ticker);
    m_plot->xAxis->setLabel(QStringLiteral("Time"));
    // Traces are drawn as steps, all horizontal and vertical lines:
    // antialiasing would add nothing to them but cost.
    m_plot->setNotAntialiasedElements(QCP::aePlottables);
    m_plot->legend->setVisible(true);
    // Top left: the live end, where the eye is, stays clear.
    m_plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    m_plot->setInteractions(QCP::Interactions(QCP::iRangeDrag) | QCP::iRangeZoom);

    m_repaintTimer = new QTimer(this);
    connect(m_repaintTimer, &QTimer::timeout, this, [this] { RepaintNow(); });
    m_repaintTimer->start(kRepaintIntervalMs);
    m_recordTimer = new QTimer(this);
    connect(m_recordTimer, &QTimer::timeout, this, [this] { m_feed->TickRecording(); });
    m_recordTimer->start(TTrendRecorder::kRowIntervalMs);
    m_feed->OnValues = [this] { m_dirty = true; };
}

TTrendForm::~TTrendForm() {
    m_feed->OnValues = nullptr;
    m_feed->RemoveAll();
}

bool TTrendForm::AddVariable(TKIDevice* device, const QString& itemName, QString* error) {
    const int before = m_feed->TraceCount();
    if (!m_feed->AddTrace(device, itemName, error)) {
        return false;
    }
    if (m_feed->TraceCount() > before) {
        QCPGraph* graph = m_plot->addGraph();
        graph->setName(itemName);
        graph->setPen(QPen(TraceColour(before), 1.5));
        graph->setLineStyle(QCPGraph::lsStepLeft);
        m_dirty = true;
    }
    return true;
}

void TTrendForm::RepaintNow() {
    if (!m_dirty) {
        return;
    }
    m_dirty = false;
    Redraw();
}

void TTrendForm::Redraw() {
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    // A young trend shows what it has rather than squeezing it against the
    // live end of an empty window.
    std::int64_t first = now;
    for (int i = 0; i < m_feed->TraceCount(); ++i) {
        const TTrendBuffer& buffer = m_feed->Trace(i).buffer;
        if (!buffer.Empty()) {
            first = std::min(first, buffer.At(0).timeMs);
        }
    }
    const std::int64_t from =
        std::max(now - kDefaultWindowMs, std::min(first, now - kMinimumSpanMs));
    const int columns = std::max(1, m_plot->axisRect()->width());
    double low = 0;
    double high = 0;
    bool haveRange = false;
    for (int i = 0; i < m_feed->TraceCount() && i < m_plot->graphCount(); ++i) {
        const TTrendBuffer& buffer = m_feed->Trace(i).buffer;
        const std::vector<TTrendPoint> points = buffer.Decimate(from, now + 1, columns);
        QVector<QCPGraphData> data;
        data.reserve(static_cast<int>(points.size()));
        for (const TTrendPoint& p : points) {
            data.append(QCPGraphData(p.timeMs / 1000.0, p.value));
        }
        // A value holds until the control sends the next one: a steady set
        // point runs on to the live end instead of stopping at its last change.
        if (!points.empty() && points.back().timeMs < now) {
            data.append(QCPGraphData(now / 1000.0, points.back().value));
        }
        m_plot->graph(i)->data()->set(data, true);
        if (const auto range = buffer.Range(from, now + 1)) {
            low = haveRange ? std::min(low, range->first) : range->first;
            high = haveRange ? std::max(high, range->second) : range->second;
            haveRange = true;
        }
    }
    m_plot->xAxis->setRange(from / 1000.0, now / 1000.0);
    if (haveRange) {
        // A flat trace still gets a visible band around it.
        const double margin =
            high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
        m_plot->yAxis->setRange(low - margin, high + margin);
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace orvane
