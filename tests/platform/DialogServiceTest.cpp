#include "platform/DialogService.h"
#include "platform/QtDialogService.h"

#include "ScriptedDialogService.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace orvane;
using orvane::test::ScriptedDialogService;

TEST(DialogService, ClosingABoxGivesTheSetsCancelOrNoAnswer) {
    EXPECT_EQ(closeResultOf(mbOK), mrOk);
    EXPECT_EQ(closeResultOf(mbYesNo), mrNo);
    EXPECT_EQ(closeResultOf(mbYesNoCancel), mrCancel);
    EXPECT_EQ(closeResultOf(mbOKCancel), mrCancel);
    EXPECT_EQ(closeResultOf(mbIgnoreCancel), mrCancel);
    // A skip prompt of a long operation goes on when closed.
    EXPECT_EQ(closeResultOf(mbYesNoYesToAll), mrYes);
    EXPECT_TRUE(hasButton(mbYesNoYesToAll, mrYesToAll));
    EXPECT_FALSE(hasButton(mbYesNo, mrCancel));
}

TEST(DialogService, FilterTextBecomesQtNameFilters) {
    EXPECT_EQ(
        qtNameFilters(QStringLiteral("Inspector file (*.ovi)|*.OVI|All Files (*.*)|*.*")),
        (QStringList{QStringLiteral("Inspector file (*.OVI)"), QStringLiteral("All Files (*)")}));
    EXPECT_EQ(qtNameFilters(QStringLiteral("Application Script Files (*.scp)|*.SCP")),
              QStringList{QStringLiteral("Application Script Files (*.SCP)")});
    EXPECT_EQ(qtNameFilters(QStringLiteral("Both|*.a; *.b|Dangling")),
              QStringList{QStringLiteral("Both (*.a *.b)")});
    EXPECT_TRUE(qtNameFilters(QString()).isEmpty());
}

TEST(ScriptedDialogService, AnswersFromTheQueueAndRecordsEveryDialog) {
    ScriptedDialogService dialogs;
    dialogs.answerMessage(mrYesToAll)
        .closeMessage(QStringLiteral("Continue?"))
        .answerSaveFile(QStringLiteral("/tmp/a.ovi"))
        .answerOpenFile(std::nullopt);

    EXPECT_EQ(&DialogService::current(), &dialogs);
    EXPECT_EQ(messageDlg(QStringLiteral("Skip it?"), mtWarning, mbYesNoYesToAll), mrYesToAll);
    EXPECT_EQ(messageDlg(QStringLiteral("Continue?"), mtConfirmation, mbOKCancel), mrCancel);
    FileDialogRequest save;
    save.filter = QStringLiteral("Inspector file (*.ovi)|*.OVI");
    save.defaultExt = QStringLiteral("ovi");
    save.options = ofOverwritePrompt | ofHideReadOnly;
    EXPECT_EQ(DialogService::current().saveFile(save), QStringLiteral("/tmp/a.ovi"));
    EXPECT_EQ(DialogService::current().openFile(FileDialogRequest{}), std::nullopt);
    EXPECT_EQ(dialogs.pending(), 0);

    ASSERT_EQ(dialogs.messages().size(), 2u);
    EXPECT_EQ(dialogs.messages()[0].type, mtWarning);
    EXPECT_EQ(dialogs.messages()[0].buttons, mbYesNoYesToAll);
    EXPECT_EQ(dialogs.messageTexts(),
              (QStringList{QStringLiteral("Skip it?"), QStringLiteral("Continue?")}));
    ASSERT_EQ(dialogs.fileDialogs().size(), 2u);
    EXPECT_TRUE(dialogs.fileDialogs()[0].save);
    EXPECT_EQ(dialogs.fileDialogs()[0].request.defaultExt, QStringLiteral("ovi"));
    EXPECT_TRUE(dialogs.fileDialogs()[0].request.options.testFlag(ofOverwritePrompt));
}

