// Sheets against the simulated server: attributes fetched when a variable is
// made or when its control connects late, live values relayed with the row
// they belong to, and values held only while a sheet is shown.

#include <gtest/gtest.h>

#include <memory>

#include <QFile>
#include <QTemporaryDir>

#include "InspectorTestSupport.h"
#include "ScriptedDialogService.h"
#include "SimServer.h"
#include "TestEnvironment.h"
#include "ddelink/SyncRequest.h"
#include "ddelink/Synchronizer.h"
#include "inspector/InspectorDoc.h"
#include "inspector/VarClipboard.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIServer.h"
#include "platform/Registry.h"

namespace orvane {
namespace {

using test::SheetEvents;
using test::SimServer;
using test::waitFor;

// A control whose items carry attributes, as the program's controls have.
class DuxlaneDevice : public TKIDevice {
protected:
    std::unique_ptr<TKIItem> CreateItem(const QString& upperName) override {
        return std::make_unique<TKIDuxlaneItem>(upperName);
    }
};

class LiveSheet : public testing::Test {
protected:
    // In force from before anything of the test is made until after it is gone.
    const TKIServer::TimingScope m_serverTiming{{.retryIntervalMs = 50}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};

    void SetUp() override {
        ASSERT_TRUE(m_sim.start(m_sim.writeNetwork(SimServer::kSmallNetwork)))
            << m_sim.errorString().toStdString();
        {
            // The server object looks its program up even when it already runs.
            TRegistry registry(HKEY_LOCAL_MACHINE);
            registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
            registry.WriteString(QString(), test::serverExecutable());
        }
        m_server = std::make_unique<TKIServer>();
        m_server->SetServerName(QStringLiteral("UPCIDuxlane"));
        ASSERT_TRUE(waitFor([this] { return m_server->IsConnected(); }));
        m_plc1 = connect("PLC1");
        m_plc2 = connect("PLC2");
        m_sheet = std::make_unique<TOVVariableList>(QStringLiteral("Live"), m_events.changed(),
                                                    m_events.modifiedEvent());
    }
    void TearDown() override {
        m_sheet.reset();
        for (auto& device : m_devices) {
            device->SetServer(nullptr);
        }
        m_devices.clear();
        m_server.reset();
        m_sim.stop();
    }

    TKIDevice* make() {
        m_devices.push_back(std::make_unique<DuxlaneDevice>());
        return m_devices.back().get();
    }
    TKIDevice* connect(const char* topic) {
        TKIDevice* device = make();
        device->SetServer(m_server.get());
        device->SetIdentifier(QString::fromLatin1(topic));
        EXPECT_TRUE(waitFor([device] { return device->Active(); })) << topic;
        return device;
    }
    bool rowReported(int row) const {
        return std::find(m_events.rows.begin(), m_events.rows.end(), row) != m_events.rows.end();
    }
    QString value(int row) const { return m_sheet->Get(row)->Value().toString(); }

