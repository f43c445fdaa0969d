// The main window against the simulated server: start-up and connection,
// placement, the command states, the services it offers its child windows,
// and the ways the program ends.

#include "windows/Main.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QTabBar>
#include <QToolBar>

#include "WindowsFixture.h"
#include "inspector/VarClipboard.h"
#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"
#include "platform/Registry.h"
#include "windows/About.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/Explorer.h"
#include "windows/NetworkFilesDialog.h"

namespace orvane::test {
namespace {

TRegistry PlaceKey() {
    TRegistry registry(HKEY_LOCAL_MACHINE);
    registry.OpenKey(QString::fromLatin1(TMainForm::kRegistryKey), true);
    return registry;
}

class MainFormTest : public WindowsFixture {};

TEST(MainFormPlacementTest, FirstRunIsCentredOrFullWidthOnANarrowScreen) {
    EXPECT_EQ(TMainForm::FirstRunGeometry(QSize(1920, 1080)), QRect(565, 300, 790, 80));
    EXPECT_EQ(TMainForm::FirstRunGeometry(QSize(1025, 769)), QRect(117, 144, 790, 80));
    EXPECT_EQ(TMainForm::FirstRunGeometry(QSize(790, 600)), QRect(0, 60, 790, 80));
    EXPECT_EQ(TMainForm::FirstRunGeometry(QSize(640, 480)), QRect(0, 0, 640, 80));
}

TEST_F(MainFormTest, CreationDisablesEverythingAndConnectingEnablesTheCommands) {
    MakeMainForm();
    EXPECT_EQ(m_main->windowTitle(), "Orvane Professional");
    EXPECT_FALSE(m_main->isEnabled());
    EXPECT_FALSE(m_main->ToolBar()->isEnabled());
    for (int m = 0; m < static_cast<int>(TMainMenu::Count); ++m) {
        if (static_cast<TMainMenu>(m) != TMainMenu::AppSettings) {
            EXPECT_FALSE(m_main->menu(static_cast<TMainMenu>(m))->menuAction()->isEnabled()) << m;
        }
    }
    for (QAction* a : m_main->ToolBar()->actions()) {
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    }
    EXPECT_FALSE(m_main->action(TMainAction::Explorer)->isEnabled());
    EXPECT_EQ(m_main->Explorer(), nullptr);

    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControlNetwork()).toLocal8Bit());
    ASSERT_TRUE(ShowAndConnect());
    EXPECT_EQ(m_endCount, 0);
    EXPECT_TRUE(m_main->isEnabled());
    EXPECT_TRUE(m_main->ToolBar()->isEnabled());
    for (TMainMenu m : {TMainMenu::File, TMainMenu::Edit, TMainMenu::Sheet, TMainMenu::Control,
                        TMainMenu::Options, TMainMenu::Window, TMainMenu::Help}) {
        EXPECT_TRUE(m_main->menu(m)->menuAction()->isEnabled()) << static_cast<int>(m);
    }
    // The Explorer lists the three controls and sits under the main bar.
    TExplorerForm* explorer = m_main->Explorer();
    ASSERT_NE(explorer, nullptr);
    EXPECT_TRUE(explorer->isVisible());
    EXPECT_EQ(explorer->TabCount(), 3);
    EXPECT_EQ(explorer->height(), TMainForm::kExplorerHeight);
    EXPECT_EQ(explorer->frameGeometry().x(), m_main->frameGeometry().x());
    EXPECT_EQ(explorer->frameGeometry().y(),
              m_main->frameGeometry().y() + m_main->frameGeometry().height() + 3);
    EXPECT_TRUE(m_main->action(TMainAction::Explorer)->isChecked());
    EXPECT_TRUE(m_main->action(TMainAction::Explorer)->isEnabled());
    EXPECT_FALSE(explorer->Tree()->Dump().isEmpty());

    // Without the inspector management its commands stay off; the Control
    // commands follow their Explorer items.
    for (TMainAction a : {TMainAction::NewInspector, TMainAction::NewQuickInspector,
                          TMainAction::Open, TMainAction::Save, TMainAction::AddSheet}) {
        EXPECT_FALSE(m_main->action(a)->isEnabled()) << static_cast<int>(a);
    }
    EXPECT_EQ(m_main->action(TMainAction::Reset)->isEnabled(),
              explorer->CommandAction(TExplorerForm::cmdReset)->isEnabled());
    explorer->CommandAction(TExplorerForm::cmdReset)->setEnabled(true);
    EXPECT_TRUE(m_main->action(TMainAction::Reset)->isEnabled());
    int resets = 0;
    QObject::connect(explorer->CommandAction(TExplorerForm::cmdReset), &QAction::triggered,
                     [&resets] { ++resets; });
    m_main->action(TMainAction::Reset)->trigger();
    EXPECT_EQ(resets, 1);

