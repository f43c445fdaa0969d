// The inspector grid: value texts, batched value repaints, editors on the
// selected row against the simulated server, row commands and dragging rows.

#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include "ScriptedDialogService.h"
#include "WindowsTestSupport.h"
#include "inspector/VarClipboard.h"
#include "platform/StatusBar.h"
#include "windows/OVGrid.h"

namespace orvane {
namespace {

using test::descriptions;
using test::settle;
using test::waitFor;

TEST(OVGridText, ValueTextsByDataType) {
    struct Case {
        ItemDataType type;
        const char* value;
        int places;
        const char* shown;
    } cases[] = {
        {vdtBoolean, "0", 2, "False"},
        {vdtBoolean, "1", 2, "True"},
        {vdtBoolean, "", 2, "True"},
        {vdtReal, "1.5", 3, "1.500"},
        {vdtReal, "", 3, ""},
        {vdtReal, "2", 0, "2"},
        {vdtReal, "-0.125", 2, "-0.13"},
        {vdtReal, "abc", 2, "abc"},
        {vdtInteger, "42", 5, "42"},
        {vdtString, "0", 2, "0"},
        {vdtTime, "06:00:00.00", 2, "06:00:00.00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ValueText(c.type, QString::fromLatin1(c.value), c.places),
                  QString::fromLatin1(c.shown))
            << c.value << " type " << c.type << " places " << c.places;
    }
}

TEST(OVGridText, RealsFollowTheDecimalSeparatorWithoutGrouping) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ValueText(vdtReal, QStringLiteral("1.5"), 3), QStringLiteral("1,500"));
    EXPECT_EQ(ValueText(vdtReal, QStringLiteral("1234567.25"), 1), QStringLiteral("1234567,3"));
    EXPECT_EQ(ValueText(vdtReal, QStringLiteral("2,5"), 2), QStringLiteral("2,50"));
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(ValueText(vdtReal, QStringLiteral("1234567.25"), 1), QStringLiteral("1234567.3"));
    QLocale::setDefault(saved);
}

// A grid over a sheet of offline variables r0..r(n-1).
class OfflineGrid : public testing::Test {
protected:
    void SetUp() override {
        m_device = m_controls.add(QStringLiteral("PLC1"));
        m_sheet = std::make_unique<TOVVariableList>(
            QStringLiteral("S"), TOVVariableChangedEvent(&m_grid, &TOVGrid::RowChanged),
            TOVModifiedEvent());
        m_grid.SetClipboard(&m_clipboard);
        m_grid.resize(700, 400);
    }
    void TearDown() override {
        m_grid.ForgetSheet();
        m_sheet.reset();
    }
    void fill(TOVVariableList& sheet, int rows, const QString& prefix = QStringLiteral("r")) {
        for (int i = 0; i < rows; ++i) {
            sheet.Add(QStringLiteral("Count"), prefix + QString::number(i), m_device);
        }
    }

    test::ScriptedDialogService m_dialogs;
    test::Controls m_controls;
    TKIDevice* m_device = nullptr;
    TVariableClipboard m_clipboard;
    TOVGrid m_grid;
    std::unique_ptr<TOVVariableList> m_sheet;
};

TEST_F(OfflineGrid, DecimalPlacesAcceptOnlyZeroToSixteen) {
    m_grid.SetDecimalPlaces(3);
    m_grid.SetDecimalPlaces(17);
    EXPECT_EQ(m_grid.DecimalPlaces(), 3);
    m_grid.SetDecimalPlaces(-1);
    EXPECT_EQ(m_grid.DecimalPlaces(), 3);
    m_grid.SetDecimalPlaces(16);
    EXPECT_EQ(m_grid.DecimalPlaces(), 16);
}

TEST_F(OfflineGrid, ValueChangesRepaintOnlyTheirCellsInOneBatch) {
    fill(*m_sheet, 40);
    m_grid.SetSheet(m_sheet.get());
    m_grid.show();
    settle();
    ASSERT_LT(m_grid.StringGrid()->rowAt(m_grid.StringGrid()->viewport()->height() - 1), 30);
    TOVGridModel* model = m_grid.Model();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);
    for (int i = 0; i < 50; ++i) {
        m_grid.RowChanged(m_sheet.get(), 3);
        m_grid.RowChanged(m_sheet.get(), 7);
        m_grid.RowChanged(m_sheet.get(), 30); // below the window: drawn when shown
    }
    EXPECT_EQ(changed.count(), 0); // nothing before the batch goes out
    ASSERT_TRUE(waitFor([&] { return changed.count() >= 2; }, 2000));
    settle(40);
    ASSERT_EQ(changed.count(), 2);
    for (const QList<QVariant>& signal : changed) {
        const auto from = signal[0].value<QModelIndex>();
        const auto to = signal[1].value<QModelIndex>();
        EXPECT_EQ(from, to);
        EXPECT_EQ(from.column(), gcValue);
        EXPECT_TRUE(from.row() == 3 || from.row() == 7);
    }
    EXPECT_EQ(reset.count(), 0);

    // A row of another sheet of the document is not this grid's business.
    TOVVariableList other(QStringLiteral("O"), {}, {});
    fill(other, 2);
    m_grid.RowChanged(&other, -1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(model->rowCount(), 40);
}

