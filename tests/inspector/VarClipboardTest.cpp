// The variable clipboard: order, change and fill notices, and entries of
// controls that go away.

#include "inspector/VarClipboard.h"

#include <gtest/gtest.h>

#include "InspectorTestSupport.h"
#include "inspector/OVVariable.h"

namespace orvane {
namespace {

struct ClipboardEvents {
    void Changed(TVariableClipboard* sender) {
        ++changes;
        last = sender;
    }
    void Filled(TVariableClipboard* clipboard) {
        ++fills;
        clipboard->Clear();
        clipboard->Add(QStringLiteral("DRAGGED"), QString(), device);
    }
    int changes = 0;
    int fills = 0;
    TVariableClipboard* last = nullptr;
    TKIDevice* device = nullptr;
};

QStringList entries(const TVariableClipboard& clipboard) {
    QStringList out;
    for (TVCIterator it = clipboard.Iterator(); it.Valid(); it.Next()) {
        out << it.Device()->Identifier() + QLatin1Char('|') + it.ItemName() + QLatin1Char('|') +
                   it.Description();
    }
    return out;
}

TEST(VariableClipboard, KeepsEntriesInOrderAndTellsEveryChange) {
    test::Controls controls;
    TKIDevice* pump = controls.add(QStringLiteral("PUMP1"));
    TVariableClipboard clipboard;
    ClipboardEvents events;
    clipboard.SetOnChange(TVariableClipboardEvent(&events, &ClipboardEvents::Changed));
    EXPECT_TRUE(clipboard.IsEmpty());
    EXPECT_FALSE(clipboard.Iterator().Valid());

    clipboard.Add(QStringLiteral("Service: Speed.Gain"), QStringLiteral("idle"), pump);
    clipboard.Add(QStringLiteral("Engine.Rpm"), QString(), pump);
    EXPECT_EQ(events.changes, 2);
    EXPECT_EQ(events.last, &clipboard);
    EXPECT_FALSE(clipboard.IsEmpty());
    // The clipboard keeps names as given; the device upper-cases on paste.
    EXPECT_EQ(entries(clipboard),
              (QStringList{"PUMP1|Service: Speed.Gain|idle", "PUMP1|Engine.Rpm|"}));

    clipboard.Clear();
    EXPECT_EQ(events.changes, 3);
    EXPECT_TRUE(clipboard.IsEmpty());
    clipboard.Clear();
    EXPECT_EQ(events.changes, 4);
}

TEST(VariableClipboard, FillAsksTheDragSource) {
    test::Controls controls;
    TVariableClipboard clipboard;
    ClipboardEvents source;
    source.device = controls.add(QStringLiteral("PUMP1"));
    clipboard.Fill(); // no source: nothing happens
    EXPECT_TRUE(clipboard.IsEmpty());

    clipboard.Add(QStringLiteral("OLD"), QString(), source.device);
    clipboard.SetOnFill(TVariableClipboardEvent(&source, &ClipboardEvents::Filled));
    clipboard.Fill();
    EXPECT_EQ(source.fills, 1);
    EXPECT_EQ(entries(clipboard), (QStringList{"PUMP1|DRAGGED|"}));
}

TEST(VariableClipboard, EntriesOfADestroyedControlAreDropped) {
    test::Controls controls;
    TKIDevice* pump = controls.add(QStringLiteral("PUMP1"));
    TKIDevice* boiler = controls.add(QStringLiteral("BOILER"));
    TVariableClipboard clipboard;
    ClipboardEvents events;
    clipboard.SetOnChange(TVariableClipboardEvent(&events, &ClipboardEvents::Changed));
    clipboard.Add(QStringLiteral("A"), QString(), pump);
    clipboard.Add(QStringLiteral("B"), QString(), boiler);
    clipboard.Add(QStringLiteral("C"), QString(), pump);
    events.changes = 0;

    controls.remove(pump);
    EXPECT_EQ(entries(clipboard), (QStringList{"BOILER|B|"}));
    EXPECT_EQ(events.changes, 1);

    // A paste afterwards uses only the living control.
    TOVVariableList sheet(QStringLiteral("S"), {}, {});
    sheet.PasteAt(-1, clipboard);
    ASSERT_EQ(sheet.Count(), 1);
    EXPECT_EQ(sheet.Get(0)->Device(), boiler);

    // A control used after a Clear is watched again.
    clipboard.Clear();
    clipboard.Add(QStringLiteral("D"), QString(), boiler);
    events.changes = 0;
    sheet.Clear();
    {
        // A clipboard that went first must not be told of the control's end.
        TVariableClipboard gone;
        gone.Add(QStringLiteral("E"), QString(), boiler);
    }
    controls.remove(boiler);
    EXPECT_TRUE(clipboard.IsEmpty());
    EXPECT_EQ(events.changes, 1);
}

} // namespace
} // namespace orvane