    // The Window menu's Explorer item hides and shows it.
    m_main->action(TMainAction::Explorer)->trigger();
    EXPECT_FALSE(explorer->isVisible());
    EXPECT_FALSE(m_main->action(TMainAction::Explorer)->isChecked());
    m_main->action(TMainAction::Explorer)->trigger();
    EXPECT_TRUE(explorer->isVisible());
    explorer->close();
    EXPECT_FALSE(m_main->action(TMainAction::Explorer)->isChecked());
}

TEST_F(MainFormTest, WithInspectorsTheFirstOpensAndTheirCommandsFollowTheActiveOne) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControlNetwork()).toLocal8Bit());
    FakeInspectorManagement* inspectors = UseInspectors();
    ASSERT_TRUE(ShowAndConnect());
    EXPECT_EQ(inspectors->firstOpened, 1);
    EXPECT_TRUE(m_main->action(TMainAction::NewInspector)->isEnabled());
    EXPECT_TRUE(m_main->action(TMainAction::Open)->isEnabled());

    FakeInspector* first = inspectors->inspectors.front().get();
    m_main->ChildActivated(first);
    EXPECT_EQ(m_main->ActiveInspector(), first);
    EXPECT_EQ(m_main->ActiveChild(), first);
    for (TMainAction a : {TMainAction::AddSheet, TMainAction::RemoveSheet, TMainAction::Close,
                          TMainAction::Save, TMainAction::SaveAs}) {
        EXPECT_TRUE(m_main->action(a)->isEnabled()) << static_cast<int>(a);
    }
    EXPECT_TRUE(m_main->menu(TMainMenu::Sheet)->menuAction()->isEnabled());

    // Closing the last inspector leaves File > Open... on.
    m_main->UpdateInspectorCommands(nullptr);
    for (TMainAction a : {TMainAction::AddSheet, TMainAction::RemoveSheet, TMainAction::Close,
                          TMainAction::Save, TMainAction::SaveAs}) {
        EXPECT_FALSE(m_main->action(a)->isEnabled()) << static_cast<int>(a);
    }
    EXPECT_FALSE(m_main->menu(TMainMenu::Sheet)->menuAction()->isEnabled());
    EXPECT_TRUE(m_main->action(TMainAction::Open)->isEnabled());

    // The Window menu lists the inspectors after the Explorer.
    inspectors->Add("Inspector2");
    QMenu* window = m_main->menu(TMainMenu::Window);
    emit window->aboutToShow();
    emit window->aboutToShow();
    QStringList items;
    for (QAction* a : window->actions()) {
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    EXPECT_EQ(items, QStringList({"Explorer", "-", "Inspector1", "Inspector2"}));
}

TEST_F(MainFormTest, EditCommandsFollowTheActiveChildAndTheClipboard) {
    MakeMainForm();
    FakeInspectorManagement* inspectors = UseInspectors();
    FakeInspector* pasting = inspectors->Add("Inspector1", esCopy | esPaste);
    FakeInspector* copying = inspectors->Add("Inspector2", esCopy);

    m_main->ChildActivated(pasting);
    EXPECT_FALSE(m_main->action(TMainAction::Cut)->isEnabled());
    EXPECT_TRUE(m_main->action(TMainAction::Copy)->isEnabled());
    // Paste stays off while the clipboard is empty.
    EXPECT_FALSE(m_main->action(TMainAction::Paste)->isEnabled());

    TKIDuxlaneControl control;
    m_main->Clipboard()->Add("Service: A.x", QString(), &control);
    EXPECT_TRUE(m_main->action(TMainAction::Paste)->isEnabled());
    m_main->Clipboard()->Clear();
    EXPECT_FALSE(m_main->action(TMainAction::Paste)->isEnabled());
    m_main->Clipboard()->Add("Service: A.x", QString(), &control);

    m_main->ChildActivated(copying);
    EXPECT_FALSE(m_main->action(TMainAction::Paste)->isEnabled());
    m_main->action(TMainAction::Copy)->trigger();
    EXPECT_EQ(copying->copies, 1);
    EXPECT_EQ(pasting->copies, 0);

    // A closed window no longer counts as the active child.
    inspectors->CloseInspector(copying);
    EXPECT_EQ(m_main->ActiveChild(), nullptr);
    m_main->action(TMainAction::Copy)->trigger();
    m_main->Clipboard()->Clear();
}