TEST(ScriptedDialogService, ReportsDialogsItWasNotToldToExpect) {
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedDialogService dialogs;
            EXPECT_EQ(messageDlg(QStringLiteral("Surprise"), mtError, mbYesNo), mrNo);
        },
        "unexpected Error message box: \"Surprise\"");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedDialogService dialogs;
            dialogs.answerMessage(mrOk);
            EXPECT_EQ(DialogService::current().openFile(FileDialogRequest{}), std::nullopt);
            dialogs.messageBox(mtInformation, QStringLiteral("Done"), mbOK);
        },
        "unexpected open-file dialog");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedDialogService dialogs;
            dialogs.answerMessage(mrYes);
            EXPECT_EQ(messageDlg(QStringLiteral("OK only"), mtInformation, mbOK), mrOk);
        },
        "is not a button of the message box");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedDialogService dialogs;
            dialogs.answerMessage(mrOk, QStringLiteral("Never"));
        },
        "was never shown: \"Never\"");
}

TEST(ScriptedDialogService, NestedServicesRestoreTheOuterOne) {
    ScriptedDialogService outer;
    {
        ScriptedDialogService inner;
        EXPECT_EQ(&DialogService::current(), &inner);
        {
            QtDialogService qt;
            DialogServiceScope scope(&qt);
            EXPECT_EQ(&DialogService::current(), &qt);
        }
        EXPECT_EQ(&DialogService::current(), &inner);
    }
    EXPECT_EQ(&DialogService::current(), &outer);
}

TEST(QtDialogService, ServesOnlyWhileItLivesAndNothingIsInstalled) {
    // The test main's scripted service is taken out for a moment.
    DialogServiceScope none(nullptr);
    DialogService& before = DialogService::current();
    {
        QtDialogService qt;
        EXPECT_EQ(&DialogService::current(), &qt);
        {
            ScriptedDialogService scripted;
            EXPECT_EQ(&DialogService::current(), &scripted);
        }
        EXPECT_EQ(&DialogService::current(), &qt);
    }
    // Gone: boxes are logged again, never shown by a dead service.
    EXPECT_EQ(&DialogService::current(), &before);
    EXPECT_EQ(messageDlg(QStringLiteral("logged"), mtConfirmation, mbYesNo), mrNo);
}

namespace {

// Acts on the modal dialog once it is up.
template <typename Dialog, typename F>
void whenShown(F action) {
    QTimer::singleShot(0, [action] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        action(dialog);
    });
}

} // namespace

TEST(QtDialogService, MessageBoxShowsTheSetAndReturnsThePressedButton) {
    QtDialogService qt;
    whenShown<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Warning"));
        EXPECT_EQ(box->text(), QStringLiteral("Configuration Error: X"));
        EXPECT_EQ(box->buttons().size(), 3);
        box->button(QMessageBox::YesToAll)->click();
    });
    EXPECT_EQ(qt.messageBox(mtWarning, QStringLiteral("Configuration Error: X"), mbYesNoYesToAll),
              mrYesToAll);

    whenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(qt.messageBox(mtWarning, QStringLiteral("Ignore?"), mbIgnoreCancel), mrCancel);

    whenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(qt.messageBox(mtConfirmation, QStringLiteral("Save?"), mbYesNo), mrNo);
}

TEST(QtDialogService, OpenDialogStartsInTheFolderWithTheConvertedFilter) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("plant.OVI")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    QtDialogService qt;
    FileDialogRequest request;
    request.caption = QStringLiteral("Open Inspector");
    request.initialDir = dir.path();
    request.filter = QStringLiteral("Inspector files (*.ovi)|*.ovi|All Files (*.*)|*.*");
    request.options = ofHideReadOnly | ofFileMustExist;

    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Open Inspector"));
        EXPECT_EQ(dialog->directory().absolutePath(), QDir(dir.path()).absolutePath());
        EXPECT_EQ(dialog->nameFilters(), (QStringList{QStringLiteral("Inspector files (*.ovi)"),
                                                      QStringLiteral("All Files (*)")}));
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        dialog->selectFile(file.fileName());
        QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(qt.openFile(request), QFileInfo(file.fileName()).absoluteFilePath());

    whenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(qt.openFile(request), std::nullopt);
}
