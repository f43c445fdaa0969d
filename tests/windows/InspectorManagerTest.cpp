// Inspector management: numbering and placing new inspectors, Quick
// Inspectors, opening files (and failing to), the Window menu and precision,
// against the simulated server.

#include <gtest/gtest.h>

#include <QMenu>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>

#include "ScriptedDialogService.h"
#include "WindowsTestSupport.h"
#include "inspector/VarClipboard.h"
#include "windows/InspectorForm.h"
#include "windows/InspectorManager.h"
#include "windows/OVGrid.h"

namespace orvane {
namespace {

using test::descriptions;
using test::settle;
using test::waitFor;

class Management : public testing::Test {
protected:
    void SetUp() override {
        TInspectorInitialization::SetInstance(&m_settings);
        m_main = std::make_unique<QWidget>();
        m_main->setGeometry(20, 10, 600, 80);
        m_main->show();
        m_manager = std::make_unique<TInspectorManager>(
            m_main.get(), &m_clipboard, TOrvaneMDIForm::TActivatedEvent(),
            [this](const QString& name) { return m_plant.controls.find(name); });
    }
    void TearDown() override {
        m_manager.reset();
        m_main.reset(); // closes the inspectors before the controls go
        m_plant.stop();
        TInspectorInitialization::SetInstance(nullptr);
    }
    void startPlant() { ASSERT_TRUE(m_plant.start()) << m_plant.error.toStdString(); }
    static QStringList tabs(TInspectorForm* form) {
        QStringList names;
        for (int i = 0; i < form->TabControl()->count(); ++i) {
            names << form->TabControl()->tabText(i);
        }
        return names;
    }

    test::ScriptedDialogService m_dialogs;
    TInspectorInitialization m_settings;
    test::Plant m_plant;
    TVariableClipboard m_clipboard;
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<TInspectorManager> m_manager;
};

TEST_F(Management, InspectorsCascadeAndStartAgainUnderTheMainWindow) {
    const QRect main = m_main->frameGeometry();
    TInspectorForm* first = m_manager->NewInspector();
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Inspector1"));
    EXPECT_EQ(first->height(), kInspectorHeight);
    EXPECT_EQ(first->width(), main.width() - (kExplorerDefaultWidth + 2));
    EXPECT_EQ(first->y(), main.top() + main.height() + 3);
    EXPECT_EQ(first->x(), main.left() + main.width() - first->width());
    EXPECT_FALSE(first->Document().IsModified());

    TInspectorForm* second = m_manager->NewInspector();
    EXPECT_EQ(second->x(), first->x() + 20);
    EXPECT_EQ(second->y(), first->y() + 20);

    // Cascading on until one would leave the screen.
    const QRect screen = m_main->screen()->geometry();
    TInspectorForm* last = second;
    int made = 2;
    while (last->y() + 20 + kInspectorHeight <= screen.bottom() + 1 &&
           last->x() + 20 + last->width() <= screen.right() + 1 && made < 100) {
        last = m_manager->NewInspector();
        ++made;
    }
    TInspectorForm* restarted = m_manager->NewInspector();
    EXPECT_EQ(restarted->pos(), first->pos());

    // Numbers keep counting after inspectors close.
    first->close();
    second->close();
    settle();
    TInspectorForm* next = m_manager->NewInspector();
    EXPECT_EQ(next->windowTitle(), QStringLiteral("Inspector%1").arg(made + 2));
    EXPECT_EQ(m_manager->Inspectors().size(), made); // made + 2 more, 2 closed

    // The Window menu lists them after its first two items.
    QMenu menu;
    menu.addAction(QStringLiteral("Explorer"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("stale"));
    m_manager->FillWindowMenu(&menu);
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 2 + m_manager->Inspectors().size());
    EXPECT_EQ(actions[2]->text(), m_manager->Inspectors().front()->windowTitle());
    EXPECT_EQ(actions.back()->text(), next->windowTitle());
}

TEST_F(Management, QuickInspectorMakesASheetPerHeader) {
    startPlant();
    TItemListHeaderWalk headers(m_plant.plc1, &m_clipboard);
    TInspectorForm* form = m_manager->NewQuickInspector(headers);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(tabs(form), QStringList({"Service: Loop", "Configure: Loop"}));
    TInspectorDoc& doc = form->Document();
    ASSERT_EQ(doc.SheetCount(), 2);
    ASSERT_EQ(doc.Sheet(0)->Count(), 2);
    QStringList service = {doc.Sheet(0)->Get(0)->ItemName(), doc.Sheet(0)->Get(1)->ItemName()};
    service.sort();
    EXPECT_EQ(service, QStringList({"SERVICE: LOOP.ACTUAL", "SERVICE: LOOP.SET POINT"}));
    EXPECT_EQ(doc.Sheet(1)->Count(), 1);
    EXPECT_EQ(doc.Sheet(1)->Get(0)->ItemName(), QStringLiteral("CONFIGURE: LOOP.GAIN"));
    EXPECT_EQ(form->TabControl()->currentIndex(), 0);
    EXPECT_EQ(doc.CurrentSheet(), doc.Sheet(0));
    EXPECT_EQ(form->Grid()->Model()->rowCount(), 2);

    // A control without configure headers: service sheets only.
    TItemListHeaderWalk plc2(m_plant.plc2, &m_clipboard);
    TInspectorForm* second = m_manager->NewQuickInspector(plc2);
    EXPECT_EQ(tabs(second), QStringList({"Service: Motor"}));
}

TEST_F(Management, SavedClosedAndOpenedAgainShowsTheSameInspector) {
    startPlant();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plant.ovi"));
    TInspectorForm* form = m_manager->NewInspector();
    m_clipboard.Clear();
    m_clipboard.Add(QStringLiteral("Count"), QStringLiteral("counter"), m_plant.plc1);
    m_clipboard.Add(QStringLiteral("Service: Motor.Speed"), QStringLiteral("motor"), m_plant.plc2);
    form->PasteToSheet(-1, -1);
    form->RenameCurrentSheet(QStringLiteral("Main"));
    form->AddSheet();
    m_clipboard.Clear();
    m_clipboard.Add(QStringLiteral("Running"), QString(), m_plant.plc1);
    form->PasteToSheet(-1, -1);
    m_dialogs.answerSaveFile(path);
    ASSERT_TRUE(form->Save());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("plant.ovi"));
    form->close();
    settle();
    EXPECT_TRUE(m_dialogs.messages().empty());

