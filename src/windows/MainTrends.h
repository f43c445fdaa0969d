#pragma once

// The main window's trend windows: "New Trend" (File menu and tool bar) and
// the "Trend" items of the inspector's and the Explorer's pop-up menus open a
// new trend of the selected variables; trend sets are saved from the active
// trend and opened into a new one with live values. Every trend is owned by
// the main window (closed with it), placed below it like the inspectors,
// listed in its Window menu, and takes drops of variables.
//
// A variable the trend refuses is named in one message after the others
// were added; when none can be trended no window opens.
//
// Ownership: a Qt child of the main window; borrows the main window, its
// clipboard, connection and Explorer. The trend windows delete themselves
// when closed, which ends their hot links. Thread: main thread only.

#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>

#include "platform/Lifetime.h"
#include "windows/TrendForm.h"
#include "windows/TrendOpen.h"

class QAction;

namespace orvane {

class TMainForm;
struct TTrendSet;

class TMainTrends : public QObject {
    Q_OBJECT
public:
    static constexpr int kTrendCascade = 20;
    static constexpr int kTrendHeight = 420;

    enum TCommand { cmdNewTrend, cmdOpenTrendSet, cmdSaveTrendSet, cmdCount };

    // Adds its commands to the main window's File menu and tool bar and
    // installs itself as the main window's trend opener.
    explicit TMainTrends(TMainForm* main);
    ~TMainTrends() override;

    QAction* Action(TCommand command) const { return m_actions[command]; }

    // A new trend of the variables selected in the window (an inspector or
    // the Explorer); for any other window, or none, the active inspector's
    // selection, else the Explorer's. Null when nothing could be trended
    // (the engineer has been told why).
    TTrendForm* TrendSelection(TOrvaneMDIForm* source);
    // A new trend of the variables; null when none could be trended.
    TTrendForm* OpenTrend(const std::vector<TTrendRequest>& requests);
    // Opens the trend set file into a new trend; null when the file is not a
    // trend set or none of its variables could be trended.
    TTrendForm* OpenTrendSetFile(const QString& path);
    // Writes the trend's variables, scale and time window; false on failure
    // (the engineer has been told).
    bool SaveTrendSetFile(TTrendForm* trend, const QString& path);
    // The trend set of a trend window as it stands.
    static TTrendSet TrendSetOf(TTrendForm* trend);

    // The trend windows open now, in creation order.
    std::vector<TTrendForm*> Trends() const;
    TTrendForm* ActiveTrend() const;

    // Ends when this goes: the trends' activation handlers are then not called.
    const Lifetime& lifetime() const { return m_lifetime; }

private:
    TTrendForm* newTrend();
    void place(TTrendForm* form);
    // Places, shows and activates a new trend, then tells what was refused.
    TTrendForm* showTrend(TTrendForm* form, const QStringList& refusals);
    void trendActivated(TOrvaneMDIForm* form);
    void openTrendSet();
    void saveTrendSet();
    void updateCommands();

    TMainForm* m_main; // the owner: lives longer than this
    QAction* m_actions[cmdCount] = {};
    // Guards of the trend windows: QObject ones, since a window is looked at
    // while it is being destroyed (its activation ends), when it is no longer
    // a trend window.
    QPointer<QObject> m_activeTrend;
    QPointer<QObject> m_lastPlaced;
    std::vector<QPointer<QObject>> m_trends; // made here, in creation order
    int m_counter = 0;
    Lifetime m_lifetime; // last: ends first
};

} // namespace orvane
