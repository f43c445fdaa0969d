#include "WindowsFixture.h"

#include <algorithm>

#include "ddelink/ExeMod.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"
#include "model/OVServer.h"
#include "windows/Explorer.h"

namespace orvane::test {

QByteArray ThreeControlNetwork() {
    return "duxlane-network 1\n"
           "name \"Windows test\"\n"
           "control \"BOILER_1\"\n"
           "  item \"Service: Drum.Pressure\" monitor real min 0 max 20 value 9.8\n"
           "  item \"Service: Drum.Level\" monitor real min 0 max 100 value 50\n"
           "  item \"Service: Temp & Press.Limit\" tunable real min 0 max 100 value 80\n"
           "  item \"Configure: Burner.Gain\" configure real min 0 max 10 value 1\n"
           "  item \"Plant.Area.Name\" tunable string maxlen 8 value \"North\"\n"
           "  item \"Count\" tunable integer min 0 max 100 value 5\n"
           "end\n"
           "control \"PUMP_2\"\n"
           "  item \"Service: Speed.Gain\" tunable real min 0 max 100 value 2\n"
           "end\n"
           "control \"CONVEYOR\"\n"
           "  item \"Service: Belt.Speed\" tunable real min 0 max 5 value 1\n"
           "end\n";
}

FakeInspector* FakeInspectorManagement::Add(const QString& caption, int editState) {
    // Owned here, not by the main window, so each goes exactly once.
    inspectors.push_back(std::make_unique<FakeInspector>(
        nullptr, TOrvaneMDIForm::TActivatedEvent(m_main, &TMainForm::ChildActivated), caption,
        editState));
    return inspectors.back().get();
}

std::vector<TOrvaneMDIForm*> FakeInspectorManagement::Inspectors() const {
    std::vector<TOrvaneMDIForm*> list;
    for (const auto& inspector : inspectors) {
        list.push_back(inspector.get());
    }
    return list;
}

void FakeInspectorManagement::OpenFirstInspector() {
    ++firstOpened;
    Add(QStringLiteral("Inspector1"));
}

void FakeInspectorManagement::SaveInspector(TOrvaneMDIForm* inspector) {
    saved << inspector->windowTitle();
}

bool FakeInspectorManagement::CloseInspector(TOrvaneMDIForm* inspector) {
    if (refuseClose) {
        return false;
    }
    closed << inspector->windowTitle();
    auto it = std::find_if(inspectors.begin(), inspectors.end(),
                           [inspector](const auto& p) { return p.get() == inspector; });
    if (it != inspectors.end()) {
        inspectors.erase(it);
    }
    m_main->UpdateInspectorCommands(nullptr);
    return true;
}

void WindowsFixture::SetUp() {
    ModelFixture::SetUp();
    if (IsSkipped()) {
        return;
    }
    TKIDuxlaneControl::Timing timing;
    timing.confirmIntervalMs = 10;
    TKIDuxlaneControl::SetTimingForTesting(timing);
    TServer::SetTopicReaskTimingForTesting(kTopicReasks, 50);
}

void WindowsFixture::TearDown() {
    DestroyMainForm();
    ModelFixture::TearDown();
    TServer::SetTopicReaskTimingForTesting(kTopicReasks, kTopicReaskIntervalMs);
    TKIDuxlaneControl::SetTimingForTesting(TKIDuxlaneControl::Timing());
}

TMainForm* WindowsFixture::MakeMainForm() {
    m_main = std::make_unique<TMainForm>();
    m_main->SetEndProgram([this] { ++m_endCount; });
    return m_main.get();
}

void WindowsFixture::RememberServerProcess() {
    if (!m_main || !m_main->Server()) {
        return;
    }
    const std::int64_t pid = m_main->Server()->Server()->Launcher()->ProcessId();
    if (pid && std::find(m_pids.begin(), m_pids.end(), pid) == m_pids.end()) {
        m_pids.push_back(pid);
    }
}

::testing::AssertionResult WindowsFixture::ShowAndConnect() {
    if (!m_main) {
        MakeMainForm();
    }
    bool done = false;
    QObject::connect(m_main.get(), &TMainForm::connected, [&done] { done = true; });
    m_main->show();
    m_main->FirstActivation();
    RememberServerProcess();
    if (!WaitUntil([&] { return done || m_main->Ended(); }, 20000)) {
        return ::testing::AssertionFailure() << "connecting never finished";
    }
    RememberServerProcess();
    if (m_main->Ended()) {
        return ::testing::AssertionFailure() << "the program ended while connecting";
    }
    return ::testing::AssertionSuccess();
}

void WindowsFixture::DestroyMainForm() {
    if (!m_main) {
        return;
    }
    RememberServerProcess();
    if (m_main->Server()) {
        // The server program sees the topics' conversations end before it is
        // asked how many are left (which decides whether it closes).
        for (TKIDuxlaneControl* control : m_main->Server()->Controls()) {
            control->SetServer(nullptr);
        }
        PumpFor(150);
    }
    m_main.reset();
    m_inspectors.reset();
}

FakeInspectorManagement* WindowsFixture::UseInspectors() {
    if (!m_main) {
        MakeMainForm();
    }
    m_inspectors = std::make_unique<FakeInspectorManagement>(m_main.get());
    m_main->SetInspectorManagement(m_inspectors.get());
    return m_inspectors.get();
}

} // namespace orvane::test
