#include "windows/TrendFeed.h"

#include <cmath>
#include <limits>

#include <QDateTime>

#include "model/KIDevice.h"
#include "model/KIItem.h"
#include "platform/Exception.h"
#include "windows/TrendValue.h"

namespace orvane {

namespace {

// A control without limits for an item states 0 and 0 (or nothing readable).
std::optional<std::pair<double, double>> ItemLimits(ItemDataType type, TKIDuxlaneItem* item) {
    try {
        const auto low = TrendNumber(type, item->MinValue().toString());
        const auto high = TrendNumber(type, item->MaxValue().toString());
        if (low && high && *low < *high && std::isfinite(*low) && std::isfinite(*high)) {
            return std::make_pair(*low, *high);
        }
    } catch (const Exception&) {
        // The attributes were read with the data type; a failure now only
        // leaves the axis to scale itself.
    }
    return std::nullopt;
}

} // namespace

TTrendFeed::TTrendFeed(Clock clock) : m_clock(std::move(clock)) {}

TTrendFeed::~TTrendFeed() {
    RemoveAll();
}

std::int64_t TTrendFeed::Now() const {
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

bool TTrendFeed::AddTrace(TKIDevice* device, const QString& itemName, QString* error) {
    if (device == nullptr) {
        if (error != nullptr) {
            *error = QStringLiteral("No control is connected.");
        }
        return false;
    }
    for (const auto& trace : m_traces) {
        if (trace->device == device && trace->name.compare(itemName, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    TKIItem* item = nullptr;
    ItemDataType type = vdtReal;
    try {
        item = device->AcquireItem(itemName);
        if (auto* duxlane = dynamic_cast<TKIDuxlaneItem*>(item)) {
            type = duxlane->DataType();
        }
    } catch (const Exception& e) {
        if (item != nullptr) {
            device->ReleaseItem(item->Name());
        }
        if (error != nullptr) {
            *error = e.message();
        }
        return false;
    }
    if (!IsTrendable(type)) {
        device->ReleaseItem(item->Name());
        if (error != nullptr) {
            *error = QStringLiteral("\"%1\" is not a number and cannot be trended.").arg(itemName);
        }
        return false;
    }
    auto trace = std::make_unique<TTrendTrace>();
    trace->device = device;
    trace->item = item;
    trace->name = itemName;
    trace->dataType = type;
    if (auto* duxlane = dynamic_cast<TKIDuxlaneItem*>(item)) {
        trace->limits = ItemLimits(type, duxlane);
    }
    m_traces.push_back(std::move(trace));
    // A recording in progress keeps its columns; the new trace joins the next.
    try {
        item->Subscribe(TKIItemEvent(this, &TTrendFeed::ValueChanged));
    } catch (const Exception& e) {
        Release(*m_traces.back());
        m_traces.pop_back();
        if (error != nullptr) {
            *error = e.message();
        }
        return false;
    }
    return true;
}

void TTrendFeed::Release(TTrendTrace& trace) {
    if (trace.item == nullptr) {
        return;
    }
    trace.item->Unsubscribe(TKIItemEvent(this, &TTrendFeed::ValueChanged));
    trace.device->ReleaseItem(trace.item->Name());
    trace.item = nullptr;
}

void TTrendFeed::RemoveAll() {
    QString ignored;
    StopRecording(&ignored);
    // Moved aside first: releasing an item may run the event loop.
    std::vector<std::unique_ptr<TTrendTrace>> traces;
    traces.swap(m_traces);
    for (auto& trace : traces) {
        Release(*trace);
    }
}

int TTrendFeed::AddDetachedTrace(const QString& name, ItemDataType type) {
    auto trace = std::make_unique<TTrendTrace>();
    trace->name = name;
    trace->dataType = type;
    m_traces.push_back(std::move(trace));
    return TraceCount() - 1;
}

void TTrendFeed::ValueChanged(TKIItem* item) {
    const std::int64_t now = Now();
    for (size_t i = 0; i < m_traces.size(); ++i) {
        if (m_traces[i]->item == item) {
            Store(static_cast<int>(i), now, item->Value().toString());
        }
    }
    if (OnValues) {
        OnValues();
    }
}

void TTrendFeed::Receive(int index, const QString& text) {
    if (index < 0 || index >= TraceCount()) {
        return;
    }
    Store(index, Now(), text);
    if (OnValues) {
        OnValues();
    }
}

void TTrendFeed::Store(int index, std::int64_t nowMs, const QString& text) {
    TTrendTrace& trace = *m_traces[static_cast<size_t>(index)];
    trace.lastText = text;
    // An unreadable value is a gap in the trace, not a made-up number.
    const auto number = TrendNumber(trace.dataType, trace.lastText);
    trace.buffer.Append(nowMs, number ? *number : std::numeric_limits<double>::quiet_NaN());
    m_recorder.SetValue(index, trace.lastText);
}

bool TTrendFeed::StartRecording(const QString& fileName, QString* error) {
    QStringList columns;
    for (const auto& trace : m_traces) {
        columns << trace->name;
    }
    if (!m_recorder.Start(fileName, columns, Now())) {
        if (error != nullptr) {
            *error = m_recorder.ErrorString();
        }
        return false;
    }
    // The first row holds the values the trend shows now.
    for (size_t i = 0; i < m_traces.size(); ++i) {
        if (!m_traces[i]->lastText.isEmpty()) {
            m_recorder.SetValue(static_cast<int>(i), m_traces[i]->lastText);
        }
    }
    return true;
}

bool TTrendFeed::StopRecording(QString* error) {
    if (!m_recorder.Stop(Now())) {
        if (error != nullptr) {
            *error = m_recorder.ErrorString();
        }
        return false;
    }
    return true;
}

bool TTrendFeed::TickRecording() {
    return m_recorder.Tick(Now());
}

} // namespace orvane
