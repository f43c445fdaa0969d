#pragma once

// The main window's inspector commands: plugs the inspector management into
// TMainForm (SetInspectorManagement) and carries its File, Sheet, Options >
// Precision commands and the first inspector at connection to the
// TInspectorManager. New Quick Inspector walks the Explorer's service and
// configure headers.
//
// Ownership: a Qt child of the main window; borrows the main window, its
// clipboard, connection and Explorer. Thread: main thread only.

#include <memory>

#include <QObject>

#include "windows/InspectorManager.h"
#include "windows/Main.h"

namespace orvane {

class TExplorerForm;
class THeaderIterator;

// The headers of the Explorer's selected control, as the Explorer's header
// iterators give them.
class TExplorerHeaderWalk : public THeaderWalk {
public:
    explicit TExplorerHeaderWalk(TExplorerForm* explorer);
    ~TExplorerHeaderWalk() override;

    void Start(bool configure) override;
    bool HasCurrent() const override;
    QString HeaderName() const override;
    void Next() override;

private:
    TExplorerForm* m_explorer;
    std::unique_ptr<THeaderIterator> m_iterator;
};

class TMainInspectors : public QObject, public TInspectorManagement {
    Q_OBJECT
public:
    // Installs itself in the main window and connects its commands.
    explicit TMainInspectors(TMainForm* main);
    ~TMainInspectors() override;

    TInspectorManager& Manager() { return *m_manager; }
    // File > New Quick Inspector on the Explorer's control; null without one.
    TInspectorForm* NewQuickInspector();

    // TInspectorManagement.
    std::vector<TOrvaneMDIForm*> Inspectors() const override;
    void OpenFirstInspector() override;
    void SaveInspector(TOrvaneMDIForm* inspector) override;
    bool CloseInspector(TOrvaneMDIForm* inspector) override;

private:
    TInspectorForm* newInspector();

    TMainForm* m_main; // the owner: lives longer than this
    std::unique_ptr<TInspectorManager> m_manager;
};

} // namespace orvane
