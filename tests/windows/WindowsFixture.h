#pragma once

// Fixture of the window tests that run against the real simulated server: the
// model tests' fixture (network file, registered server, switches, cleanup of
// started programs) with a main window or a bare control connection, and an
// inspector management with stand-in inspectors.

#include <memory>
#include <vector>

#include "ModelFixture.h"
#include "model/KIServer.h"
#include "windows/Main.h"

namespace orvane::test {

// A three-control network: "BOILER_1", "PUMP_2", "CONVEYOR".
QByteArray ThreeControlNetwork();

// An inspector as far as the main window needs one.
class FakeInspector : public TOrvaneMDIForm {
public:
    FakeInspector(QWidget* owner, TActivatedEvent onActivated, const QString& caption,
                  int editState = esCut | esCopy | esPaste)
        : TOrvaneMDIForm(owner, onActivated), m_editState(editState) {
        setWindowTitle(caption);
    }
    int EditState() override { return m_editState; }
    void Copy() override { ++copies; }
    int copies = 0;

private:
    int m_editState;
};

// Keeps stand-in inspectors and records what the main window asks of them.
class FakeInspectorManagement : public TInspectorManagement {
public:
    explicit FakeInspectorManagement(TMainForm* main) : m_main(main) {}

    FakeInspector* Add(const QString& caption, int editState = esCut | esCopy | esPaste);

    std::vector<TOrvaneMDIForm*> Inspectors() const override;
    void OpenFirstInspector() override;
    void SaveInspector(TOrvaneMDIForm* inspector) override;
    bool CloseInspector(TOrvaneMDIForm* inspector) override;

    std::vector<std::unique_ptr<FakeInspector>> inspectors;
    QStringList saved;
    QStringList closed;
    int firstOpened = 0;
    bool refuseClose = false;

private:
    TMainForm* m_main;
};

class WindowsFixture : public ModelFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // A main window whose ending is recorded instead of leaving the loop.
    TMainForm* MakeMainForm();
    // Shows the main window, which connects; waits until it has connected
    // (or ended).
    ::testing::AssertionResult ShowAndConnect();
    void RememberServerProcess();
    // Frees the main window and whatever it started.
    void DestroyMainForm();

    // Stand-in inspectors for the main window (made with it when missing).
    FakeInspectorManagement* UseInspectors();

    std::unique_ptr<FakeInspectorManagement> m_inspectors;
    std::unique_ptr<TMainForm> m_main;
    int m_endCount = 0;
};

} // namespace orvane::test
