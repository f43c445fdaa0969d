#pragma once

// The Trend window: numeric variables plotted against wall-clock time from
// their hot links, one trace each with its own colour and a legend entry.
//
// Values arrive as often as the control sends them; the plot is redrawn at
// most every kRepaintIntervalMs and only when something arrived or the view
// moved, each trace reduced to the plot's pixel columns, so drawing cost
// follows the width of the window, not the number of points held.
//
// The view either follows the live end (the latest TimeWindowMs() up to now)
// or stands still: paused (nothing on the plot changes while values keep
// being collected), or zoomed and panned by the engineer (the time range
// stays, values arriving inside it are drawn). Follow() returns to the live
// end from either.
//
// Mouse: the wheel zooms the time axis around the pointer, a left drag pans
// it, a Ctrl+left drag draws a rubber band that zooms time and values to it,
// a double click follows the live end again. A vertical cursor follows the
// pointer over the plot; the line under the plot reads its time and every
// trace's value there. A click on a legend entry hides or shows its trace.
//
// Every file dialog and message goes through the dialog service.
//
// Ownership: the window owns its feed (and so its hot links and recording);
// devices are borrowed and must outlive the window. Thread: GUI thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "windows/OrvaneMDIForm.h"
#include "windows/TrendFeed.h"

class QAction;
class QActionGroup;
class QCPAxis;
class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QMouseEvent;
class QResizeEvent;
class QTimer;
class QToolBar;

namespace orvane {

class TKIDevice;

// One value axis for every trace, or one per trace in the trace's colour.
enum class TTrendScale { Shared, PerTrace };

class TTrendForm : public TOrvaneMDIForm {
    Q_OBJECT
public:
    static constexpr int kRepaintIntervalMs = 100;
    // The time shown while following the live end, at first.
    static constexpr std::int64_t kDefaultWindowMs = 10 * 60 * 1000;
    // The shortest time shown while the trend is younger than its window.
    static constexpr std::int64_t kMinimumSpanMs = 10 * 1000;
    // The room a time label is given across the plot, and the gap between
    // legend entries side by side.
    static constexpr int kTimeLabelPixels = 110;
    static constexpr int kLegendGapPixels = 16;
    // The time windows offered; 0 shows everything held.
    static constexpr std::int64_t kWindowChoicesMs[] = {60 * 1000, 10 * 60 * 1000, 60 * 60 * 1000,
                                                        0};

    // clock: the feed's wall clock; a test passes its own.
    TTrendForm(QWidget* owner, TActivatedEvent onActivated, TTrendFeed::Clock clock = {});
    ~TTrendForm() override; // ends the hot links and a recording

    // Adds a trace; false with the reason in *error (a string variable, an
    // unknown one). The caller shows the reason.
    bool AddVariable(TKIDevice* device, const QString& itemName, QString* error);

    // Makes graphs for traces added to Feed() directly (AddVariable does it).
    void TracesAdded();

    TTrendFeed& Feed() { return *m_feed; }
    QCustomPlot* Plot() const { return m_plot; }
    // Redraws now if values arrived or the view changed since the last redraw
    // (the timer does the same; tests and screenshots call it to be sure).
    void RepaintNow();

    void SetScale(TTrendScale scale);
    TTrendScale Scale() const { return m_scale; }

    // The time shown while following: one of kWindowChoicesMs (0 = all that
    // is held). A still view keeps its right edge and takes the new width.
    void SetTimeWindowMs(std::int64_t ms);
    std::int64_t TimeWindowMs() const { return m_windowMs; }

    // Paused: the view stays still, values keep being collected. Resuming
    // follows the live end again.
    void SetPaused(bool paused);
    bool Paused() const { return m_paused; }
    // Back to the live end (ends a pause, a zoom or a pan).
    void Follow();
    bool Following() const { return m_following; }

    // A hidden trace keeps collecting; its legend entry is greyed.
    void SetTraceVisible(int index, bool visible);
    bool TraceVisible(int index) const;

    // The cursor's time (wall-clock ms since the epoch); none before the
    // pointer first crossed the plot.
    void SetCursorTime(std::int64_t ms);
    std::optional<std::int64_t> CursorTime() const { return m_cursorMs; }
    // Each trace's value at the cursor, as the read-out shows it ("" where the
    // trace holds no value yet at that time).
    QStringList CursorValueTexts() const;
    // The read-out line under the plot.
    QString CursorReadout() const;