TEST_F(OfflineGrid, DraggingRowsWithinTheSheet) {
    fill(*m_sheet, 10);
    m_grid.SetSheet(m_sheet.get());
    TOVStringGrid* view = m_grid.StringGrid();

    // Rows 2 to 4 onto row 7: they start at row 4.
    view->SelectRows(2, 4);
    m_grid.BeginRowDrag();
    m_grid.DropAt(7, view);
    m_grid.EndRowDrag();
    EXPECT_EQ(descriptions(m_sheet.get()),
              QStringList({"r0", "r1", "r5", "r6", "r2", "r3", "r4", "r7", "r8", "r9"}));
    EXPECT_EQ(view->SelectionTop(), 6);
    EXPECT_EQ(view->SelectionBottom(), 6);
    EXPECT_TRUE(m_clipboard.OnFill().isEmpty());

    // Rows dropped on one of themselves stay where they were.
    view->SelectRows(4, 6);
    m_grid.BeginRowDrag();
    m_grid.DropAt(5, view);
    m_grid.EndRowDrag();
    EXPECT_EQ(descriptions(m_sheet.get()),
              QStringList({"r0", "r1", "r5", "r6", "r2", "r3", "r4", "r7", "r8", "r9"}));

    // Upwards, and below the last row.
    view->SelectRows(8, 9);
    m_grid.BeginRowDrag();
    m_grid.DropAt(0, view);
    m_grid.EndRowDrag();
    EXPECT_EQ(descriptions(m_sheet.get()).mid(0, 3), QStringList({"r8", "r9", "r0"}));
    EXPECT_EQ(view->SelectionTop(), 0);
    view->SelectRows(0, 0);
    m_grid.BeginRowDrag();
    m_grid.DropAt(-1, view);
    m_grid.EndRowDrag();
    EXPECT_EQ(descriptions(m_sheet.get()).last(), QStringLiteral("r8"));
    EXPECT_EQ(view->SelectionTop(), 9);
    EXPECT_EQ(m_sheet->Count(), 10);
}

TEST_F(OfflineGrid, RowsDroppedOnAnotherGridMove) {
    fill(*m_sheet, 6);
    m_grid.SetSheet(m_sheet.get());
    TOVGrid target;
    target.SetClipboard(&m_clipboard);
    TOVVariableList targetSheet(QStringLiteral("T"),
                                TOVVariableChangedEvent(&target, &TOVGrid::RowChanged), {});
    fill(targetSheet, 2, QStringLiteral("t"));
    target.SetSheet(&targetSheet);

    m_grid.StringGrid()->SelectRows(1, 3);
    m_grid.BeginRowDrag();
    target.DropAt(-1, m_grid.StringGrid());
    m_grid.EndRowDrag();
    EXPECT_EQ(descriptions(&targetSheet), QStringList({"t0", "t1", "r1", "r2", "r3"}));
    EXPECT_EQ(descriptions(m_sheet.get()), QStringList({"r0", "r4", "r5"}));
    EXPECT_EQ(m_grid.Model()->rowCount(), 3);
    EXPECT_EQ(target.Model()->rowCount(), 5);
    target.ForgetSheet();
}

TEST_F(OfflineGrid, RowCommandsAndKeys) {
    fill(*m_sheet, 5);
    m_grid.SetSheet(m_sheet.get());
    TOVStringGrid* view = m_grid.StringGrid();
    int states = 0;
    struct Counter {
        int* n;
        void Hit() { ++*n; }
    } counter{&states};
    m_grid.SetOnCommandState(TOVGrid::TNotifyEvent(&counter, &Counter::Hit));

    view->SelectRows(1, 2);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(m_clipboard.Count(), 2);
    EXPECT_EQ(m_sheet->Count(), 5);
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(descriptions(m_sheet.get()), QStringList({"r0", "r1", "r2", "r3", "r4", "r1", "r2"}));

    // A multi-row Delete removes every selected row and selects the next.
    view->SelectRows(0, 2);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(descriptions(m_sheet.get()), QStringList({"r3", "r4", "r1", "r2"}));
    EXPECT_EQ(view->SelectionTop(), 0);
    EXPECT_EQ(view->SelectionBottom(), 0);

    view->SelectRows(2, 3);
    QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(descriptions(m_sheet.get()), QStringList({"r3", "r4"}));
    EXPECT_EQ(m_clipboard.Count(), 2);
    EXPECT_GE(states, 4);

    // Paste of an empty clipboard changes no rows but marks the sheet.
    m_clipboard.Clear();
    m_sheet->SetModified(false);
    m_grid.Paste();
    EXPECT_EQ(m_sheet->Count(), 2);
    EXPECT_TRUE(m_sheet->Modified());
}