    test::ScriptedDialogService m_dialogs;
    SimServer m_sim;
    std::unique_ptr<TKIServer> m_server;
    std::vector<std::unique_ptr<TKIDevice>> m_devices;
    TKIDevice* m_plc1 = nullptr;
    TKIDevice* m_plc2 = nullptr;
    SheetEvents m_events;
    std::unique_ptr<TOVVariableList> m_sheet;
};

TEST_F(LiveSheet, AttributesAreKnownFromTheStart) {
    TOVVariable* setPoint = m_sheet->Add(QStringLiteral("Service: Loop.Set Point"), {}, m_plc1);
    TOVVariable* running = m_sheet->Add(QStringLiteral("running"), {}, m_plc1);
    EXPECT_TRUE(setPoint->AttributesKnown());
    EXPECT_EQ(setPoint->ItemClassType(), vctTunable);
    EXPECT_EQ(setPoint->DataType(), vdtReal);
    EXPECT_EQ(setPoint->MinValue().toString().toDouble(), 0.0);
    EXPECT_EQ(setPoint->MaxValue().toString().toDouble(), 100.0);
    EXPECT_EQ(setPoint->Category(), QString()); // the upper-cased prefix is no header
    EXPECT_EQ(setPoint->Block(), QStringLiteral("SERVICE: LOOP"));
    EXPECT_EQ(running->ItemClassType(), vctMonitor);
    EXPECT_EQ(running->DataType(), vdtBoolean);
    EXPECT_TRUE(m_events.rows.empty());
}

TEST_F(LiveSheet, ValuesReachTheRowOfTheirVariable) {
    m_sheet->Add(QStringLiteral("Running"), {}, m_plc1);
    m_sheet->Add(QStringLiteral("Count"), {}, m_plc1);
    EXPECT_EQ(value(1), QString());

    m_sheet->AdviseAll();
    ASSERT_TRUE(waitFor([this] { return rowReported(0) && rowReported(1); }));
    EXPECT_EQ(value(0), QStringLiteral("1"));
    EXPECT_EQ(value(1), QStringLiteral("5"));

    // Rows pasted above a shown sheet are advised at once, and a later value
    // of an older row reports its new row.
    TVariableClipboard clipboard;
    clipboard.Add(QStringLiteral("Service: Loop.Set Point"), QString(), m_plc1);
    clipboard.Add(QStringLiteral("Service: Motor.Speed"), QString(), m_plc2);
    m_sheet->PasteAt(0, clipboard);
    EXPECT_TRUE(m_sheet->Get(1)->AttributesKnown());
    ASSERT_TRUE(waitFor([this] { return value(1) == QStringLiteral("1500"); }));

    m_events.reset();
    m_sheet->Get(3)->Item()->SetValue(QStringLiteral("7"));
    ASSERT_TRUE(waitFor([this] { return rowReported(3); }));
    EXPECT_EQ(m_sheet->Get(3)->ItemName(), QStringLiteral("COUNT"));
    EXPECT_EQ(value(3), QStringLiteral("7"));
}

TEST_F(LiveSheet, OnlyAShownSheetHoldsValues) {
    m_sheet->Add(QStringLiteral("Count"), {}, m_plc1);
    m_sheet->AdviseAll();
    ASSERT_TRUE(waitFor([this] { return !value(0).isEmpty(); }));
    EXPECT_EQ(value(0), QStringLiteral("5"));

    // Added while shown: no value until the sheet is shown again. Barrier: a
    // request answered on the control's conversation comes after any hot-link
    // data the server had sent on it.
    TOVVariable* added = m_sheet->Add(QStringLiteral("Plant.Area.Name"), {}, m_plc1);
    EXPECT_EQ(TSyncRequest().RequestText(m_plc1->Conversation(), QStringLiteral("Plant.Area.Name")),
              QStringLiteral("North"));
    EXPECT_FALSE(added->Item()->IsAdvised());
    EXPECT_EQ(added->Value(), QVariant(QString()));

    m_sheet->UnadviseAll();
    EXPECT_EQ(value(0), QString());
    EXPECT_FALSE(m_sheet->Get(0)->Item()->IsAdvised());

    m_sheet->AdviseAll();
    ASSERT_TRUE(waitFor([added] { return !added->Value().toString().isEmpty(); }));
    EXPECT_EQ(added->Value().toString(), QStringLiteral("North"));
}

TEST_F(LiveSheet, SheetIsRemovedEvenWhenItsNeighbourCannotBeAdvised) {
    // A name longer than the DDE library takes: its link is refused at once.
    const QString tooLong = QStringLiteral("Service: Loop.") + QString(300, QLatin1Char('X'));
    // The sheet "Gone" is removed; its neighbour "Bad" holds the refused link.
    const struct {
        QStringList order;
        int removed;
    } cases[] = {{{"Kept", "Bad", "Gone"}, 2}, {{"Gone", "Bad", "Kept"}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.removed);
        TInspectorDoc doc;
        TOVVariable* watched = nullptr;
        for (const QString& name : c.order) {
            doc.AddSheet(name, m_events.changed());
            if (name == QStringLiteral("Bad")) {
                doc.AddVariable(tooLong, {}, m_plc1);
            } else if (name == QStringLiteral("Gone")) {
                watched = doc.AddVariable(QStringLiteral("Count"), {}, m_plc1);
            }
        }
        ASSERT_EQ(doc.SelectSheet(c.removed)->Name(), QStringLiteral("Gone"));
        ASSERT_TRUE(watched->IsAdvised());
        TKIItem* item = watched->Item();
        TOVVariableList* bad = doc.Sheet(1);
        doc.SetModified(false);

        try {
            doc.RemoveSheet(c.removed);
            ADD_FAILURE() << "the refused link was not reported";
        } catch (const TKIItemException& e) {
            EXPECT_TRUE(
                e.message().startsWith(QStringLiteral("Start Advise on Item SERVICE: LOOP.")))
                << e.what();
        }
        // Gone from the document with its link stopped; the neighbour is shown.
        EXPECT_EQ(doc.SheetCount(), 2);
        EXPECT_EQ(doc.IndexOfSheet(bad), c.removed > 0 ? c.removed - 1 : 0);
        EXPECT_EQ(doc.CurrentSheet(), bad);
        EXPECT_TRUE(bad->Advised());
        EXPECT_TRUE(doc.IsModified());
        EXPECT_FALSE(item->IsAdvised());
        for (int i = 0; i < doc.SheetCount(); ++i) {
            EXPECT_NE(doc.Sheet(i)->Name(), QStringLiteral("Gone"));
        }
    }
}

TEST_F(LiveSheet, AttributesArriveWithALateConnection) {
    m_sheet->Add(QStringLiteral("Running"), {}, m_plc1);
    TKIDevice* late = make();
    TOVVariable* speed = m_sheet->Add(QStringLiteral("Service: Motor.Speed"), {}, late);
    EXPECT_FALSE(speed->AttributesKnown());
    EXPECT_EQ(speed->ItemClassType(), vctUnassigned);

    late->SetServer(m_server.get());
    late->SetIdentifier(QStringLiteral("PLC2"));
    ASSERT_TRUE(waitFor([speed] { return speed->AttributesKnown(); }));
    EXPECT_EQ(speed->ItemClassType(), vctTunable);
    EXPECT_EQ(speed->DataType(), vdtInteger);
    EXPECT_EQ(m_events.rows, std::vector<int>{1}); // its row is redrawn
}

TEST_F(LiveSheet, AVariableGoneBeforeItsControlConnectsIsNotCalled) {
    TKIDevice* late = make();
    m_sheet->Add(QStringLiteral("Service: Motor.Speed"), {}, late);
    m_sheet->Add(QStringLiteral("Service: Motor.Current"), {}, late);
    m_sheet->Delete(0);
    m_events.reset();

    late->SetServer(m_server.get());
    late->SetIdentifier(QStringLiteral("PLC2"));
    ASSERT_TRUE(waitFor([this] { return m_sheet->Get(0)->AttributesKnown(); }));
    EXPECT_EQ(m_events.rows, std::vector<int>{0});
}

TEST_F(LiveSheet, OpensAFileAgainstTheControls) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("small.ovi"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Loop\r\nplc1\tSERVICE: LOOP.SET POINT\tset point\r\n"
                   "PLC3\tX\t\r\nPLC2\tSERVICE: MOTOR.SPEED\t\r\n");
    }
    m_dialogs.answerMessage(mrOk, QStringLiteral("PLC3 control does not exist."));
    test::TestInspectorWindow window;
    const TControlFinder finder = [this](const QString& name) -> TKIDevice* {
        for (const auto& device : m_devices) {
            if (device->Identifier().compare(name, Qt::CaseInsensitive) == 0) {
                return device.get();
            }
        }
        return nullptr;
    };
    ASSERT_TRUE(OpenInspectorFile(path, window, finder));
    EXPECT_EQ(window.rows(0), (QStringList{"PLC1|SERVICE: LOOP.SET POINT|set point",
                                           "PLC2|SERVICE: MOTOR.SPEED|"}));
    TOVVariableList* shown = window.Document().CurrentSheet();
    ASSERT_TRUE(waitFor([shown] { return !shown->Get(1)->Value().toString().isEmpty(); }));
    EXPECT_EQ(shown->Get(1)->Value().toString(), QStringLiteral("1500"));
}

} // namespace
} // namespace orvane