TEST_F(MainFormTest, EnableWindowsSwitchesEveryWindowAndTheHourglass) {
    MakeMainForm();
    FakeInspectorManagement* inspectors = UseInspectors();
    FakeInspector* inspector = inspectors->Add("Inspector1");
    m_main->EnableWindows(true);
    EXPECT_TRUE(m_main->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    m_main->EnableWindows(false);
    EXPECT_FALSE(m_main->isEnabled());
    EXPECT_FALSE(inspector->isEnabled());
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    m_main->EnableWindows(false);

    m_main->EnableWindows(true);
    EXPECT_TRUE(inspector->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, CloseAllInspectorsAsksOnceOnlyWhenThereAreAny) {
    MakeMainForm();
    const QString question = "Close them all?";
    EXPECT_TRUE(m_main->CloseAllInspectors(question));
    EXPECT_TRUE(m_dialogs.messages().empty());

    FakeInspectorManagement* inspectors = UseInspectors();
    inspectors->Add("Inspector1");
    inspectors->Add("Inspector2");
    m_dialogs.answerMessage(mrCancel, question);
    EXPECT_FALSE(m_main->CloseAllInspectors(question));
    EXPECT_TRUE(inspectors->closed.isEmpty());

    m_dialogs.answerMessage(mrOk, question);
    EXPECT_TRUE(m_main->CloseAllInspectors(question));
    EXPECT_EQ(inspectors->closed, QStringList({"Inspector1", "Inspector2"}));
}

TEST_F(MainFormTest, HeightStaysEightyAndThePlaceIsKept) {
    {
        TRegistry key = PlaceKey();
        key.WriteInteger("Left", 40);
        key.WriteInteger("Width", 600);
        key.WriteInteger("Top", 30);
        key.WriteInteger("WindowState", 0);
    }
    MakeMainForm();
    EXPECT_EQ(m_main->frameGeometry().x(), 40);
    EXPECT_EQ(m_main->frameGeometry().y(), 30);
    EXPECT_EQ(m_main->width(), 600);
    EXPECT_EQ(m_main->height(), 80);

    m_main->resize(500, 300);
    EXPECT_EQ(m_main->height(), 80);
    m_main->SaveRegistrySettings();
    TRegistry key = PlaceKey();
    EXPECT_EQ(key.TryReadInteger("Width"), 500);
    EXPECT_EQ(key.TryReadInteger("WindowState"), 0);
}

TEST_F(MainFormTest, FirstRunPlacesTheBarOnTheScreen) {
    MakeMainForm();
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QRect expected = TMainForm::FirstRunGeometry(screen);
    EXPECT_EQ(m_main->frameGeometry().topLeft(), expected.topLeft());
    EXPECT_EQ(m_main->width(), expected.width());
    EXPECT_EQ(m_main->height(), 80);
}

TEST_F(MainFormTest, NoControlsEndsTheProgramWithAMessage) {
    // The server knows no controls and the engineer gives no network file.
    m_dialogs.answerOpenFile(std::nullopt);
    m_dialogs.answerMessage(mrOk, "The Duxlane Server is not connected to any controls and "
                                  "the application will be terminated");
    MakeMainForm();
    EXPECT_FALSE(ShowAndConnect());
    EXPECT_EQ(m_endCount, 1);
    EXPECT_EQ(m_main->Explorer(), nullptr);
}

TEST_F(MainFormTest, AServerThatCannotStartEndsTheProgram) {
    RegisterServer("/nonexistent/duxlane-server");
    MakeMainForm();
    m_dialogs.answerMessage(mrOk);
    m_main->show();
    m_main->FirstActivation();
    EXPECT_TRUE(m_main->Ended());
    EXPECT_EQ(m_endCount, 1);
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_TRUE(m_dialogs.messages()[0].text.startsWith("Could not start server."));
}

TEST_F(MainFormTest, LostCommunicationsAskToSaveEachInspectorThenEnd) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControlNetwork()).toLocal8Bit());
    FakeInspectorManagement* inspectors = UseInspectors();
    ASSERT_TRUE(ShowAndConnect());
    inspectors->Add("Inspector2");

    m_dialogs.answerMessage(mrOk, "Communications have been lost and the application will be "
                                  "terminated.");
    m_dialogs.answerMessage(mrYes, "Do you want to save the changes to Inspector1");
    m_dialogs.answerMessage(mrNo, "Do you want to save the changes to Inspector2");
    for (std::int64_t pid : m_pids) {
        EndProcess(pid);
    }
    ASSERT_TRUE(WaitUntil([this] { return m_main->Ended(); }, 15000));
    EXPECT_EQ(m_endCount, 1);
    EXPECT_FALSE(m_main->isVisible());
    EXPECT_EQ(inspectors->saved, QStringList({"Inspector1"}));
}

