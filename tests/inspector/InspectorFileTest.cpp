#include "inspector/InspectorFile.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/Exception.h"

using orvane::TInspectorFile;
using orvane::TInspectorFileWriter;
using orvane::TInspectorWindowSettings;

namespace {

// One record as the reader delivered it, for comparing whole files at once.
struct Rec {
    TInspectorFile::Record kind;
    QString a, b, c;
    friend bool operator==(const Rec&, const Rec&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Rec& r) {
        return os << int(r.kind) << " [" << r.a.toStdString() << "|" << r.b.toStdString() << "|"
                  << r.c.toStdString() << "]";
    }
};

Rec sheet(const char* name) {
    return {TInspectorFile::RecordSheet, QString::fromUtf8(name), {}, {}};
}
Rec var(const char* device, const char* item, const char* description) {
    return {TInspectorFile::RecordVariable, QString::fromUtf8(device), QString::fromUtf8(item),
            QString::fromUtf8(description)};
}
Rec error() {
    return {TInspectorFile::RecordError, {}, {}, {}};
}

class InspectorFileReader : public testing::Test {
protected:
    void load(const QByteArray& bytes) {
        m_buffer.close();
        m_buffer.setData(bytes);
        m_buffer.open(QIODevice::ReadOnly);
        m_file.OpenDevice(&m_buffer);
    }

    // Window settings, then every record up to the end or the first error.
    std::vector<Rec> readAll(const QByteArray& bytes) {
        load(bytes);
        m_file.ReadWindowSettings(m_settings);
        std::vector<Rec> records;
        for (int guard = 0; guard < 1000; ++guard) {
            const auto kind = m_file.Next();
            if (kind == TInspectorFile::RecordEnd) {
                break;
            }
            if (kind == TInspectorFile::RecordSheet) {
                records.push_back({kind, m_file.SheetName(), {}, {}});
            } else if (kind == TInspectorFile::RecordVariable) {
                records.push_back(
                    {kind, m_file.DeviceName(), m_file.ItemName(), m_file.Description()});
            } else {
                records.push_back(error());
                break;
            }
        }
        return records;
    }

    QBuffer m_buffer;
    TInspectorFile m_file;
    TInspectorWindowSettings m_settings;
};

TEST_F(InspectorFileReader, ReadsWindowSettingsSheetsAndVariables) {
    const auto records = readAll("Window Settings\r\n10\r\n640\r\n-20\r\n480\r\n1\r\n"
                                 "\r\nSheet1\r\nPump1\tSERVICE: SPEED.GAIN\tidle gain\r\n"
                                 "Pump1\tENGINE.RPM\t\r\n"
                                 "\r\nEmpty\r\n");
    EXPECT_EQ(m_settings, (TInspectorWindowSettings{10, 640, -20, 480, 1}));
    EXPECT_EQ(records,
              (std::vector<Rec>{sheet("Sheet1"), var("Pump1", "SERVICE: SPEED.GAIN", "idle gain"),
                                var("Pump1", "ENGINE.RPM", ""), sheet("Empty")}));
}

TEST_F(InspectorFileReader, FileWithoutWindowSettingsStartsWithASheetName) {
    const auto records = readAll("Main\nPump1\tGAIN\t\n");
    EXPECT_EQ(m_settings, TInspectorWindowSettings{});
    EXPECT_EQ(m_settings.Height, -1);
    EXPECT_EQ(records, (std::vector<Rec>{sheet("Main"), var("Pump1", "GAIN", "")}));
}

TEST_F(InspectorFileReader, RunsOfEmptyLinesSeparateSheetsOnce) {
    const auto records =
        readAll("\r\n\r\nA\r\nD\tX\t\r\n\r\n\r\n\r\nB\r\n\r\nC\r\nD\tY\td\r\n\r\n\r\n");
    EXPECT_EQ(records, (std::vector<Rec>{sheet("A"), var("D", "X", ""), sheet("B"), sheet("C"),
                                         var("D", "Y", "d")}));
}

TEST_F(InspectorFileReader, SplitsFieldsAtTabs) {
    // The sheet name ends at its first TAB; the description keeps its TABs.
    const auto records = readAll("Main\tignored\tmore\r\nPump1\tGAIN\ta\tb\t\r\n");
    EXPECT_EQ(records, (std::vector<Rec>{sheet("Main"), var("Pump1", "GAIN", "a\tb\t")}));
}

TEST_F(InspectorFileReader, MalformedVariableLinesAreFormatErrors) {
    for (const char* line : {"Pump1\tGAIN", "Pump1", "\tGAIN\tx", "Pump1\t\tx", "\t\t", "junk"}) {
        const QByteArray file = QByteArray("Main\r\nPump1\tOK\t\r\n") + line + "\r\nPump1\tB\t\r\n";
        EXPECT_EQ(readAll(file), (std::vector<Rec>{sheet("Main"), var("Pump1", "OK", ""), error()}))
            << line;
        EXPECT_EQ(m_file.LineNumber(), 3) << line;
    }
}

TEST_F(InspectorFileReader, TracksItsState) {
    load("Window Settings\r\n1\r\n2\r\n3\r\n4\r\n0\r\n\r\nA\r\nD\tX\t\r\n\r\nB\r\n");
    EXPECT_EQ(m_file.State(), TInspectorFile::StateBeforeFirstRecord);
    m_file.ReadWindowSettings(m_settings);
    EXPECT_EQ(m_file.Next(), TInspectorFile::RecordSheet);
    EXPECT_EQ(m_file.State(), TInspectorFile::StateInSheet);
    EXPECT_EQ(m_file.Next(), TInspectorFile::RecordVariable);
    EXPECT_EQ(m_file.State(), TInspectorFile::StateInSheet);
    EXPECT_EQ(m_file.Next(), TInspectorFile::RecordSheet);
    EXPECT_EQ(m_file.SheetName(), QStringLiteral("B"));
    EXPECT_EQ(m_file.Next(), TInspectorFile::RecordEnd);
    EXPECT_EQ(m_file.Next(), TInspectorFile::RecordEnd);
}

TEST_F(InspectorFileReader, BadWindowSettingsGiveTheConversionError) {
    struct Case {
        const char* bytes;
        const char* text;
    };
    for (const Case& c :
         {Case{"Window Settings\r\n1\r\nwide\r\n3\r\n4\r\n0\r\n", "wide"},
          Case{"Window Settings\r\n1\r\n2\r\n3\r\n", ""},
          Case{"Window Settings\r\n1\r\n2\r\n3\r\n4\r\n99999999999\r\n", "99999999999"},
          Case{"Window Settings\r\n1.5\r\n2\r\n3\r\n4\r\n0\r\n", "1.5"},
          Case{"Window Settings", ""}}) {
        load(c.bytes);
        try {
            m_file.ReadWindowSettings(m_settings);
            ADD_FAILURE() << "no error for " << c.bytes;
        } catch (const orvane::Exception& e) {
            EXPECT_EQ(
                e.message(),
                QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(c.text)));
        }
    }
}

