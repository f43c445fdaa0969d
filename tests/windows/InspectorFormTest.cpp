// The Inspector window: sheets and tabs, dropping on tabs, the save prompt
// and the sheet name dialog.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "ScriptedDialogService.h"
#include "WindowsTestSupport.h"
#include "inspector/VarClipboard.h"
#include "windows/InspectorForm.h"
#include "windows/OVGrid.h"

namespace orvane {
namespace {

using test::descriptions;
using test::settle;

class InspectorWindow : public testing::Test {
protected:
    void SetUp() override {
        m_device = m_controls.add(QStringLiteral("PLC1"));
        m_form = new TInspectorForm(nullptr, {}, &m_clipboard);
        m_form->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    void TearDown() override { delete m_form; }

    QStringList tabs() const {
        QStringList names;
        for (int i = 0; i < m_form->TabControl()->count(); ++i) {
            names << m_form->TabControl()->tabText(i);
        }
        return names;
    }
    QStringList sheets() const {
        QStringList names;
        for (int i = 0; i < m_form->Document().SheetCount(); ++i) {
            names << m_form->Document().Sheet(i)->Name();
        }
        return names;
    }
    // Puts rows named prefix0.. into the current sheet.
    void addRows(int count, const QString& prefix) {
        m_clipboard.Clear();
        for (int i = 0; i < count; ++i) {
            m_clipboard.Add(QStringLiteral("Count"), prefix + QString::number(i), m_device);
        }
        m_form->PasteToSheet(-1, -1);
    }

    test::ScriptedDialogService m_dialogs;
    test::Controls m_controls;
    TKIDevice* m_device = nullptr;
    TVariableClipboard m_clipboard;
    TInspectorForm* m_form = nullptr;
};

TEST_F(InspectorWindow, StartsWithOneUnchangedSheet) {
    EXPECT_EQ(tabs(), QStringList({"Sheet1"}));
    EXPECT_EQ(sheets(), QStringList({"Sheet1"}));
    EXPECT_FALSE(m_form->Document().IsModified());
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Inspector"));
    EXPECT_EQ(m_form->EditState(), esPaste);
    addRows(1, QStringLiteral("a"));
    EXPECT_EQ(m_form->EditState(), esCut | esCopy | esPaste);
}

TEST_F(InspectorWindow, RemovingTheOnlySheetClearsItAndTheNextIsSheet2) {
    addRows(3, QStringLiteral("a"));
    m_form->RenameCurrentSheet(QStringLiteral("Pumps"));
    m_form->RemoveSheet();
    EXPECT_EQ(tabs(), QStringList({"Sheet1"}));
    EXPECT_EQ(sheets(), QStringList({"Sheet1"}));
    EXPECT_EQ(m_form->Document().CurrentSheet()->Count(), 0);
    EXPECT_EQ(m_form->Grid()->Model()->rowCount(), 0);
    m_form->AddSheet();
    EXPECT_EQ(tabs(), QStringList({"Sheet1", "Sheet2"}));
}

TEST_F(InspectorWindow, RemovingAShowsItsNeighbour) {
    addRows(1, QStringLiteral("a"));
    m_form->AddSheet();
    addRows(2, QStringLiteral("b"));
    m_form->AddSheet();
    m_form->SelectSheet(0);
    m_form->RemoveSheet();
    EXPECT_EQ(tabs(), QStringList({"Sheet2", "Sheet3"}));
    EXPECT_EQ(m_form->TabControl()->currentIndex(), 0);
    EXPECT_EQ(m_form->Document().CurrentSheet()->Name(), QStringLiteral("Sheet2"));
    EXPECT_EQ(m_form->Grid()->Sheet(), m_form->Document().CurrentSheet());
    EXPECT_EQ(m_form->Grid()->Model()->rowCount(), 2);

    m_form->SelectSheet(1);
    m_form->RemoveSheet();
    EXPECT_EQ(tabs(), QStringList({"Sheet2"}));
    EXPECT_EQ(m_form->Grid()->Model()->rowCount(), 2);
}

TEST_F(InspectorWindow, TabMoves) {
    m_form->AddSheet();
    m_form->AddSheet();
    m_form->SelectSheet(0);
    m_form->MoveCurrentTab(2);
    EXPECT_EQ(tabs(), QStringList({"Sheet2", "Sheet1", "Sheet3"}));
    EXPECT_EQ(sheets(), tabs());
    EXPECT_EQ(m_form->TabControl()->currentIndex(), 1);
    EXPECT_EQ(m_form->Document().CurrentSheet()->Name(), QStringLiteral("Sheet1"));

    // Back to the start: old 2 onto old 0.
    m_form->SelectSheet(2);
    m_form->MoveCurrentTab(0);
    EXPECT_EQ(tabs(), QStringList({"Sheet3", "Sheet2", "Sheet1"}));
    EXPECT_EQ(sheets(), tabs());
    EXPECT_EQ(m_form->TabControl()->currentIndex(), 0);
    EXPECT_EQ(m_form->Document().CurrentSheet()->Name(), QStringLiteral("Sheet3"));

    // Beside the tabs: to the end, never outside the list.
    m_form->MoveCurrentTab(-1);
    EXPECT_EQ(tabs(), QStringList({"Sheet2", "Sheet1", "Sheet3"}));
    EXPECT_EQ(sheets(), tabs());
    EXPECT_EQ(m_form->TabControl()->currentIndex(), 2);
}

TEST_F(InspectorWindow, RowsDroppedOnAnotherTabMoveThere) {
    addRows(4, QStringLiteral("a"));
    m_form->AddSheet();
    addRows(1, QStringLiteral("b"));
    m_form->SelectSheet(0);
    TOVGrid* grid = m_form->Grid();
    grid->StringGrid()->SelectRows(1, 2);
    grid->BeginRowDrag();
    m_form->DropOnTab(1, grid->StringGrid(), false);
    grid->EndRowDrag();
    EXPECT_EQ(descriptions(m_form->Document().Sheet(0)), QStringList({"a0", "a3"}));
    EXPECT_EQ(descriptions(m_form->Document().Sheet(1)), QStringList({"b0", "a1", "a2"}));
    EXPECT_EQ(grid->Model()->rowCount(), 2);
}

TEST_F(InspectorWindow, ClosingAsksOnlyAfterAChange) {
    m_form->show();
    settle();
    m_form->close();
    EXPECT_TRUE(m_dialogs.messages().empty());
    delete m_form;

    m_form = new TInspectorForm(nullptr, {}, &m_clipboard);
    m_form->setAttribute(Qt::WA_DeleteOnClose, false);
    m_form->show();
    settle();
    m_form->resize(m_form->width() + 40, m_form->height() + 10);
    settle();
    EXPECT_TRUE(m_form->Document().IsModified());
    m_dialogs.answerMessage(mrNo, QStringLiteral("Do you want to save the changes to Inspector"));
    m_form->close();
    EXPECT_EQ(m_dialogs.pending(), 0);
    EXPECT_TRUE(m_form->IsClosing());
}

TEST_F(InspectorWindow, ColumnsSetAsDefaultReachNewInspectors) {
    TInspectorInitialization settings;
    TInspectorInitialization::SetInstance(&settings);
    const int widths[6] = {60, 70, 75, 85, 130, 90};
    m_form->Grid()->SetColumnWidths(widths);
    QAction* setAsDefault = m_form->InspectorPopup()->actions().last();
    ASSERT_EQ(setAsDefault->text(), QStringLiteral("Set Columns As Default"));
    setAsDefault->trigger();

    TInspectorForm next(nullptr, {}, &m_clipboard);
    int shown[6];
    next.Grid()->GetColumnWidths(shown);
    for (int i = 0; i < 5; ++i) { // the last column takes what remains
        EXPECT_EQ(shown[i], widths[i]) << i;
    }
    TInspectorInitialization again; // read back from the registry
    int stored[6];
    again.GetColumnWidths(stored);
    EXPECT_EQ(stored[4], 130);
    TInspectorInitialization::SetInstance(nullptr);
}

TEST_F(InspectorWindow, TheSheetNameDialogWantsAName) {
    TSheetNameEditor editor;
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("Orvane"));
    EXPECT_FALSE(editor.OkButton()->isEnabled());
    QTest::keyClicks(editor.NameEditor(), QStringLiteral("A"));
    EXPECT_TRUE(editor.OkButton()->isEnabled());
    QTest::keyClick(editor.NameEditor(), Qt::Key_Backspace);
    EXPECT_FALSE(editor.OkButton()->isEnabled());
    QTest::keyClick(editor.NameEditor(), Qt::Key_Return);
    EXPECT_NE(editor.result(), QDialog::Accepted);
}

} // namespace
} // namespace orvane
