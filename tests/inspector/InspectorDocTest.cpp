// Inspector documents: sheets, the shown sheet, moving, modified state, and
// saving through the dialog service.

#include "inspector/InspectorDoc.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "InspectorTestSupport.h"
#include "ScriptedDialogService.h"
#include "inspector/VarClipboard.h"

namespace orvane {
namespace {

using test::ScriptedDialogService;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class InspectorDocument : public testing::Test {
protected:
    void SetUp() override {
        m_pump = m_controls.add(QStringLiteral("PUMP1"));
        ASSERT_TRUE(m_dir.isValid());
    }

    TOVVariableList* addSheet(const char* name) {
        return m_doc.AddSheet(QString::fromUtf8(name), m_events.changed());
    }
    QStringList names() const {
        QStringList out;
        for (int i = 0; i < m_doc.SheetCount(); ++i) {
            out << m_doc.Sheet(i)->Name();
        }
        return out;
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    test::Controls m_controls;
    TKIDevice* m_pump = nullptr;
    test::SheetEvents m_events;
    QTemporaryDir m_dir;
    ScriptedDialogService m_dialogs;
    TInspectorDoc m_doc;
};

TEST_F(InspectorDocument, OnlyTheShownSheetIsAdvised) {
    EXPECT_FALSE(m_doc.IsModified());
    TOVVariableList* first = addSheet("First");
    EXPECT_EQ(m_doc.CurrentSheet(), first);
    EXPECT_TRUE(first->Advised());
    EXPECT_TRUE(m_doc.IsModified());

    TOVVariableList* second = addSheet("Second");
    EXPECT_EQ(m_doc.CurrentSheet(), second);
    EXPECT_FALSE(first->Advised());
    EXPECT_TRUE(second->Advised());

    m_doc.SetModified(false);
    EXPECT_EQ(m_doc.SelectSheet(0), first);
    EXPECT_TRUE(first->Advised());
    EXPECT_FALSE(second->Advised());
    EXPECT_FALSE(m_doc.IsModified());
}

TEST_F(InspectorDocument, RemovingASheetShowsItsNeighbour) {
    addSheet("A");
    addSheet("B");
    addSheet("C");
    m_doc.SetModified(false);
    EXPECT_EQ(m_doc.RemoveSheet(1)->Name(), QStringLiteral("A"));
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_EQ(names(), (QStringList{"A", "C"}));
    EXPECT_EQ(m_doc.RemoveSheet(0)->Name(), QStringLiteral("C"));
    EXPECT_TRUE(m_doc.CurrentSheet()->Advised());
    EXPECT_EQ(names(), (QStringList{"C"}));
    // The only sheet stays.
    EXPECT_EQ(m_doc.RemoveSheet(0)->Name(), QStringLiteral("C"));
    EXPECT_EQ(m_doc.SheetCount(), 1);
}

TEST_F(InspectorDocument, MovesSheetsLikeTheTabBar) {
    struct Case {
        int from, to;
        QStringList order;
        int position;
    };
    for (const Case& c : {Case{0, 2, {"B", "A", "C", "D"}, 1}, Case{3, 1, {"A", "D", "B", "C"}, 1},
                          Case{0, 3, {"B", "C", "A", "D"}, 2}, Case{2, 0, {"C", "A", "B", "D"}, 0},
                          Case{1, 1, {"A", "B", "C", "D"}, 1}, Case{1, -1, {"A", "C", "D", "B"}, 3},
                          Case{0, 4, {"B", "C", "D", "A"}, 3}}) {
        TInspectorDoc doc;
        for (const char* name : {"A", "B", "C", "D"}) {
            doc.AddSheet(QString::fromUtf8(name), {});
        }
        doc.SetModified(false);
        TOVVariableList* moved = doc.MoveSheet(c.from, c.to);
        QStringList order;
        for (int i = 0; i < doc.SheetCount(); ++i) {
            order << doc.Sheet(i)->Name();
        }
        EXPECT_EQ(order, c.order) << c.from << "->" << c.to;
        EXPECT_EQ(doc.IndexOfSheet(moved), c.position) << c.from << "->" << c.to;
        EXPECT_TRUE(doc.IsModified());
    }
}

TEST_F(InspectorDocument, ChangesInSheetsMakeItModified) {
    addSheet("A");
    m_doc.SetFileName(path("x.ovi"));
    EXPECT_FALSE(m_doc.IsModified());

    m_doc.SetSheetName(QStringLiteral("Renamed"));
    EXPECT_EQ(m_doc.SheetName(), QStringLiteral("Renamed"));
    EXPECT_TRUE(m_doc.IsModified());

    m_doc.SetFileName(path("x.ovi"));
    m_doc.AddVariable(QStringLiteral("Gain"), QString(), m_pump);
    EXPECT_FALSE(m_doc.IsModified()); // the reader's way of filling

    m_doc.CurrentSheet()->Get(0)->SetDescription(QStringLiteral("edited"));
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_FALSE(m_doc.Modified()); // held by the sheet

    m_doc.CurrentSheet()->SetModified(false);
    m_doc.CurrentSheet()->Delete(0);
    EXPECT_TRUE(m_doc.Modified()); // structural changes reach the document
}

TEST_F(InspectorDocument, PasteToSheetChoosesTheSheet) {
    addSheet("A");
    addSheet("B");
    TVariableClipboard clipboard;
    clipboard.Add(QStringLiteral("X"), QString(), m_pump);
    m_doc.PasteToSheet(0, -1, clipboard);
    m_doc.PasteToSheet(-1, -1, clipboard);
    m_doc.PasteToSheet(-1, 0, clipboard);
    EXPECT_EQ(m_doc.Sheet(0)->Count(), 1);
    EXPECT_EQ(m_doc.Sheet(1)->Count(), 2);
    EXPECT_TRUE(m_doc.Sheet(1)->Get(0)->IsAdvised()); // pasted into the shown sheet
    EXPECT_FALSE(m_doc.Sheet(0)->Get(0)->IsAdvised());
}

TEST_F(InspectorDocument, WritesTheExactFile) {
    addSheet("Speed");
    m_doc.AddVariable(QStringLiteral("Service: Speed.Gain"), QStringLiteral("idle gain"), m_pump);
    m_doc.AddVariable(QStringLiteral("Engine.Rpm"), QStringLiteral("a\tb"), m_pump);
    addSheet("Empty");
    m_dialogs.answerSaveFile(path("plant.ovi"));

    EXPECT_EQ(m_doc.Save(100, 640, 20, 480, 1), path("plant.ovi"));

    EXPECT_EQ(readFile(path("plant.ovi")),
              QByteArray("Window Settings\r\n100\r\n640\r\n20\r\n480\r\n1\r\n"
                         "\r\nSpeed\r\n"
                         "PUMP1\tSERVICE: SPEED.GAIN\tidle gain\r\n"
                         "PUMP1\tENGINE.RPM\ta\tb\r\n"
                         "\r\nEmpty\r\n"));
    EXPECT_EQ(m_doc.FileName(), path("plant.ovi"));
    EXPECT_FALSE(m_doc.IsModified());
    ASSERT_EQ(m_dialogs.fileDialogs().size(), 1u);
    const FileDialogRequest& request = m_dialogs.fileDialogs()[0].request;
    EXPECT_EQ(request.filter, QStringLiteral("Inspector file (*.ovi)|*.OVI|All Files (*.*)|*.*"));
    EXPECT_EQ(request.defaultExt, QStringLiteral("ovi"));
    EXPECT_EQ(request.options, TOpenOptions(ofOverwritePrompt) | ofHideReadOnly);

    // A known name is saved again without asking; a change marks it again.
    m_doc.Sheet(0)->Get(0)->SetDescription(QStringLiteral("run gain"));
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_EQ(m_doc.Save(-8, 800, -8, 600, 2), path("plant.ovi"));
    EXPECT_TRUE(readFile(path("plant.ovi"))
                    .startsWith("Window Settings\r\n-8\r\n800\r\n-8\r\n600\r\n2\r\n\r\nSpeed\r\n"
                                "PUMP1\tSERVICE: SPEED.GAIN\trun gain\r\n"));
    EXPECT_FALSE(m_doc.IsModified());
    EXPECT_EQ(m_dialogs.fileDialogs().size(), 1u);
}

TEST_F(InspectorDocument, OneEmptySheetIsTheHeaderAndItsName) {
    addSheet("Sheet1");
    EXPECT_EQ(m_doc.FileBytes({1, 2, 3, 4, 0}),
              QByteArray("Window Settings\r\n1\r\n2\r\n3\r\n4\r\n0\r\n\r\nSheet1\r\n"));
}

TEST_F(InspectorDocument, CancellingTheFirstSaveWritesNothing) {
    addSheet("Sheet1");
    m_dialogs.answerSaveFile(std::nullopt);
    EXPECT_EQ(m_doc.Save(0, 100, 0, 100, 0), QString());
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_TRUE(m_doc.FileName().isEmpty());
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());

    // Save As always asks, and cancelling keeps the old name and file.
    m_dialogs.answerSaveFile(path("a.ovi"));
    EXPECT_EQ(m_doc.SaveAs(0, 100, 0, 100, 0), path("a.ovi"));
    m_doc.SetModified(true);
    m_dialogs.answerSaveFile(std::nullopt);
    EXPECT_EQ(m_doc.SaveAs(0, 100, 0, 100, 0), QString());
    EXPECT_EQ(m_doc.FileName(), path("a.ovi"));
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"a.ovi"});
}