    m_dialogs.answerOpenFile(path);
    TInspectorForm* opened = m_manager->OpenInspector();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->windowTitle(), QStringLiteral("plant.ovi"));
    EXPECT_EQ(tabs(opened), QStringList({"Main", "Sheet2"}));
    TOVVariableList* main = opened->Document().Sheet(0);
    EXPECT_EQ(descriptions(main), QStringList({"counter", "motor"}));
    EXPECT_EQ(main->Get(1)->DeviceName(), QStringLiteral("PLC2"));
    EXPECT_EQ(opened->Document().Sheet(1)->Get(0)->ItemName(), QStringLiteral("RUNNING"));
    EXPECT_FALSE(opened->Document().IsModified());
    // Live values on the shown sheet.
    TOVGridModel* model = opened->Grid()->Model();
    ASSERT_TRUE(waitFor([model] {
        return model->data(model->index(0, gcValue), Qt::DisplayRole) == QStringLiteral("5") &&
               model->data(model->index(1, gcValue), Qt::DisplayRole) == QStringLiteral("1500");
    }));
}

TEST_F(Management, AFileThatDoesNotOpenLeavesNoWindow) {
    QTemporaryDir dir;
    m_dialogs.answerMessage(mrOk, QStringLiteral("Error opening file.  File could not be found"));
    EXPECT_EQ(m_manager->OpenInspectorFile(dir.filePath(QStringLiteral("missing.ovi"))), nullptr);
    settle();
    EXPECT_TRUE(m_manager->Inspectors().isEmpty());
    EXPECT_EQ(m_manager->ActiveInspector(), nullptr);
    EXPECT_EQ(m_manager->InspectorCounter(), 1);
}

TEST_F(Management, PrecisionReachesEveryInspector) {
    TInspectorForm* a = m_manager->NewInspector();
    TInspectorForm* b = m_manager->NewInspector();
    m_settings.SetDecimalPlaces(5);
    m_manager->ApplyPrecisionToAll();
    EXPECT_EQ(a->Grid()->DecimalPlaces(), 5);
    EXPECT_EQ(b->Grid()->DecimalPlaces(), 5);

    TDecimalPlacesForm dialog;
    EXPECT_EQ(dialog.SpinEdit()->maximum(), 15);
    EXPECT_EQ(dialog.SpinEdit()->minimum(), 0);
}

} // namespace
} // namespace orvane