TEST_F(InspectorFileReader, WindowSettingsMustMatchExactly) {
    const auto records = readAll("window settings\r\n1\r\n");
    EXPECT_EQ(m_settings, TInspectorWindowSettings{});
    EXPECT_EQ(records, (std::vector<Rec>{sheet("window settings"), error()}));
}

TEST_F(InspectorFileReader, OverlongSheetNameIsCutAndItsLineConsumed) {
    const QByteArray name(5000, 'N');
    const auto records = readAll("Main\r\n\r\n" + name + "\r\nPump1\tGAIN\t\r\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].a, QString(orvane::kMaxSheetNameLength, QLatin1Char('N')));
    EXPECT_EQ(records[2], var("Pump1", "GAIN", ""));
}

TEST_F(InspectorFileReader, DecodesWindows1252) {
    const auto records = readAll("Pr\xFC"
                                 "fstand\r\nPump1\tGAIN\t\x80 5\r\n");
    EXPECT_EQ(records, (std::vector<Rec>{sheet("Prüfstand"), var("Pump1", "GAIN", "€ 5")}));
}

TEST_F(InspectorFileReader, EmptyFileHasNoRecords) {
    EXPECT_TRUE(readAll("").empty());
    EXPECT_TRUE(readAll("\r\n\r\n").empty());
    EXPECT_EQ(m_settings, TInspectorWindowSettings{});
}

TEST(InspectorFile, OpenFailsForAMissingFile) {
    TInspectorFile file;
    EXPECT_FALSE(file.Open(QDir::temp().filePath(QStringLiteral("no-such-inspector.ovi"))));
    EXPECT_EQ(file.Next(), TInspectorFile::RecordEnd);
}

TEST(InspectorFileWriter, WritesTheExactFormat) {
    TInspectorFileWriter writer({12, 800, -4, 600, 2});
    writer.AddSheet(QStringLiteral("Speed"));
    writer.AddVariable(QStringLiteral("Pump1"), QStringLiteral("SERVICE: SPEED.GAIN"),
                       QStringLiteral("idle gain"));
    writer.AddVariable(QStringLiteral("Pump2"), QStringLiteral("RPM"), QString());
    writer.AddSheet(QStringLiteral("Empty"));
    EXPECT_EQ(writer.Bytes(), QByteArray("Window Settings\r\n12\r\n800\r\n-4\r\n600\r\n2\r\n"
                                         "\r\nSpeed\r\n"
                                         "Pump1\tSERVICE: SPEED.GAIN\tidle gain\r\n"
                                         "Pump2\tRPM\t\r\n"
                                         "\r\nEmpty\r\n"));
}

TEST(InspectorFileWriter, KeepsEachRecordOnItsLine) {
    TInspectorFileWriter writer({0, 0, 0, 0, 0});
    writer.AddSheet(QStringLiteral("Pr\u00fcf"));
    writer.AddVariable(QStringLiteral("P"), QStringLiteral("X"), QStringLiteral("a\tb\r\nc\u20ac"));
    EXPECT_EQ(writer.Bytes(), QByteArray("Window Settings\r\n0\r\n0\r\n0\r\n0\r\n0\r\n"
                                         "\r\nPr\xFC"
                                         "f\r\nP\tX\ta\tb  c\x80\r\n"));
}

TEST(InspectorFileWriter, ReplacesAFileOnlyWhenComplete) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plant.ovi"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("previous inspector\r\n");
    }
    TInspectorFileWriter writer({1, 2, 3, 4, 0});
    writer.AddSheet(QStringLiteral("Sheet1"));

    TInspectorFileWriter::FailNextWriteForTesting();
    EXPECT_FALSE(writer.SaveTo(path));
    QFile check(path);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), QByteArray("previous inspector\r\n"));
    check.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("plant.ovi")});

    EXPECT_TRUE(writer.SaveTo(path));
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), writer.Bytes());

    EXPECT_FALSE(writer.SaveTo(dir.filePath(QStringLiteral("missing/folder/x.ovi"))));
}

} // namespace
