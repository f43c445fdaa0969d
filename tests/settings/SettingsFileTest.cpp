#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include <QBuffer>

#include "platform/Exception.h"
#include "platform/TextCodec.h"

using namespace orvane;

namespace {

const QString kFile = QStringLiteral("C:\\Settings\\boiler.cfg");

// The lines a text parses to, or the syntax error it raises.
struct Parsed {
    TSettingsLines lines;
    std::optional<QString> error;
};

Parsed parse(const QByteArray& text) {
    QByteArray copy = text;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    Parsed parsed;
    try {
        ParseSettings(buffer, kFile, parsed.lines);
    } catch (const Exception& e) {
        parsed.error = e.message();
    }
    return parsed;
}

QString syntaxError(int line) {
    return QStringLiteral("Syntax error in configuration file C:\\Settings\\boiler.cfg; line %1.")
        .arg(line);
}

TEST(SettingsFileParse, SplitsAtFirstTabAndKeepsEverythingElse) {
    const Parsed parsed = parse("SERVICE: BURNER.GAIN\t2.50\r\n"
                                "CONFIGURE: UNITS.LABEL\t  spaced \tvalue\t\r\n"
                                " LEADING\t\r\n"
                                "LF.ONLY\t1\n"
                                "SERVICE: BURNER.GAIN\t3.00");
    ASSERT_FALSE(parsed.error) << parsed.error->toStdString();
    EXPECT_EQ(parsed.lines.names, QStringList({"SERVICE: BURNER.GAIN", "CONFIGURE: UNITS.LABEL",
                                               " LEADING", "LF.ONLY", "SERVICE: BURNER.GAIN"}));
    EXPECT_EQ(parsed.lines.values, QStringList({"2.50", "  spaced \tvalue\t", "", "1", "3.00"}));
}

TEST(SettingsFileParse, EditorsByteOrderMarkIsPassedOver) {
    const Parsed parsed = parse("\xEF\xBB\xBF"
                                "A\t1\r\nB\t2\r\n");
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.lines.names, QStringList({"A", "B"}));
}

// Every line the saver accepts reads back as the same name and value; every
// other one is refused with the reason.
TEST(SettingsFileSave, OnlyLinesThatReadBackTheSameAreWritten) {
    const QString longest(kMaxSettingsValueChars, QLatin1Char('x'));
    const struct {
        QString name;
        QString value;
        bool accepted;
    } cases[] = {
        {"SERVICE: A.B", "  spaced\tvalue\t", true},
        {"SERVICE: A.B", QString::fromUtf8("caf\u00e9 \u20ac"), true},
        {"SERVICE: A.B", longest, true},
        {"SERVICE: A.B", longest + QLatin1Char('x'), false},
        {"SERVICE: A.B", "two\r\nlines", false},
        {"SERVICE: A.B", "one\nmore", false},
        {"SERVICE: A.B", QString::fromUtf8("\u4E00"), false},
        {"NAME\tWITH TAB", "1", false},
        {"", "1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString() + " = " + c.value.left(20).toStdString());
        const QString problem = SettingsLineProblem(c.name, c.value);
        EXPECT_EQ(problem.isEmpty(), c.accepted) << problem.toStdString();
        if (c.accepted) {
            QByteArray bytes = toWindows1252(SettingsLine(c.name, c.value)) + "\r\n";
            const Parsed parsed = parse(bytes);
            ASSERT_FALSE(parsed.error);
            EXPECT_EQ(parsed.lines.names, QStringList{c.name});
            EXPECT_EQ(parsed.lines.values, QStringList{c.value});
        }
    }
}

TEST(SettingsFileParse, EmptyLinesAreSkippedButCounted) {
    const Parsed parsed = parse("\r\n\nA\t1\r\n\r\nB\t2\r\n");
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.lines.names, QStringList({"A", "B"}));
    EXPECT_EQ(parse("").lines.size(), 0);
    EXPECT_FALSE(parse("").error);
    EXPECT_FALSE(parse("\r\n\r\n").error);
}

TEST(SettingsFileParse, SyntaxErrorsNameTheFileLine) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"   \r\n", 1},                     // blanks are not an empty line
        {"A\t1\r\n\t\r\n", 2},              // TAB first: no name
        {"\r\nA\t1\r\nNO TAB HERE\r\n", 3}, // the empty first line counts
        {"\n\n\n\nX\r\n", 5},
        {"A\t1\r\nB 2\r\nC\t3\r\n", 2}, // the first bad line stops the parse
        {"\xA0\r\n", 1},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.text);
        ASSERT_TRUE(parsed.error) << c.text;
        EXPECT_EQ(*parsed.error, syntaxError(c.line)) << c.text;
    }
}

