#include "download/KDownloadScript.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <optional>
#include <vector>

using namespace orvane;

namespace {

// What a load of a text gave: the statements on success, or the error record.
struct Outcome {
    bool ok = false;
    QString exception;
    int line = -1;
    QString detail;
};

Outcome load(TKDownloadScript& script, const QByteArray& text) {
    QByteArray copy = text;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    Outcome outcome;
    try {
        script.Load(buffer, QStringLiteral("test.scp"));
        outcome.ok = true;
        EXPECT_EQ(script.Error(), nullptr);
    } catch (const Exception& e) {
        outcome.exception = e.message();
        const TKDownloadScriptError* error = script.Error();
        EXPECT_NE(error, nullptr);
        if (error != nullptr) {
            outcome.line = error->LineNumber;
            outcome.detail = error->Message;
            EXPECT_EQ(error->FileName, QStringLiteral("test.scp"));
        }
    }
    return outcome;
}

// The failure a text gives: line and detail ("" and 0 when it loaded).
std::pair<int, QString> failure(const QByteArray& text) {
    TKDownloadScript script;
    const Outcome outcome = load(script, text);
    if (outcome.ok) {
        return {0, QString()};
    }
    EXPECT_EQ(outcome.exception, QStringLiteral("Error in Script file read."));
    return {outcome.line, outcome.detail};
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

const QByteArray kHead = "product PX-200\nbegin 00001000 00000100\n";

} // namespace

TEST(DownloadScript, ReadsStatementsInFileOrder) {
    TKDownloadScript script;
    const Outcome outcome = load(script, "// demo\n"
                                         "product PX-200 rev B\n"
                                         "\n"
                                         "begin 0001A000 00000400\n"
                                         "write 0001A000 3 DE AD BE\n"
                                         "write FFFFFFFF 0\n"
                                         "end\n");
    ASSERT_TRUE(outcome.ok) << outcome.detail.toStdString();
    ASSERT_EQ(script.Count(), 5);

    auto* product = dynamic_cast<TKProductStatement*>(script.Next());
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(product->ProductID(), QStringLiteral("PX-200 rev B"));
    auto* begin = dynamic_cast<TKBeginStatement*>(script.Next());
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->Address(), 0x0001A000u);
    EXPECT_EQ(begin->Length(), 0x400u);
    auto* write = dynamic_cast<TKWriteStatement*>(script.Next());
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(write->Address(), 0x0001A000u);
    EXPECT_EQ(write->Count(), 3);
    EXPECT_EQ(write->Data(), bytes({0xDE, 0xAD, 0xBE}));
    auto* empty = dynamic_cast<TKWriteStatement*>(script.Next());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Address(), 0xFFFFFFFFu);
    EXPECT_EQ(empty->Count(), 0);
    EXPECT_TRUE(empty->Data().empty());
    EXPECT_NE(dynamic_cast<TKEndStatement*>(script.Next()), nullptr);
    EXPECT_EQ(script.Next(), nullptr);
    EXPECT_EQ(script.Next(), nullptr);
}

TEST(DownloadScript, EmptyFileFailsOnLineZero) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.scp"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    TKDownloadScript script;
    try {
        script.Load(path);
        FAIL() << "an empty file loaded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Error in Script file read."));
    }
    ASSERT_NE(script.Error(), nullptr);
    EXPECT_EQ(script.Error()->LineNumber, 0);
    EXPECT_EQ(script.Error()->FileName, path);
    EXPECT_EQ(script.Error()->Message, QStringLiteral("Script file is empty."));
    EXPECT_EQ(script.Count(), 0);
    EXPECT_EQ(script.Next(), nullptr);
}

TEST(DownloadScript, UnopenableFileFailsWithoutErrorRecord) {
    QTemporaryDir dir;
    TKDownloadScript script;
    EXPECT_THROW(script.Load(dir.filePath(QStringLiteral("missing.scp"))), Exception);
    EXPECT_EQ(script.Error(), nullptr);
    EXPECT_THROW(script.Load(dir.path()), Exception); // a folder
    EXPECT_EQ(script.Error(), nullptr);
}

