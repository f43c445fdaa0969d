#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QLocale>

using namespace orvane;

TEST(TextCodec, Windows1252RoundTripOfEveryByte) {
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(static_cast<char>(b));
    }
    const QString text = fromWindows1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(text[0x80], QChar(0x20AC)); // euro sign
    EXPECT_EQ(text[0x92], QChar(0x2019)); // right single quote
    EXPECT_EQ(text[0x9F], QChar(0x0178));
    EXPECT_EQ(text[0x81], QChar(0x81)); // unused byte keeps its number
    EXPECT_EQ(text[0xE9], QChar(0xE9));
    EXPECT_EQ(toWindows1252(text), all);
}

TEST(TextCodec, UnmappableCharactersBecomeOneQuestionMarkEach) {
    const QString text = QStringLiteral("a\u0100b\u4E2D") + QString::fromUcs4(U"\U0001F600") +
                         QStringLiteral("\u20AC");
    EXPECT_EQ(toWindows1252(text), QByteArray("a?b??\x80"));
}

TEST(TextCodec, ReadsLinesWithCrLfOrLf) {
    const QByteArray bytes("first\r\nsecond\n\r\nthird\rstill\n\xE9nd");
    const QStringList expected = {QStringLiteral("first"), QStringLiteral("second"), QString(),
                                  QStringLiteral("third\rstill"), QStringLiteral("\u00E9nd")};
    EXPECT_EQ(splitTextLines(bytes), expected);

    QBuffer buffer;
    buffer.setData(bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    QStringList read;
    QString line;
    while (readTextLine(buffer, line)) {
        read.append(line);
    }
    EXPECT_EQ(read, expected);
    EXPECT_TRUE(splitTextLines(QByteArray("one\r\n")) == QStringList{QStringLiteral("one")});
}

TEST(TextCodec, WritesCrLfLinesInWindows1252) {
    QBuffer buffer;
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(writeTextLine(buffer, QStringLiteral("Caf\u00E9\t1")));
    ASSERT_TRUE(writeTextLine(buffer, QString()));
    EXPECT_EQ(buffer.data(), QByteArray("Caf\xE9\t1\r\n\r\n"));
}

TEST(TextCodec, DecimalSeparatorFollowsTheDefaultLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(systemDecimalSeparator(), QChar(','));
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(systemDecimalSeparator(), QChar('.'));
    QLocale::setDefault(saved);
}
