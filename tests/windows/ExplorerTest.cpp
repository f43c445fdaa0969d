// The Explorer against the simulated server: tabs per control, the tree of
// the selected control, copy through the window, the filter field, and a
// control without a tree.

#include "windows/Explorer.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTabBar>
#include <QTest>

#include "WindowsFixture.h"
#include "inspector/VarClipboard.h"
#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"
#include "windows/DuxlaneTreeView.h"

namespace orvane::test {
namespace {

class ExplorerTest : public WindowsFixture {
protected:
    TExplorerForm* Explorer() { return m_main->Explorer(); }

    QStringList ClipboardNames() const {
        QStringList names;
        for (const TVCEntry& entry : m_main->Clipboard()->Entries()) {
            names << entry.ItemName;
        }
        return names;
    }

    int Find(const QStringList& path) const {
        const TDuxlaneNodeTree& tree = m_main->Explorer()->Tree()->ShownTree();
        const std::vector<int>* level = &tree.roots;
        int found = -1;
        for (const QString& text : path) {
            found = -1;
            for (int id : *level) {
                if (tree.nodes[id].text == text) {
                    found = id;
                }
            }
            if (found < 0) {
                return -1;
            }
            level = &tree.nodes[found].children;
        }
        return found;
    }

    int TabOf(const QString& identifier) const {
        for (int i = 0; i < m_main->Explorer()->TabCount(); ++i) {
            if (m_main->Explorer()->TabControl()->tabText(i) == identifier) {
                return i;
            }
        }
        return -1;
    }

    ::testing::AssertionResult Start() {
        SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControlNetwork()).toLocal8Bit());
        return ShowAndConnect();
    }
};

TEST_F(ExplorerTest, OneTabPerControlAndTheTreeOfTheSelectedOne) {
    ASSERT_TRUE(Start());
    TExplorerForm* explorer = Explorer();
    EXPECT_EQ(explorer->windowTitle(), "Explorer");
    ASSERT_EQ(explorer->TabCount(), 3);
    TServer* server = m_main->Server();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(explorer->TabControl()->tabText(i), server->Control(i)->Identifier());
        EXPECT_TRUE(explorer->TabControl()->tabToolTip(i).isEmpty());
    }
    EXPECT_EQ(explorer->SelectedControl(), server->Control(0));
    EXPECT_EQ(explorer->Tree()->Control(), server->Control(0));

    const int boiler = TabOf("BOILER_1");
    ASSERT_GE(boiler, 0);
    explorer->SelectTab(boiler);
    EXPECT_EQ(explorer->Tree()->Control(), server->Control(boiler));
    // The control's list comes sorted; "<<Service>>" goes above the roots
    // made before it, the other roots follow in list order.
    EXPECT_EQ(explorer->Tree()->Dump(),
              QStringList({"<<Service>>", "  Drum", "    Level", "    Pressure", "  Temp & Press",
                           "    Limit", "<<Configure>>", "  Burner", "    Gain", "<<no category>>",
                           "  <<no block>>", "    Count", "Plant", "  Area", "    Name"}));
    EXPECT_TRUE(explorer->TreeMessage().isEmpty());

    TServiceHeaderIterator headers;
    explorer->StartHeaderIterator(&headers);
    ASSERT_TRUE(headers.HasCurrent());
    EXPECT_EQ(headers.HeaderName(), "Drum");
    headers.Next();
    EXPECT_EQ(headers.HeaderName(), "Temp && Press");
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: Temp & Press.Limit"}));
}