    // Writes the points of the visible time range (while following: the live
    // window as it is now) in the recording's columns
    // and time format (one row per distinct time, each column holding its
    // value at that time). False with the reason in *error.
    bool ExportCsv(const QString& file, QString* error) const;
    bool ExportPng(const QString& file, QString* error);

    bool StartRecording(const QString& file, QString* error);
    bool StopRecording(QString* error);
    bool Recording() const { return m_feed->Recorder().IsRecording(); }

    int EditState() override { return 0; }

    // The tool bar's commands, for tests and the menus of the main window.
    QAction* PauseAction() const { return m_pauseAction; }
    QAction* FollowAction() const { return m_followAction; }
    QAction* RecordAction() const { return m_recordAction; }
    QAction* ExportCsvAction() const { return m_exportCsvAction; }
    QAction* ExportPngAction() const { return m_exportPngAction; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildToolBar();
    void UpdateActions();
    void Redraw();
    int ReduceAndDraw(); // returns the pixel columns it reduced to
    void ApplyScale();
    void ScaleValueAxes();
    void FitToWidth();
    void SetTimeRange(std::int64_t fromMs, std::int64_t toMs);
    std::pair<std::int64_t, std::int64_t> LiveRange(std::int64_t nowMs) const;
    std::pair<std::int64_t, std::int64_t> VisibleRange() const;
    std::int64_t Now() const;
    void TimeRangeChangedByUser();
    void UpdateCursor();
    QStringList CursorReadoutEntries() const;
    void UpdateLegendEntry(int index);
    void PlotMousePress(QMouseEvent* event);
    void PlotMouseMove(QMouseEvent* event);
    void RubberBandZoom(const QRect& rect);
    void RecordCommand();
    void ExportCsvCommand();
    void ExportPngCommand();
    void RecordingTick();

    std::unique_ptr<TTrendFeed> m_feed;
    QToolBar* m_toolBar = nullptr;               // child widget
    QCustomPlot* m_plot = nullptr;               // child widget
    QLabel* m_readout = nullptr;                 // child widget: the cursor's read-out
    QLabel* m_recordingLabel = nullptr;          // child widget: the recording's file
    QCPItemStraightLine* m_cursorLine = nullptr; // owned by the plot
    QTimer* m_repaintTimer = nullptr;
    QTimer* m_recordTimer = nullptr;
    QAction* m_pauseAction = nullptr;
    QAction* m_followAction = nullptr;
    QActionGroup* m_windowGroup = nullptr;
    QActionGroup* m_scaleGroup = nullptr;
    QAction* m_recordAction = nullptr;
    QAction* m_exportCsvAction = nullptr;
    QAction* m_exportPngAction = nullptr;

    // One value axis per trace while the scale is per trace (owned by the
    // plot's axis rect); the shared axis is the plot's own yAxis.
    std::vector<QCPAxis*> m_traceAxes;
    TTrendScale m_scale = TTrendScale::Shared;
    std::int64_t m_windowMs = kDefaultWindowMs;
    bool m_paused = false;
    bool m_following = true;
    bool m_valuesZoomed = false; // a rubber band set the value axes
    bool m_settingRange = false; // our own range change, not the user's
    bool m_dirty = false;        // values arrived since the last redraw
    bool m_viewChanged = false;  // the view must be redrawn even when paused
    std::optional<std::int64_t> m_cursorMs;
    std::vector<bool> m_hidden;

    // What each trace's graph holds: the view and the trace's state it was
    // reduced for, and the range of the values drawn.
    struct TDrawnTrace {
        bool valid = false;
        std::int64_t fromMs = 0;
        std::int64_t toMs = 0;
        int columns = 0;
        std::size_t size = 0;
        std::int64_t firstMs = 0;
        std::int64_t lastMs = 0;
        std::int64_t heldToMs = 0; // where the latest value is drawn up to
        std::optional<std::pair<double, double>> range;
        bool SameAs(const TDrawnTrace& o) const {
            return fromMs == o.fromMs && toMs == o.toMs && columns == o.columns && size == o.size &&
                   firstMs == o.firstMs && lastMs == o.lastMs && heldToMs == o.heldToMs;
        }
    };
    std::vector<TDrawnTrace> m_drawn;
    int m_fittedWidth = -1;     // the plot width the labels and legend were laid out for
    int m_fittedAxisWidth = -1; // the time axis's width then
    int m_fittedEntries = -1;   // and the number of legend entries
};

} // namespace orvane