TEST_F(OfflineGrid, OnlyACellTooNarrowForItsTextShowsItAsATip) {
    const QString longText = QStringLiteral("drum level transmitter, calibrated 2026, ") +
                             QStringLiteral("range -300 to +300 mm, compensated for pressure");
    m_sheet->Add(QStringLiteral("Count"), longText, m_device);
    m_sheet->Add(QStringLiteral("Count"), QStringLiteral("short"), m_device);
    m_grid.SetSheet(m_sheet.get());
    m_grid.show();
    settle();
    TOVStringGrid* view = m_grid.StringGrid();
    auto tipOver = [view](int row) {
        const QRect cell = view->visualRect(view->model()->index(row, gcDescription));
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        view->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(view->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    ASSERT_LT(view->columnWidth(gcDescription), view->fontMetrics().horizontalAdvance(longText));
    EXPECT_EQ(tipOver(1), QString());
    EXPECT_EQ(tipOver(0), longText);
}

TEST_F(OfflineGrid, ShowingAnotherSheetKeepsEachSheetsView) {
    fill(*m_sheet, 8);
    TOVVariableList second(QStringLiteral("2"),
                           TOVVariableChangedEvent(&m_grid, &TOVGrid::RowChanged), {});
    fill(second, 3);
    m_grid.SetSheet(m_sheet.get());
    m_grid.StringGrid()->SelectRows(4, 6);
    m_grid.SetSheet(&second);
    EXPECT_EQ(m_sheet->SelectionTop(), 4);
    EXPECT_EQ(m_sheet->SelectionBottom(), 6);
    EXPECT_EQ(m_grid.Model()->rowCount(), 3);
    m_grid.SetSheet(m_sheet.get());
    EXPECT_EQ(m_grid.StringGrid()->SelectionTop(), 4);
    EXPECT_EQ(m_grid.StringGrid()->SelectionBottom(), 6);
    m_grid.ForgetSheet();
}

// The grid over live variables of the simulated server.
class LiveGrid : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_plant.start()) << m_plant.error.toStdString();
        m_window = std::make_unique<QWidget>();
        m_window->resize(800, 400);
        m_grid = new TOVGrid(m_window.get());
        m_grid->setGeometry(0, 0, 800, 360);
        m_status = new TStatusBar(m_window.get());
        m_status->AddPanel(200);
        m_grid->SetStatusBar(m_status);
        m_grid->SetClipboard(&m_clipboard);
        m_sheet = std::make_unique<TOVVariableList>(
            QStringLiteral("S"), TOVVariableChangedEvent(m_grid, &TOVGrid::RowChanged),
            TOVModifiedEvent());
        const char* names[] = {"Service: Loop.Set Point",
                               "Service: Loop.Actual",
                               "Plant.Area.Name",
                               "Running",
                               "Count",
                               "Plant.Area.Start"};
        for (const char* name : names) {
            m_sheet->Add(QString::fromLatin1(name), QString::fromLatin1(name), m_plant.plc1);
        }
        m_sheet->AdviseAll();
        m_grid->SetSheet(m_sheet.get());
        m_window->show();
        ASSERT_TRUE(waitFor([this] { return m_sheet->Get(4)->Value().toString() == "5"; }));
    }
    void TearDown() override {
        if (m_grid) {
            m_grid->ForgetSheet();
        }
        m_window.reset();
        m_sheet.reset();
        m_plant.stop();
    }
    void select(int top, int bottom) {
        m_grid->StringGrid()->SelectRows(top, bottom);
        settle();
    }
    QString status() const { return m_status->PanelText(0); }

    test::ScriptedDialogService m_dialogs;
    test::Plant m_plant;
    TVariableClipboard m_clipboard;
    std::unique_ptr<QWidget> m_window;
    TOVGrid* m_grid = nullptr;
    TStatusBar* m_status = nullptr;
    std::unique_ptr<TOVVariableList> m_sheet;
};

