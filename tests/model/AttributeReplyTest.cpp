// Decoding of the raw attribute reply: class byte, type byte, minimum text,
// zero, maximum text, zero; unknown codes fall back to monitor and string, and
// a reply that is cut short is refused without reading past its end.

#include "model/KIDuxlaneItem.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

QByteArray Reply(std::initializer_list<char> bytes) {
    return QByteArray(bytes.begin(), bytes.size());
}

TEST(AttributeReply, TunableRealWithLimits) {
    const QByteArray reply = Reply({2, 0x21, '0', '.', '5', 0, '1', '0', '0', 0});
    TKIItemAttributes a;
    ASSERT_TRUE(DecodeAttributeReply(reply, a));
    EXPECT_EQ(a.classType, vctTunable);
    EXPECT_EQ(a.dataType, vdtReal);
    EXPECT_EQ(a.minValue, QStringLiteral("0.5"));
    EXPECT_EQ(a.maxValue, QStringLiteral("100"));
}

TEST(AttributeReply, ClassCodes) {
    const std::pair<int, ItemClassType> table[] = {
        {0, vctMonitor}, {1, vctMonitor}, {2, vctTunable},   {3, vctConfigure},
        {7, vctMonitor}, {9, vctMonitor}, {255, vctMonitor},
    };
    for (const auto& [code, expected] : table) {
        EXPECT_EQ(ItemClassFromCode(static_cast<std::uint8_t>(code)), expected) << code;
    }
}

TEST(AttributeReply, DataTypeCodes) {
    const std::pair<int, ItemDataType> table[] = {
        {0x01, vdtBoolean}, {0x02, vdtString},  {0x03, vdtInteger}, {0x04, vdtInteger},
        {0x20, vdtReal},    {0x21, vdtReal},    {0x30, vdtReal},    {0x31, vdtReal},
        {0x40, vdtTime},    {0x41, vdtString},  {0x42, vdtTimer},   {0x50, vdtString},
        {0x51, vdtString},  {0x83, vdtInteger}, {0x84, vdtInteger}, {0x85, vdtString},
        {0x00, vdtString},  {0xFF, vdtString},
    };
    for (const auto& [code, expected] : table) {
        EXPECT_EQ(ItemDataTypeFromCode(static_cast<std::uint8_t>(code)), expected) << code;
    }
}

TEST(AttributeReply, ZeroCodeBytesDoNotShiftTheTexts) {
    // Decoded by position: a zero class or type byte is a code, not the end of
    // the minimum text.
    TKIItemAttributes a;
    ASSERT_TRUE(DecodeAttributeReply(Reply({0, 0, '1', 0, '9', 0}), a));
    EXPECT_EQ(a.classType, vctMonitor);
    EXPECT_EQ(a.dataType, vdtString);
    EXPECT_EQ(a.minValue, QStringLiteral("1"));
    EXPECT_EQ(a.maxValue, QStringLiteral("9"));
}

TEST(AttributeReply, EmptyLimitsAndMissingFinalZero) {
    TKIItemAttributes a;
    ASSERT_TRUE(DecodeAttributeReply(Reply({3, 0x50, 0, 0}), a));
    EXPECT_EQ(a.classType, vctConfigure);
    EXPECT_TRUE(a.minValue.isEmpty());
    EXPECT_TRUE(a.maxValue.isEmpty());

    // The maximum ends with the reply when its zero is missing.
    ASSERT_TRUE(DecodeAttributeReply(Reply({2, 0x03, '-', '5', 0, '5'}), a));
    EXPECT_EQ(a.minValue, QStringLiteral("-5"));
    EXPECT_EQ(a.maxValue, QStringLiteral("5"));
}

TEST(AttributeReply, TruncatedRepliesAreRefused) {
    TKIItemAttributes a;
    a.minValue = QStringLiteral("untouched");
    EXPECT_FALSE(DecodeAttributeReply(QByteArray(), a));
    EXPECT_FALSE(DecodeAttributeReply(Reply({2}), a));
    // No zero after the minimum: where the maximum starts is unknown.
    EXPECT_FALSE(DecodeAttributeReply(Reply({2, 0x21}), a));
    EXPECT_FALSE(DecodeAttributeReply(Reply({2, 0x21, '0', '.', '5'}), a));
    EXPECT_EQ(a.minValue, QStringLiteral("untouched"));
}

TEST(AttributeReply, LimitsAreWindows1252) {
    TKIItemAttributes a;
    ASSERT_TRUE(DecodeAttributeReply(Reply({2, 0x50, '\xB0', 'C', 0, '\x80', 0}), a));
    EXPECT_EQ(a.minValue, QString::fromUtf8("\xC2\xB0"
                                            "C"));
    EXPECT_EQ(a.maxValue, QString::fromUtf8("\xE2\x82\xAC"));
}

} // namespace
} // namespace orvane
