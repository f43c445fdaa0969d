#pragma once

// The Trend window: numeric variables plotted against wall-clock time from
// their hot links, one trace each with its own colour and a legend entry.
//
// Values arrive as often as the control sends them; the plot is redrawn at
// most every kRepaintIntervalMs and only when something arrived, each trace
// reduced to the plot's pixel columns, so drawing cost follows the width of
// the window, not the number of points held.
//
// Ownership: the window owns its feed (and so its hot links and recording);
// devices are borrowed and must outlive the window. Thread: GUI thread.

#include <cstdint>
#include <memory>

#include <QString>

#include "windows/OrvaneMDIForm.h"
#include "windows/TrendFeed.h"

class QCustomPlot;
class QTimer;

namespace orvane {

class TKIDevice;

class TTrendForm : public TOrvaneMDIForm {
public:
    static constexpr int kRepaintIntervalMs = 100;
    // The time shown while following the live end.
    static constexpr std::int64_t kDefaultWindowMs = 10 * 60 * 1000;
    // The shortest time shown while the trend is younger than its window.
    static constexpr std::int64_t kMinimumSpanMs = 10 * 1000;

    TTrendForm(QWidget* owner, TActivatedEvent onActivated);
    ~TTrendForm() override; // ends the hot links and a recording

    // Adds a trace; false with the reason in *error (a string variable, an
    // unknown one). The caller shows the reason.
    bool AddVariable(TKIDevice* device, const QString& itemName, QString* error);

    TTrendFeed& Feed() { return *m_feed; }
    QCustomPlot* Plot() const { return m_plot; }
    // Redraws now if values arrived since the last redraw (the timer does the
    // same; tests and screenshots call it to be sure).
    void RepaintNow();

    int EditState() override { return 0; }

private:
    void Redraw();

    std::unique_ptr<TTrendFeed> m_feed;
    QCustomPlot* m_plot = nullptr; // child widget
    QTimer* m_repaintTimer = nullptr;
    QTimer* m_recordTimer = nullptr;
    bool m_dirty = false;
};

} // namespace orvane