TEST(SettingsFileParse, LongValuesAreCutTo256Characters) {
    const QByteArray value(300, 'v');
    const Parsed parsed = parse("LONG\t" + value + "\r\n");
    ASSERT_EQ(parsed.lines.size(), 1);
    EXPECT_EQ(parsed.lines.values[0], QString(kMaxSettingsValueChars, QLatin1Char('v')));
    EXPECT_EQ(parse("EXACT\t" + QByteArray(256, 'e')).lines.values[0].size(), 256);
}

TEST(SettingsFileParse, TextIsWindows1252) {
    const Parsed parsed = parse("TEMP \xB0"
                                "C\t\x80 12\r\n");
    ASSERT_EQ(parsed.lines.size(), 1);
    EXPECT_EQ(parsed.lines.names[0], QStringLiteral("TEMP \u00B0C"));
    EXPECT_EQ(parsed.lines.values[0], QStringLiteral("\u20AC 12"));
}

TEST(SettingsFileText, LineAndSeparatorHelpers) {
    EXPECT_EQ(SettingsLine("A.B", "1,5"), QStringLiteral("A.B\t1,5"));
    EXPECT_EQ(SettingsLine("A.B", ""), QStringLiteral("A.B\t"));
    EXPECT_EQ(ReplaceFirstSeparator("1,234,5", ',', '.'), QStringLiteral("1.234,5"));
    EXPECT_EQ(ReplaceFirstSeparator("12", ',', '.'), QStringLiteral("12"));
}

TEST(SettingsFileText, RealConversionAcceptsEitherSeparatorOnce) {
    EXPECT_DOUBLE_EQ(SettingsTextToReal("3.14159", '.', ','), 3.14159);
    EXPECT_DOUBLE_EQ(SettingsTextToReal("3,14159", '.', ','), 3.14159);
    EXPECT_DOUBLE_EQ(SettingsTextToReal("3,14159", ',', '.'), 3.14159);
    EXPECT_DOUBLE_EQ(SettingsTextToReal("3.14159", ',', '.'), 3.14159);
    EXPECT_DOUBLE_EQ(SettingsTextToReal("-7.25", '.', ','), -7.25);
    EXPECT_DOUBLE_EQ(SettingsTextToReal("1e3", '.', ','), 1000.0);
    for (const char* bad : {"", "abc", "1,234.5", "1.234,5", "1.2.3", "12 kg"}) {
        for (const QChar local : {QChar('.'), QChar(',')}) {
            const QChar foreign = local == QChar('.') ? QChar(',') : QChar('.');
            try {
                SettingsTextToReal(bad, local, foreign);
                ADD_FAILURE() << bad << " was taken as a number";
            } catch (const Exception& e) {
                EXPECT_EQ(e.message(),
                          QStringLiteral("'%1' is not a valid floating point value").arg(bad));
            }
        }
    }
}

TEST(SettingsReportFormat, FixedPointWithNineSignificantDigits) {
    struct Case {
        double value;
        int decimals;
        const char* point;
    };
    const Case cases[] = {
        {3.14159, 2, "3.14"},
        {7.25, 0, "7"},
        {7.5, 0, "8"},
        {0.0, 2, "0.00"},
        {-2.5, 1, "-2.5"},
        {-0.001, 2, "0.00"}, // no minus before a value that rounds to zero
        {100.0, 3, "100.000"},
        {1.0 / 3.0, 15, "0.333333333000000"}, // digits beyond the ninth are zeros
        {123456.789123, 5, "123456.78900"},   // rounded at the ninth digit
        {999999999.0, 2, "999999999.00"},     // nine integer digits stay fixed
        {1234567890.0, 2, "1.23456789E+09"},  // ten go scientific
        {999999999.7, 0, "1E+09"},            // rounding reaches ten digits
        {-12345678901.0, 3, "-1.23456789E+10"},
        {0.000012345, 4, "0.0000"},
        {0.000012345, 9, "0.000012345"},
        {2.0, -3, "2"},                 // decimals brought into range
        {2.0, 40, "2.000000000000000"}, // at most 15
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatReportReal(c.value, c.decimals, '.'), QString::fromLatin1(c.point))
            << c.value << " with " << c.decimals;
    }
}

TEST(SettingsReportFormat, UsesTheGivenDecimalSeparator) {
    EXPECT_EQ(FormatReportReal(3.14159, 2, ','), QStringLiteral("3,14"));
    EXPECT_EQ(FormatReportReal(7.25, 0, ','), QStringLiteral("7"));
    EXPECT_EQ(FormatReportReal(1234567.5, 1, ','), QStringLiteral("1234567,5"));
    EXPECT_EQ(FormatReportReal(1234567890.0, 2, ','), QStringLiteral("1,23456789E+09"));
}

TEST(SettingsReportFormat, NonFiniteValues) {
    EXPECT_EQ(FormatReportReal(std::numeric_limits<double>::infinity(), 2, '.'), "INF");
    EXPECT_EQ(FormatReportReal(-std::numeric_limits<double>::infinity(), 2, '.'), "-INF");
    EXPECT_EQ(FormatReportReal(std::nan(""), 2, '.'), "NAN");
}

} // namespace
