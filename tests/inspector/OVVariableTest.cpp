// Sheets of watched variables on controls that are not connected: order,
// renumbering and notifications of paste, delete and clear, descriptions,
// advise state, and the names shown in the columns.

#include "inspector/OVVariable.h"

#include <gtest/gtest.h>

#include "InspectorTestSupport.h"
#include "SoftAssertGuard.h"
#include "inspector/VarClipboard.h"
#include "model/KIItem.h"

namespace orvane {
namespace {

using test::Controls;
using test::SheetEvents;

class Sheet : public testing::Test {
protected:
    void SetUp() override {
        m_pump = m_controls.add(QStringLiteral("PUMP1"));
        m_boiler = m_controls.add(QStringLiteral("BOILER"));
    }

    // Item names of the sheet's rows, checking that every Index is its row.
    QStringList names() const {
        QStringList out;
        for (int row = 0; row < m_sheet.Count(); ++row) {
            EXPECT_EQ(m_sheet.Get(row)->Index(), row);
            out << m_sheet.Get(row)->ItemName();
        }
        return out;
    }

    void fill(std::initializer_list<const char*> items) {
        for (const char* item : items) {
            m_sheet.Add(QString::fromUtf8(item), QString(), m_pump);
        }
    }

    Controls m_controls;
    TKIDevice* m_pump = nullptr;
    TKIDevice* m_boiler = nullptr;
    SheetEvents m_events;
    TOVVariableList m_sheet{QStringLiteral("Sheet1"), m_events.changed(), m_events.modifiedEvent()};
    TVariableClipboard m_clipboard;
};

TEST_F(Sheet, AddAppendsQuietly) {
    fill({"a", "b"});
    EXPECT_EQ(names(), (QStringList{"A", "B"}));
    EXPECT_TRUE(m_events.rows.empty());
    EXPECT_EQ(m_events.modified, 0);
    EXPECT_FALSE(m_sheet.Modified());
}

TEST_F(Sheet, PasteAtInsertsTheBlockInOrderAndRefreshesOnce) {
    fill({"a", "b", "c"});
    m_clipboard.Add(QStringLiteral("x"), QStringLiteral("first"), m_boiler);
    m_clipboard.Add(QStringLiteral("y"), QStringLiteral("second"), m_pump);

    m_sheet.PasteAt(1, m_clipboard);

    EXPECT_EQ(names(), (QStringList{"A", "X", "Y", "B", "C"}));
    EXPECT_EQ(m_sheet.Get(1)->Device(), m_boiler);
    EXPECT_EQ(m_sheet.Get(1)->Description(), QStringLiteral("first"));
    EXPECT_EQ(m_sheet.Get(2)->DeviceName(), QStringLiteral("PUMP1"));
    EXPECT_EQ(m_events.rows, std::vector<int>{-1});
    EXPECT_EQ(m_events.sheets, std::vector<TOVVariableList*>{&m_sheet});
    EXPECT_EQ(m_events.modified, 1);
    EXPECT_TRUE(m_sheet.Modified());
    // Pasting leaves the clipboard as it was.
    EXPECT_EQ(m_clipboard.Count(), 2);
}

TEST_F(Sheet, PasteOutsideTheRowsAppends) {
    m_clipboard.Add(QStringLiteral("x"), QString(), m_pump);
    m_sheet.PasteAt(0, m_clipboard); // empty sheet
    EXPECT_EQ(names(), (QStringList{"X"}));
    fill({"a"});
    m_sheet.PasteAt(m_sheet.Count(), m_clipboard);
    m_sheet.PasteAt(-1, m_clipboard);
    m_sheet.PasteAt(1000, m_clipboard);
    EXPECT_EQ(names(), (QStringList{"X", "A", "X", "X", "X"}));
    m_sheet.PasteAt(0, m_clipboard);
    EXPECT_EQ(names(), (QStringList{"X", "X", "A", "X", "X", "X"}));
}

TEST_F(Sheet, PastingAnEmptyClipboardStillMarksTheSheet) {
    fill({"a"});
    m_sheet.PasteAt(0, m_clipboard);
    EXPECT_EQ(names(), (QStringList{"A"}));
    EXPECT_EQ(m_events.rows, std::vector<int>{-1});
    EXPECT_TRUE(m_sheet.Modified());
}

TEST_F(Sheet, CopyingThreeRowsAndPastingTwiceGivesSixInOrder) {
    fill({"r1", "r2", "r3"});
    m_sheet.Get(1)->SetDescription(QStringLiteral("middle"));
    // What the grid's Copy does with rows 0 to 2.
    m_clipboard.Clear();
    for (int row = 0; row < 3; ++row) {
        const TOVVariable* v = m_sheet.Get(row);
        m_clipboard.Add(v->ItemName(), v->Description(), v->Device());
    }
    TOVVariableList other(QStringLiteral("Other"), {}, {});
    other.PasteAt(-1, m_clipboard);
    other.PasteAt(-1, m_clipboard);
    ASSERT_EQ(other.Count(), 6);
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(other.Get(row)->ItemName(), QStringLiteral("R%1").arg(row % 3 + 1));
        EXPECT_EQ(other.Get(row)->Index(), row);
    }
    EXPECT_EQ(other.Get(4)->Description(), QStringLiteral("middle"));
    // Independent variables: editing one leaves its twin alone.
    other.Get(1)->SetDescription(QStringLiteral("changed"));
    EXPECT_EQ(other.Get(4)->Description(), QStringLiteral("middle"));
}

TEST_F(Sheet, DeleteRenumbersAndRefreshesOnce) {
    fill({"a", "b", "c", "d"});
    m_sheet.Delete(1);
    EXPECT_EQ(names(), (QStringList{"A", "C", "D"}));
    EXPECT_EQ(m_events.rows, std::vector<int>{-1});
    EXPECT_EQ(m_events.modified, 1);
    EXPECT_TRUE(m_sheet.Modified());

    m_events.reset();
    {
        // Rows outside the sheet are a caller's mistake: reported and ignored.
        orvane::test::ExpectSoftAsserts brokenRows;
        m_sheet.Delete(3);
        m_sheet.Delete(-1);
        EXPECT_EQ(brokenRows.count(), 2);
    }
    EXPECT_EQ(names(), (QStringList{"A", "C", "D"}));
    EXPECT_TRUE(m_events.rows.empty());
}

TEST_F(Sheet, ClearNotifiesButKeepsItsOwnFlag) {
    fill({"a", "b"});
    m_sheet.Clear();
    EXPECT_EQ(m_sheet.Count(), 0);
    EXPECT_EQ(m_events.rows, std::vector<int>{-1});
    EXPECT_EQ(m_events.modified, 1);
    EXPECT_FALSE(m_sheet.Modified());
}

TEST_F(Sheet, OnlyAChangedDescriptionMarksTheSheet) {
    fill({"a"});
    m_sheet.Get(0)->SetDescription(QString());
    EXPECT_FALSE(m_sheet.Modified());
    m_sheet.Get(0)->SetDescription(QStringLiteral("Idle"));
    EXPECT_TRUE(m_sheet.Modified());
    EXPECT_EQ(m_events.modified, 0); // the flag only, no structural notice
    m_sheet.SetModified(false);
    m_sheet.Get(0)->SetDescription(QStringLiteral("Idle"));
    EXPECT_FALSE(m_sheet.Modified());
    m_sheet.Get(0)->SetDescription(QStringLiteral("idle"));
    EXPECT_TRUE(m_sheet.Modified());
}

TEST_F(Sheet, VariablesAreAdvisedExactlyWhileTheSheetIs) {
    fill({"a", "b"});
    TKIItem* a = m_sheet.Get(0)->Item();
    EXPECT_FALSE(m_sheet.Advised());
    EXPECT_EQ(a->SubscriberCount(), 0);

    m_sheet.AdviseAll();
    EXPECT_TRUE(m_sheet.Advised());
    EXPECT_EQ(a->SubscriberCount(), 1);
    EXPECT_TRUE(m_sheet.Get(1)->IsAdvised());

    // Add does not advise; a paste into a shown sheet does.
    m_sheet.Add(QStringLiteral("c"), QString(), m_pump);
    EXPECT_FALSE(m_sheet.Get(2)->IsAdvised());
    m_clipboard.Add(QStringLiteral("d"), QString(), m_pump);
    m_sheet.PasteAt(-1, m_clipboard);
    EXPECT_TRUE(m_sheet.Get(3)->IsAdvised());

    // A deleted variable leaves its item.
    m_sheet.Delete(0);
    EXPECT_EQ(a->SubscriberCount(), 0);

    m_sheet.UnadviseAll();
    EXPECT_FALSE(m_sheet.Advised());
    for (int row = 0; row < m_sheet.Count(); ++row) {
        EXPECT_FALSE(m_sheet.Get(row)->IsAdvised());
        EXPECT_EQ(m_sheet.Get(row)->Item()->SubscriberCount(), 0);
    }
}

TEST_F(Sheet, TwoRowsOfOneItemShareItAndEachHoldsAClaim) {
    fill({"gain", "GAIN"});
    EXPECT_EQ(m_sheet.Get(0)->Item(), m_sheet.Get(1)->Item());
    EXPECT_EQ(m_pump->ItemRefCount(QStringLiteral("GAIN")), 2);
    m_sheet.AdviseAll();
    EXPECT_EQ(m_sheet.Get(0)->Item()->SubscriberCount(), 2);
    m_sheet.Delete(0);
    EXPECT_EQ(m_sheet.Get(0)->Item()->SubscriberCount(), 1);
    EXPECT_TRUE(m_sheet.Get(0)->IsAdvised());
}

TEST_F(Sheet, ShowsUpperCaseNamesSplitIntoColumns) {
    m_sheet.Add(QStringLiteral("Service: Speed.Gain"), QString(), m_pump);
    m_sheet.Add(QStringLiteral("Tables.Curve 1.X.3"), QString(), m_pump);
    m_sheet.Add(QStringLiteral("Gain"), QString(), m_pump);

    const TOVVariable* service = m_sheet.Get(0);
    EXPECT_EQ(service->ItemName(), QStringLiteral("SERVICE: SPEED.GAIN"));
    EXPECT_EQ(service->Category(), QString());
    EXPECT_EQ(service->Block(), QStringLiteral("SERVICE: SPEED"));
    EXPECT_EQ(service->Field(), QStringLiteral("GAIN"));

    const TOVVariable* table = m_sheet.Get(1);
    EXPECT_EQ(table->Category(), QStringLiteral("TABLES.CURVE 1"));
    EXPECT_EQ(table->Block(), QStringLiteral("X"));
    EXPECT_EQ(table->Field(), QStringLiteral("3"));

    EXPECT_EQ(m_sheet.Get(2)->Block(), QString());
    EXPECT_EQ(m_sheet.Get(2)->Field(), QStringLiteral("GAIN"));
}

TEST_F(Sheet, ItemWithoutValueOrAttributesShowsNothing) {
    fill({"a"});
    m_sheet.AdviseAll(); // no conversation: the link is only pending
    const TOVVariable* v = m_sheet.Get(0);
    EXPECT_EQ(v->Value(), QVariant(QString()));
    EXPECT_FALSE(v->AttributesKnown());
    EXPECT_EQ(v->ItemClassType(), vctUnassigned);
    EXPECT_EQ(v->DataType(), vdtUnassigned);
    EXPECT_FALSE(v->MinValue().isValid());
}

TEST_F(Sheet, RowAccessReachesEveryRow) {
    for (int i = 0; i < 5000; ++i) {
        m_sheet.Add(QStringLiteral("V%1").arg(i % 50), QString(), m_pump);
    }
    EXPECT_EQ(m_sheet.Get(4999)->Index(), 4999);
    EXPECT_EQ(m_sheet.Get(4999)->ItemName(), QStringLiteral("V49"));
    EXPECT_EQ(m_sheet.Get(0)->ItemName(), QStringLiteral("V0"));
    EXPECT_EQ(m_sheet.Get(5000), nullptr);
    EXPECT_EQ(m_sheet.Get(-1), nullptr);
}

} // namespace
} // namespace orvane
