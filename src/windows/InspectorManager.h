#pragma once

// The main window's management of Inspector windows: numbering and placing
// new inspectors, opening inspector files into new inspectors, Quick
// Inspectors (one sheet per service and configure header of a control), the
// File and Sheet commands on the active inspector, the Window menu's list of
// inspectors and the Precision dialog.
//
// The main window keeps one manager; the manager knows the main window only
// as the owner of the inspectors (their Qt parent) and for their placing, so
// the main window's own files change little.
//
// Ownership: inspectors are owned by the main window (Qt children); the
// clipboard and the Explorer are borrowed. Thread: main thread only.

#include <functional>

#include <QDialog>
#include <QPointer>
#include <QString>

#include "inspector/InspectorOpen.h"
#include "windows/OrvaneMDIForm.h"

class QMenu;
class QSpinBox;

namespace orvane {

class TInspectorForm;
class TKIDevice;
class TVariableClipboard;

constexpr int kInspectorHeight = 360;
constexpr int kInspectorCascade = 20;
constexpr int kInspectorGapBelowMain = 3;
constexpr int kExplorerDefaultWidth = 216;

// The headers of one kind (service or configure) of a control, in tree
// order. While HasCurrent, the variable clipboard holds exactly the
// variables of the current header. HeaderName doubles the first "&".
class THeaderWalk {
public:
    virtual ~THeaderWalk() = default;
    virtual void Start(bool configure) = 0;
    virtual bool HasCurrent() const = 0;
    virtual QString HeaderName() const = 0;
    virtual void Next() = 0;
};

// Headers read from a control's topic item list (runs of "Service: " or
// "Configure: " names with the same block), as the Explorer's tree groups
// them.
class TItemListHeaderWalk : public THeaderWalk {
public:
    TItemListHeaderWalk(TKIDevice* device, TVariableClipboard* clipboard);

    void Start(bool configure) override;
    bool HasCurrent() const override { return m_current < m_headers.size(); }
    QString HeaderName() const override;
    void Next() override;

private:
    struct Header {
        QString name;
        QStringList items;
    };
    void fill();

    TKIDevice* m_device;
    TVariableClipboard* m_clipboard;
    std::vector<Header> m_headers;
    std::size_t m_current = 0;
};

// The Precision dialog: decimal places 0 to 15, chosen with the arrows only.
class TDecimalPlacesForm : public QDialog {
    Q_OBJECT
public:
    explicit TDecimalPlacesForm(QWidget* parent = nullptr);

    QSpinBox* SpinEdit() const { return m_spin; }

private:
    QSpinBox* m_spin;
};

class TInspectorManager : public QObject {
    Q_OBJECT
public:
    // mainWindow owns the inspectors; onActivated is its child-activated
    // handler; findControl finds a control of the connection by name.
    TInspectorManager(QWidget* mainWindow, TVariableClipboard* clipboard,
                      TOrvaneMDIForm::TActivatedEvent onActivated, TControlFinder findControl);
    ~TInspectorManager() override;

    void SetExplorer(QWidget* explorer) { m_explorer = explorer; }

    TInspectorForm* NewInspector();
    // The open dialog, then the file into a new inspector; the window goes
    // again when the file does not open. Returns the inspector or null.
    TInspectorForm* OpenInspector();
    TInspectorForm* OpenInspectorFile(const QString& path);
    TInspectorForm* NewQuickInspector(THeaderWalk& headers);

    // The File and Sheet commands on the active inspector (nothing without one).
    void CloseActive();
    void SaveActive();
    void SaveActiveAs();
    void AddSheet();
    void RemoveSheet();
    void RenameSheet();

    // Options > Precision: the dialog, then every inspector applies it.
    void Precision();
    // The stored decimal places applied to every inspector.
    void ApplyPrecisionToAll();

    // Rebuilds the Window menu: its first two items stay, one item per
    // inspector follows.
    void FillWindowMenu(QMenu* menu);

    // The main window's inspector command update passes the active
    // inspector here (null when one closes).
    void SetActiveInspector(TOrvaneMDIForm* form);
    TInspectorForm* ActiveInspector() const;
    // Every open inspector, in ownership (creation) order.
    QList<TInspectorForm*> Inspectors() const;
    int InspectorCounter() const { return m_counter; }

private:
    QWidget* m_mainWindow;
    TVariableClipboard* m_clipboard;
    TOrvaneMDIForm::TActivatedEvent m_onActivated;
    TControlFinder m_findControl;
    QPointer<QWidget> m_explorer;
    QPointer<TInspectorForm> m_active;
    int m_counter = 0;
};

} // namespace orvane
