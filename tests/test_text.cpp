#include "data/text.h"

#include <gtest/gtest.h>

using namespace meridoc::text;

TEST(Text, EveryByteSurvivesTheRoundTripThroughWidgets) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(toCp1252(fromCp1252(all)), all);
}

TEST(Text, Cp1252MapsItsOwnCharactersAndReplacesOthers) {
    const struct {
        QString text;
        QByteArray bytes;
    } cases[] = {
        {QStringLiteral("Jos\u00e9"), "Jos\xe9"},
        {QStringLiteral("\u20ac5"), "\x80"
                                    "5"},
        {QStringLiteral("\u0152uvre"), "\x8cuvre"},
        {QStringLiteral("\u4e2d"), "?"},
        {QString::fromUtf8("\xf0\x9f\x98\x80"), "?"}, // one character outside the BMP, one byte
    };
    for (const auto &c : cases)
        EXPECT_EQ(toCp1252(c.text), c.bytes) << c.text.toStdString();
}

TEST(Text, UpperCasingTouchesOnlyAsciiLetters) {
    EXPECT_EQ(upperAscii(QByteArray("abz-AZ\xe9\xff")), QByteArray("ABZ-AZ\xe9\xff"));
    EXPECT_EQ(upperAscii(QStringLiteral("m\u00e9ta")), QStringLiteral("M\u00e9TA"));
}

TEST(Text, TrimmingRemovesCodesUpTo32AtBothEnds) {
    EXPECT_EQ(trimmed(QByteArray("\t\x01 a b \r\n\x1f")), QByteArray("a b"));
    EXPECT_EQ(trimmed(QByteArray(" \x7f ")), QByteArray("\x7f"));
    EXPECT_EQ(trimmed(QStringLiteral("  \u00a0x ")), QStringLiteral("\u00a0x"));
    EXPECT_TRUE(trimmed(QByteArray("   ")).isEmpty());
}