TEST_F(InspectorDocument, AFailedSaveKeepsThePreviousFileAndTheChanges) {
    addSheet("Sheet1");
    m_dialogs.answerSaveFile(path("plant.ovi"));
    ASSERT_FALSE(m_doc.Save(0, 100, 0, 100, 0).isEmpty());
    const QByteArray previous = readFile(path("plant.ovi"));

    m_doc.SetSheetName(QStringLiteral("Changed"));
    TInspectorFileWriter::FailNextWriteForTesting();
    m_dialogs.answerMessage(mrOk, QStringLiteral("Error opening file.  File could not be found"));
    EXPECT_EQ(m_doc.Save(0, 100, 0, 100, 0), QString());
    EXPECT_EQ(readFile(path("plant.ovi")), previous);
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"plant.ovi"});

    // A folder that does not exist: the same message, nothing written.
    m_dialogs.answerSaveFile(path("missing/plant.ovi"));
    m_dialogs.answerMessage(mrOk, QStringLiteral("Error opening file.  File could not be found"));
    EXPECT_EQ(m_doc.SaveAs(0, 100, 0, 100, 0), QString());
    EXPECT_TRUE(m_doc.IsModified());
    EXPECT_EQ(m_dialogs.messages().at(0).type, mtError);
    EXPECT_EQ(m_dialogs.messages().at(0).buttons, mbOK);
    // The document keeps its previous file: the next Save writes there.
    EXPECT_EQ(m_doc.FileName(), path("plant.ovi"));
    EXPECT_EQ(m_doc.Save(0, 100, 0, 100, 0), path("plant.ovi"));
    EXPECT_NE(readFile(path("plant.ovi")), previous);
    EXPECT_FALSE(m_doc.IsModified());
}