TEST_F(ExplorerTest, CopyWorksWhenTheTreeIsTheActiveControlOnly) {
    ASSERT_TRUE(Start());
    TExplorerForm* explorer = Explorer();
    explorer->SelectTab(TabOf("BOILER_1"));
    explorer->activateWindow();
    explorer->FilterEdit()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(explorer->EditState(), 0);
    explorer->Tree()->SelectNode(Find({"<<Service>>"}));
    explorer->Copy();
    EXPECT_TRUE(m_main->Clipboard()->IsEmpty());

    explorer->Tree()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(explorer->EditState(), esCopy);
    // Through the main window's Copy, with the Explorer the active child.
    m_main->ChildActivated(explorer);
    EXPECT_TRUE(m_main->action(TMainAction::Copy)->isEnabled());
    EXPECT_FALSE(m_main->action(TMainAction::Cut)->isEnabled());
    EXPECT_FALSE(m_main->action(TMainAction::Paste)->isEnabled());
    m_main->action(TMainAction::Copy)->trigger();
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: Drum.Level", "Service: Drum.Pressure",
                                             "Service: Temp & Press.Limit"}));
    for (const TVCEntry& entry : m_main->Clipboard()->Entries()) {
        EXPECT_EQ(entry.Device, explorer->SelectedControl());
    }

    explorer->Tree()->SelectNode(Find({"<<no category>>", "<<no block>>", "Count"}));
    QTest::keyClick(explorer->Tree(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(ClipboardNames(), QStringList({"Count"}));
}

TEST_F(ExplorerTest, TheFilterFieldNarrowsAndEscapeRestores) {
    ASSERT_TRUE(Start());
    TExplorerForm* explorer = Explorer();
    explorer->SelectTab(TabOf("BOILER_1"));
    const QStringList full = explorer->Tree()->Dump();
    QTest::keyClick(explorer, Qt::Key_F, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QTest::keyClicks(explorer->FilterEdit(), "drum.l");
    EXPECT_EQ(explorer->Tree()->Dump(), QStringList({"<<Service>>", "  Drum", "    Level"}));
    QTest::keyClick(explorer->FilterEdit(), Qt::Key_Escape);
    EXPECT_TRUE(explorer->FilterEdit()->text().isEmpty());
    EXPECT_EQ(explorer->Tree()->Dump(), full);
}

TEST_F(ExplorerTest, AControlThatNeverConnectedIsMarkedAndTheOthersWork) {
    SetServerSwitch("DUXLANE_DEAD_CONTROLS", "PUMP_2");
    m_dialogs.answerMessage(mrOk, "Control is not responding to request of connection: PUMP_2");
    ASSERT_TRUE(Start());
    TExplorerForm* explorer = Explorer();
    ASSERT_EQ(explorer->TabCount(), 3);
    const int pump = TabOf("PUMP_2 (not connected)");
    const int boiler = TabOf("BOILER_1");
    ASSERT_GE(pump, 0);
    ASSERT_GE(boiler, 0);
    EXPECT_FALSE(explorer->TabControl()->tabIcon(pump).isNull());
    EXPECT_TRUE(explorer->TabControl()->tabIcon(boiler).isNull());
    EXPECT_EQ(explorer->TabControl()->tabToolTip(pump),
              "Control is not responding to request of connection: PUMP_2");

    // A command with its handler is offered for connected controls only, in
    // the pop-up menu and the main window alike.
    explorer->SetCommandAvailable(TExplorerForm::cmdReset, true);
    explorer->SelectTab(pump);
    EXPECT_TRUE(explorer->Tree()->Dump().isEmpty());
    EXPECT_TRUE(explorer->TreeMessage().contains("PUMP_2 has not connected"));
    EXPECT_TRUE(
        explorer->TreeMessage().contains("Control is not responding to request of connection"));
    EXPECT_FALSE(explorer->CommandAction(TExplorerForm::cmdReset)->isEnabled());
    EXPECT_FALSE(m_main->action(TMainAction::Reset)->isEnabled());

    explorer->SelectTab(boiler);
    EXPECT_TRUE(explorer->TreeMessage().isEmpty());
    EXPECT_FALSE(explorer->Tree()->Dump().isEmpty());
    EXPECT_TRUE(explorer->CommandAction(TExplorerForm::cmdReset)->isEnabled());
    EXPECT_TRUE(m_main->action(TMainAction::Reset)->isEnabled());
    // A command whose handler is taken away goes off on every control.
    explorer->SetCommandAvailable(TExplorerForm::cmdLockIO, false);
    EXPECT_FALSE(explorer->CommandAction(TExplorerForm::cmdLockIO)->isEnabled());
    EXPECT_TRUE(explorer->CommandAction(TExplorerForm::cmdSaveValues)->isEnabled());
}

} // namespace
} // namespace orvane::test