TEST_F(LiveGrid, EditorsOnlyOnASingleSelectedRowAndNeverForMonitors) {
    select(0, 0); // tunable real
    ASSERT_NE(m_grid->ActiveValueEditor(), nullptr);
    EXPECT_EQ(m_grid->ActiveValueEditor(), m_grid->ValueEditor(TGridEditorKind::Spin));
    EXPECT_TRUE(m_grid->ActiveValueEditor()->Widget()->isVisible());
    EXPECT_TRUE(m_grid->DescriptionEditor()->isVisible());
    EXPECT_EQ(m_grid->DescriptionEditor()->text(), QStringLiteral("Service: Loop.Set Point"));
    EXPECT_EQ(status(), QStringLiteral("Min = 0.00 : Max = 100.00"));

    select(1, 1); // monitor real
    EXPECT_EQ(m_grid->ActiveValueEditor(), nullptr);
    EXPECT_TRUE(m_grid->DescriptionEditor()->isVisible());
    EXPECT_EQ(status(), QString());
    EXPECT_FALSE(m_grid->Model()
                     ->data(m_grid->Model()->index(1, gcValue), Qt::DisplayRole)
                     .toString()
                     .isEmpty());

    select(2, 2); // tunable string
    EXPECT_EQ(m_grid->ActiveValueEditor(), m_grid->ValueEditor(TGridEditorKind::String));

    select(3, 3); // monitor boolean "1"
    EXPECT_EQ(m_grid->ActiveValueEditor(), nullptr);
    EXPECT_EQ(m_grid->Model()->data(m_grid->Model()->index(3, gcValue), Qt::DisplayRole),
              QStringLiteral("True"));

    select(5, 5); // time: no editor, limits shown
    EXPECT_EQ(m_grid->ActiveValueEditor(), nullptr);
    EXPECT_TRUE(status().startsWith(QStringLiteral("Min = ")));

    select(0, 2); // a range: no editors at all
    EXPECT_EQ(m_grid->ActiveValueEditor(), nullptr);
    EXPECT_FALSE(m_grid->DescriptionEditor()->isVisible());
    for (int kind = 0; kind < 4; ++kind) {
        EXPECT_FALSE(m_grid->ValueEditor(static_cast<TGridEditorKind>(kind))->IsActive());
    }
}

TEST_F(LiveGrid, UpOnTheFirstRowAndDownOnTheLastKeepTheSelection) {
    select(0, 0);
    m_grid->DescriptionEditor()->setFocus();
    QTest::keyClick(m_grid->DescriptionEditor(), Qt::Key_Up);
    settle();
    EXPECT_EQ(m_grid->StringGrid()->SelectionTop(), 0);
    EXPECT_NE(m_grid->ActiveValueEditor(), nullptr);
    EXPECT_TRUE(m_grid->DescriptionEditor()->isVisible());

    QTest::keyClick(m_grid->DescriptionEditor(), Qt::Key_Down);
    settle();
    EXPECT_EQ(m_grid->StringGrid()->SelectionTop(), 1);

    select(5, 5);
    QTest::keyClick(m_grid->DescriptionEditor(), Qt::Key_Return);
    settle();
    EXPECT_EQ(m_grid->StringGrid()->SelectionTop(), 5);
    EXPECT_EQ(m_grid->StringGrid()->SelectionBottom(), 5);
    EXPECT_TRUE(m_grid->DescriptionEditor()->isVisible());
}

TEST_F(LiveGrid, DescriptionEditsReachTheVariable) {
    select(4, 4);
    m_sheet->SetModified(false);
    m_grid->DescriptionEditor()->setFocus();
    m_grid->DescriptionEditor()->selectAll();
    QTest::keyClicks(m_grid->DescriptionEditor(), QStringLiteral("pumps"));
    EXPECT_EQ(m_sheet->Get(4)->Description(), QStringLiteral("pumps"));
    EXPECT_TRUE(m_sheet->Modified());
}

TEST_F(LiveGrid, ArrivingValuesDoNotReplaceWhatIsBeingTyped) {
    select(4, 4); // Count, tunable integer 5
    TGridValueEditor* editor = m_grid->ActiveValueEditor();
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(waitFor([editor] { return editor->Text() == QStringLiteral("5"); }));
    QWidget* widget = qobject_cast<QLineEdit*>(editor->Widget());
    if (!widget) {
        widget = editor->Widget()->findChild<QLineEdit*>();
    }
    ASSERT_NE(widget, nullptr);
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key_End);
    QTest::keyClicks(widget, QStringLiteral("9"));
    EXPECT_EQ(editor->Text(), QStringLiteral("59"));

    m_sheet->Get(4)->Item()->SetValue(QStringLiteral("7"));
    ASSERT_TRUE(waitFor([this] { return m_sheet->Get(4)->Value().toString() == "7"; }));
    settle(60);
    EXPECT_EQ(editor->Text(), QStringLiteral("59"));
    EXPECT_EQ(m_grid->ActiveValueEditor(), editor);
    EXPECT_EQ(m_grid->Model()->data(m_grid->Model()->index(4, gcValue), Qt::DisplayRole),
              QStringLiteral("7"));
}

} // namespace
} // namespace orvane