TEST_F(InspectorDocument, SheetNamesThatWouldNotReadBackAreRefusedAtSave) {
    addSheet("Boiler");
    m_dialogs.answerSaveFile(path("plant.ovi"));
    ASSERT_EQ(m_doc.Save(0, 100, 0, 100, 0), path("plant.ovi"));
    const QByteArray saved = readFile(path("plant.ovi"));

    for (const char* bad : {"", "Tab\there", "two\nlines", "\xe4\xb8\x80"}) {
        SCOPED_TRACE(bad);
        m_doc.SetSheetName(QString::fromUtf8(bad));
        const QString message =
            QStringLiteral("The sheet name \"%1\" cannot be saved in an inspector "
                           "file: give the sheet a name of one line, without TAB, of at "
                           "most 999 characters of the system code page.")
                .arg(QString::fromUtf8(bad));
        m_dialogs.answerMessage(mrOk, message);
        EXPECT_EQ(m_doc.Save(0, 100, 0, 100, 0), QString());
        // Nothing written: the file still reads back as it was saved.
        EXPECT_EQ(readFile(path("plant.ovi")), saved);
        EXPECT_TRUE(m_doc.IsModified());
    }
    m_doc.SetSheetName(QString::fromUtf8("K\xc3\xa4lte \xe2\x82\xac"));
    EXPECT_EQ(m_doc.Save(0, 100, 0, 100, 0), path("plant.ovi"));
}

} // namespace
} // namespace orvane