TEST(DownloadScript, OrderCheck) {
    struct Case {
        const char* text;
        int line;
        const char* detail;
    };
    const Case cases[] = {
        {"begin 00000000 00000010\n", 1, "Begin command is before product command."},
        {"product A\nend\nbegin 00000000 00000010\n", 3, "Begin command is after end"},
        {"write 00000000 0\n", 1, "Write command is before product command and begin command."},
        {"product A\nwrite 00000000 0\n", 2, "Write command is before begin command."},
        {"product A\nbegin 00000000 00000010\nend\nwrite 00000000 0\n", 4,
         "Write command is after end"},
        {"product A\nend\nend\n", 3, "Duplicate end statements"},
        {"product A\nproduct B\n", 2, "Product command is not the first command."},
        {"end\nproduct A\n", 2, "Product command is not the first command."},
        {"product A\nflash 00000000\n", 2, "Command is not a valid command."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(failure(c.text), std::make_pair(c.line, QString::fromLatin1(c.detail)));
    }
}

TEST(DownloadScript, OrderAllowsEndFirstAndSeveralBlocks) {
    EXPECT_EQ(failure("end\n"), std::make_pair(0, QString()));
    TKDownloadScript script;
    ASSERT_TRUE(load(script, kHead + "write 00001000 1 01\nbegin 00002000 00000100\n"
                                     "begin 00003000 00000100\nwrite 00003000 1 02\nend\n")
                    .ok);
    EXPECT_EQ(script.Count(), 7);
}

TEST(DownloadScript, StatementsBeforeAFailureStay) {
    TKDownloadScript script;
    const Outcome outcome = load(script, kHead + "write 00001000 1 01\nend\nend\n");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(script.Count(), 4);
    EXPECT_NE(dynamic_cast<TKProductStatement*>(script.Next()), nullptr);
}

TEST(DownloadScript, CommandWordsIgnoreLetterCase) {
    TKDownloadScript script;
    ASSERT_TRUE(load(script, "PRODUCT X\nBegin 00000000 00000010\nwRiTe 00000000 1 7F\nEND\n").ok);
    EXPECT_EQ(script.Count(), 4);
}

TEST(DownloadScript, WriteBytesRunOnOverLines) {
    TKDownloadScript script;
    ASSERT_TRUE(load(script, kHead + "write 00001000 4 01 02\n"
                                     "// the rest of the block\n"
                                     " indented note\n"
                                     "03 04\n"
                                     "end\n")
                    .ok);
    ASSERT_EQ(script.Count(), 4);
    script.Next();
    script.Next();
    auto* write = dynamic_cast<TKWriteStatement*>(script.Next());
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(write->Data(), bytes({1, 2, 3, 4}));

    // The address and count of a write may also follow on the next line.
    TKDownloadScript split;
    ASSERT_TRUE(load(split, kHead + "write\n00001000 2\nAA\nBB\nend\n").ok);
    EXPECT_EQ(split.Count(), 4);
}

TEST(DownloadScript, WriteWithTooFewBytesFails) {
    const QString fewer = QStringLiteral("Write command has fewer data bytes than its count.");
    // The next command, an empty line or the end of the file ends the bytes;
    // none of them may be taken as data.
    EXPECT_EQ(failure(kHead + "write 00001000 3 01 02\nend\n"), std::make_pair(4, fewer));
    EXPECT_EQ(failure(kHead + "write 00001000 3 01 02\n\n03\nend\n"), std::make_pair(4, fewer));
    EXPECT_EQ(failure(kHead + "write 00001000 3 01 02\n// more\n"), std::make_pair(4, fewer));
    // A count far beyond the bytes present reserves nothing for them.
    EXPECT_EQ(failure(kHead + "write 00001000 2147483647 01\n"), std::make_pair(3, fewer));
    EXPECT_EQ(failure(kHead + "write\nend\n"),
              std::make_pair(4, QStringLiteral("Parameter missing from line.")));
}

TEST(DownloadScript, FieldsOfEightHexDigits) {
    const QString badLength = QStringLiteral("Length of address incorrect");
    EXPECT_EQ(failure("product A\nbegin 0000000 00000010\n"), std::make_pair(2, badLength));
    EXPECT_EQ(failure("product A\nbegin 000000000 00000010\n"), std::make_pair(2, badLength));
    EXPECT_EQ(failure("product A\nbegin 00000000 0010\n"), std::make_pair(2, badLength));
    EXPECT_EQ(failure(kHead + "write 1000 1 01\n"), std::make_pair(3, badLength));
    // Two spaces in a row make an empty field.
    EXPECT_EQ(failure("product A\nbegin  00000000 00000010\n"), std::make_pair(2, badLength));
    EXPECT_EQ(failure("product A\nbegin 00000000\n"),
              std::make_pair(2, QStringLiteral("Parameter missing from line.")));

    // Any character that is not a hex digit is refused, never converted.
    EXPECT_EQ(failure("product A\nbegin 0000G000 00000010\n"),
              std::make_pair(2, QStringLiteral("\"0000G000\" holds a character that is not a "
                                               "hexadecimal digit.")));
    EXPECT_EQ(failure(kHead + "write 0000100: 1 01\n").second,
              QStringLiteral("\"0000100:\" holds a character that is not a hexadecimal digit."));
}

TEST(DownloadScript, LowerCaseHexDigitsEqualUpperCase) {
    TKDownloadScript script;
    ASSERT_TRUE(
        load(script, "product A\nbegin abcdef01 0000ffff\nwrite 0a0b0c0d 3 ff aB Cd\nend\n").ok);
    script.Next();
    auto* begin = dynamic_cast<TKBeginStatement*>(script.Next());
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->Address(), 0xABCDEF01u);
    EXPECT_EQ(begin->Length(), 0xFFFFu);
    auto* write = dynamic_cast<TKWriteStatement*>(script.Next());
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(write->Address(), 0x0A0B0C0Du);
    EXPECT_EQ(write->Data(), bytes({0xFF, 0xAB, 0xCD}));
}