TEST_F(MainFormTest, ClosingClosesInspectorsReleasesEverythingAndKeepsThePlace) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControlNetwork()).toLocal8Bit());
    FakeInspectorManagement* inspectors = UseInspectors();
    ASSERT_TRUE(ShowAndConnect());
    m_main->move(33, 44);

    // An inspector kept open keeps the program going.
    inspectors->refuseClose = true;
    EXPECT_FALSE(m_main->close());
    EXPECT_TRUE(m_main->isVisible());
    EXPECT_NE(m_main->Server(), nullptr);

    inspectors->refuseClose = false;
    RememberServerProcess();
    for (TKIDuxlaneControl* control : m_main->Server()->Controls()) {
        control->SetServer(nullptr);
    }
    EXPECT_TRUE(m_main->close());
    EXPECT_EQ(inspectors->closed, QStringList({"Inspector1"}));
    EXPECT_EQ(m_main->Explorer(), nullptr);
    EXPECT_EQ(m_main->Server(), nullptr);
    EXPECT_EQ(m_main->Clipboard(), nullptr);
    TRegistry key = PlaceKey();
    EXPECT_EQ(key.TryReadInteger("Left"), 33);
    EXPECT_EQ(key.TryReadInteger("Top"), 44);
}

TEST_F(MainFormTest, DdeMessagesAreShownAndTheWindowsEnabledAgain) {
    MakeMainForm();
    m_main->EnableWindows(false);
    m_dialogs.answerMessage(mrOk, "Error during request of data:PUMP:Speed");
    m_main->DdeMessage("Error during request of data:PUMP:Speed");
    EXPECT_TRUE(m_main->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, MissingHelpSaysSo) {
    MakeMainForm();
    EXPECT_TRUE(TMainForm::HelpPath().endsWith("/windows_tests.chm"));
    m_dialogs.answerMessage(mrOk, "Error while trying to access help file.");
    m_main->ShowHelp();
}

TEST(AboutBoxTest, VersionLineAndCaption) {
    EXPECT_EQ(TAboutBox::VersionLine(1, 2, 3, 4), "Version: 1.2.3 Build: 4");
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "About Orvane");
    EXPECT_EQ(box.ProductText(), "Orvane Professional");
    EXPECT_TRUE(box.VersionText().startsWith("Version: "));
    EXPECT_TRUE(box.VersionText().contains(" Build: "));
}

TEST(NetworkFilesDialogTest, AddAppendsAndDeleteRemovesTheFirstSelected) {
    ScriptedDialogService dialogs;
    TNetworkFilesDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Select Network Definition Files");
    dialog.SetFiles({"/nets/a.net", "/nets/b.net", "/nets/c.net"});

    dialogs.answerOpenFile(QString("/nets/d.net"));
    dialog.AddClick();
    ASSERT_EQ(dialogs.fileDialogs().size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs()[0].request.filter,
              "Network Definition Files (*.net)|*.net|All Files (*.*)|*.*");
    dialogs.answerOpenFile(std::nullopt);
    dialog.AddClick();
    EXPECT_EQ(dialog.Files(),
              QStringList({"/nets/a.net", "/nets/b.net", "/nets/c.net", "/nets/d.net"}));

    dialog.DeleteClick(); // nothing selected: nothing goes
    EXPECT_EQ(dialog.Files().size(), 4);
    dialog.FileList()->item(3)->setSelected(true);
    dialog.FileList()->item(1)->setSelected(true);
    dialog.DeleteClick();
    EXPECT_EQ(dialog.Files(), QStringList({"/nets/a.net", "/nets/c.net", "/nets/d.net"}));
}

} // namespace
} // namespace orvane::test
