// The control commands reached from the main window's Control menu and the
// Explorer's pop-up menu, on the control of the selected tab.

#include <gtest/gtest.h>

#include <QTabBar>

#include "WindowsFixture.h"
#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"
#include "windows/Explorer.h"

namespace orvane::test {
namespace {

class ExplorerControlCommandsTest : public WindowsFixture {
protected:
    ::testing::AssertionResult Start() {
        SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControlNetwork()).toLocal8Bit());
        return ShowAndConnect();
    }
};

TEST_F(ExplorerControlCommandsTest, MenuAndPopUpActOnTheSelectedControl) {
    ASSERT_TRUE(Start());
    TExplorerForm* explorer = m_main->Explorer();
    ASSERT_NE(explorer, nullptr);
    explorer->SelectTab(1);
    TKIDuxlaneControl* control = explorer->SelectedControl();
    ASSERT_NE(control, nullptr);
    const QString name = control->Identifier();

    // The Control menu's Lock I/O asks about that control and locks it.
    m_dialogs
        .answerMessage(mrYes, QStringLiteral("This will cause an I\\O lock in control ") + name +
                                  QStringLiteral(". Are you sure you want to continue?"))
        .answerMessage(mrOk, name + QStringLiteral(" has it's I\\O locked."));
    m_main->action(TMainAction::LockIO)->trigger();
    EXPECT_TRUE(control->InConfigureMode());
    EXPECT_EQ(m_dialogs.messages().front().caption, QStringLiteral("Confirm - ") + name);
    EXPECT_TRUE(m_main->isEnabled()) << "the windows are enabled again";
    EXPECT_TRUE(explorer->isEnabled());

    // The pop-up's Reset, cancelled at its question, leaves everything as it
    // was.
    m_dialogs.answerMessage(mrCancel, QStringLiteral("Do you want to save values before "
                                                     "resetting ") +
                                          name + QStringLiteral("?"));
    explorer->CommandAction(TExplorerForm::cmdReset)->trigger();
    EXPECT_TRUE(m_main->isEnabled());
    EXPECT_TRUE(explorer->TabControl()->isEnabled());
    EXPECT_TRUE(control->InConfigureMode());
}

} // namespace
} // namespace orvane::test