TEST(DownloadScript, DataBytesMustBeTwoHexDigits) {
    struct Case {
        const char* line;
        const char* detail;
    };
    const Case cases[] = {
        {"write 00001000 2 01 0G\n", "Data byte \"0G\" is not two hexadecimal digits."},
        {"write 00001000 2 01 1\n", "Data byte \"1\" is not two hexadecimal digits."},
        {"write 00001000 2 01 123\n", "Data byte \"123\" is not two hexadecimal digits."},
        {"write 00001000 2 01  02\n", "Data byte \"\" is not two hexadecimal digits."},
        {"write 00001000 2 01 -1\n", "Data byte \"-1\" is not two hexadecimal digits."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(failure(kHead + c.line), std::make_pair(3, QString::fromLatin1(c.detail)));
    }
}

TEST(DownloadScript, CountIsADecimalNumberFromZero) {
    EXPECT_EQ(failure(kHead + "write 00001000 four 01\n"),
              std::make_pair(3, QStringLiteral("'four' is not a valid integer value")));
    EXPECT_EQ(failure(kHead + "write 00001000 2147483648 01\n"),
              std::make_pair(3, QStringLiteral("'2147483648' is not a valid integer value")));
    EXPECT_EQ(failure(kHead + "write 00001000 99999999999999999999999 01\n").second,
              QStringLiteral("'99999999999999999999999' is not a valid integer value"));
    EXPECT_EQ(failure(kHead + "write 00001000 $10 01\n").second,
              QStringLiteral("'$10' is not a valid integer value"));
    EXPECT_EQ(failure(kHead + "write 00001000 -1\n"),
              std::make_pair(3, QStringLiteral("Count of write command is negative.")));

    TKDownloadScript script;
    ASSERT_TRUE(load(script, kHead + "write 00001000 +2 01 02\nwrite 00001000 -0\n").ok);
    EXPECT_EQ(script.Count(), 4);
}

TEST(DownloadScript, OneStatementPerLine) {
    const auto extra = [](const char* text) {
        return QStringLiteral("Unexpected text after the last parameter: \"%1\".")
            .arg(QLatin1String(text));
    };
    EXPECT_EQ(failure(kHead + "end now\n"), std::make_pair(3, extra("now")));
    EXPECT_EQ(failure("product A\nbegin 00000000 00000010 00000020\n"),
              std::make_pair(2, extra("00000020")));
    // More bytes than the count: the surplus would otherwise be lost.
    EXPECT_EQ(failure(kHead + "write 00001000 1 01 02\n"), std::make_pair(3, extra("02")));
    EXPECT_EQ(failure(kHead + "write 00001000 2 01\n02 03\n"), std::make_pair(4, extra("03")));
    // A second statement on the line is not a parameter...
    EXPECT_EQ(failure("product A\nbegin 00000000 00000010 end\n"), std::make_pair(2, extra("end")));
    // ...and a command word where a parameter belongs is checked like any other token.
    EXPECT_EQ(failure("product A\nbegin end 00000010\n"),
              std::make_pair(2, QStringLiteral("Length of address incorrect")));
    EXPECT_EQ(failure(kHead + "write 00001000 1 end\n").second,
              QStringLiteral("Data byte \"end\" is not two hexadecimal digits."));

    // Spaces at the end of a line are no parameter.
    TKDownloadScript script;
    ASSERT_TRUE(load(script, "product A\nbegin 00000000 00000010  \nwrite 00000000 2 01 \n02 \n"
                             "end   \n")
                    .ok);
    EXPECT_EQ(script.Count(), 4);
}

TEST(DownloadScript, ProductIdentifierIsTheRestOfTheLine) {
    TKDownloadScript script;
    ASSERT_TRUE(load(script, "product  PX 200  end  \nend\n").ok);
    auto* product = dynamic_cast<TKProductStatement*>(script.Next());
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(product->ProductID(), QStringLiteral(" PX 200  end  "));

    TKDownloadScript euro;
    ASSERT_TRUE(load(euro, "product Unit \x80\xE9\nend\n").ok);
    product = dynamic_cast<TKProductStatement*>(euro.Next());
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(product->ProductID(), QStringLiteral("Unit \u20AC\u00E9"));

    EXPECT_EQ(failure("product\n"),
              std::make_pair(1, QStringLiteral("Parameter missing from line.")));
}

TEST(DownloadScript, LineLengthLimit) {
    const QByteArray id500 = QByteArray(500 - 8, 'x');
    TKDownloadScript script;
    ASSERT_TRUE(load(script, "product " + id500 + "\r\nend\r\n").ok);
    EXPECT_EQ(dynamic_cast<TKProductStatement*>(script.Next())->ProductID().size(), 492);

    const QString corrupt = QStringLiteral("Script File is corrupt");
    EXPECT_EQ(failure("product " + id500 + "y\nend\n"), std::make_pair(1, corrupt));
    EXPECT_EQ(failure("// note\n\n/" + QByteArray(500, '/') + "\n"), std::make_pair(3, corrupt));
    // A long run of junk without any line end is refused after 501 characters.
    EXPECT_EQ(failure(QByteArray(1 << 20, 'z')), std::make_pair(1, corrupt));
    // So is a NUL, which no text file holds.
    EXPECT_EQ(failure(QByteArray("product A\nend\0\n", 15)), std::make_pair(2, corrupt));
}

TEST(DownloadScript, LineNumbersCountSkippedLines) {
    EXPECT_EQ(failure("// header\n\n// more\n\nbegin 00000000 00000010\n"),
              std::make_pair(5, QStringLiteral("Begin command is before product command.")));
    EXPECT_EQ(failure("\r\n// note\r\nproduct A\r\n\r\nbegin 00000000 0000001\r\n").first, 5);
    // A lone CR ends a line too.
    EXPECT_EQ(failure("// a\rproduct A\r\rend\rend\r").first, 5);
}

TEST(DownloadScript, IndentedLines) {
    // An indented statement would be dropped without notice: refused.
    EXPECT_EQ(failure("product A\n  begin 00000000 00000010\n"),
              std::make_pair(
                  2, QStringLiteral("Statement does not start at the beginning of the line.")));
    // Other indented lines hold no statement, like comments.
    TKDownloadScript script;
    ASSERT_TRUE(load(script, "product A\n   \n notes: rev 2\nend\n// done\n ").ok);
    EXPECT_EQ(script.Count(), 2);
}

TEST(DownloadScript, ScriptWithoutEndIsComplete) {
    TKDownloadScript script;
    ASSERT_TRUE(load(script, kHead + "write 00001000 1 01").ok);
    EXPECT_EQ(script.Count(), 3);
}

TEST(DownloadScript, ExampleScriptLoads) {
    TKDownloadScript script;
    script.Load(test::sourceDir() + QStringLiteral("/examples/demo-application.scp"));
    EXPECT_GE(script.Count(), 4);
    EXPECT_NE(dynamic_cast<TKProductStatement*>(script.Next()), nullptr);
}
