// The main window with the real inspector management: the first inspector at
// connection, File and Sheet commands on the active inspector, Quick
// Inspector from the Explorer's headers, and closing with the main window.

#include "windows/MainInspectors.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QTabBar>

#include "WindowsFixture.h"
#include "inspector/VarClipboard.h"
#include "windows/InspectorForm.h"
#include "windows/OVGrid.h"

namespace orvane {
namespace {

class MainInspectorsTest : public test::WindowsFixture {
protected:
    void SetUp() override {
        test::WindowsFixture::SetUp();
        TInspectorInitialization::SetInstance(&m_settings);
    }
    void TearDown() override {
        test::WindowsFixture::TearDown();
        TInspectorInitialization::SetInstance(nullptr);
    }
    TMainInspectors* Connect() {
        SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(test::ThreeControlNetwork()).toLocal8Bit());
        MakeMainForm();
        auto* inspectors = new TMainInspectors(m_main.get());
        EXPECT_TRUE(ShowAndConnect());
        return inspectors;
    }
    static QStringList tabs(TInspectorForm* form) {
        QStringList names;
        for (int i = 0; i < form->TabControl()->count(); ++i) {
            names << form->TabControl()->tabText(i);
        }
        return names;
    }

    TInspectorInitialization m_settings;
};

TEST_F(MainInspectorsTest, CommandsReachTheActiveInspector) {
    TMainInspectors* inspectors = Connect();
    ASSERT_EQ(inspectors->Inspectors().size(), 1u);
    auto* first = qobject_cast<TInspectorForm*>(inspectors->Inspectors().front());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Inspector1"));
    EXPECT_EQ(m_main->ActiveInspector(), first);

    m_main->action(TMainAction::AddSheet)->trigger();
    EXPECT_EQ(tabs(first), QStringList({"Sheet1", "Sheet2"}));
    m_main->action(TMainAction::RemoveSheet)->trigger();
    EXPECT_EQ(tabs(first), QStringList({"Sheet1"}));

    m_main->action(TMainAction::NewInspector)->trigger();
    ASSERT_EQ(inspectors->Inspectors().size(), 2u);
    auto* second = qobject_cast<TInspectorForm*>(inspectors->Inspectors().back());
    EXPECT_EQ(m_main->ActiveInspector(), second);
    m_main->action(TMainAction::AddSheet)->trigger();
    EXPECT_EQ(tabs(second), QStringList({"Sheet1", "Sheet2"}));
    EXPECT_EQ(tabs(first), QStringList({"Sheet1"}));

    // Close takes the active one; unchanged inspectors ask nothing.
    second->SetModified(false);
    second->Document().CurrentSheet()->SetModified(false);
    m_main->action(TMainAction::Close)->trigger();
    EXPECT_EQ(inspectors->Inspectors().size(), 1u);
}

TEST_F(MainInspectorsTest, QuickInspectorTakesTheExplorersHeaders) {
    TMainInspectors* inspectors = Connect();
    m_main->action(TMainAction::NewQuickInspector)->trigger();
    ASSERT_EQ(inspectors->Inspectors().size(), 2u);
    auto* quick = qobject_cast<TInspectorForm*>(inspectors->Inspectors().back());
    // The header with an "&" shows it on its tab (doubled in the name).
    EXPECT_EQ(tabs(quick),
              QStringList({"Service: Drum", "Service: Temp && Press", "Configure: Burner"}));
    TInspectorDoc& doc = quick->Document();
    ASSERT_EQ(doc.SheetCount(), 3);
    EXPECT_EQ(doc.Sheet(0)->Count(), 2);
    EXPECT_EQ(doc.Sheet(1)->Count(), 1);
    EXPECT_EQ(doc.Sheet(2)->Get(0)->ItemName(), QStringLiteral("CONFIGURE: BURNER.GAIN"));
    EXPECT_EQ(doc.CurrentSheet(), doc.Sheet(0));
    EXPECT_EQ(quick->Grid()->Model()->rowCount(), 2);
}

} // namespace
} // namespace orvane
