#include "settings/SettingsText.h"

#include <gtest/gtest.h>

TEST(IntegerText, DecimalFormsReadAsTheirNumber) {
    EXPECT_EQ(TextToInteger("250", -1), 250);
    EXPECT_EQ(TextToInteger("0007", -1), 7);
    EXPECT_EQ(TextToInteger("   42", -1), 42);
    EXPECT_EQ(TextToInteger("\t42", -1), 42);
    EXPECT_EQ(TextToInteger("+42", -1), 42);
    EXPECT_EQ(TextToInteger("-42", -1), -42);
    EXPECT_EQ(TextToInteger("  -0", -1), 0);
}

TEST(IntegerText, HexadecimalFormsReadAsTheirNumber) {
    EXPECT_EQ(TextToInteger("$FA", -1), 250);
    EXPECT_EQ(TextToInteger("0xFA", -1), 250);
    EXPECT_EQ(TextToInteger("0Xfa", -1), 250);
    EXPECT_EQ(TextToInteger("xFA", -1), 250);
    EXPECT_EQ(TextToInteger("XfA", -1), 250);
    EXPECT_EQ(TextToInteger(" -$10", -1), -16);
    EXPECT_EQ(TextToInteger("$7FFFFFFF", -1), 2147483647);
}

TEST(IntegerText, AnythingElseReadsAsTheDefault) {
    for (const char* text : {"", " ", "-", "+", "$", "0x", "x", "12 ", "1 2", "1.5", "+ 1", "$-FA",
                             "00x1F", "0x1G", "12a", "abc", "--1"}) {
        EXPECT_EQ(TextToInteger(text, -7), -7) << '"' << text << '"';
    }
}

TEST(IntegerText, ThirtyTwoBitRange) {
    EXPECT_EQ(TextToInteger("2147483647", -1), 2147483647);
    EXPECT_EQ(TextToInteger("2147483648", -1), -1);
    EXPECT_EQ(TextToInteger("-2147483648", -1), -2147483647 - 1);
    EXPECT_EQ(TextToInteger("-2147483649", -1), -1);
    EXPECT_EQ(TextToInteger("99999999999999999999999", -1), -1);
    EXPECT_EQ(TextToInteger("$80000000", -1), -1);
    EXPECT_EQ(TextToInteger("-$80000000", -1), -2147483647 - 1);
}

TEST(IntegerText, WrittenAsPlainDecimal) {
    EXPECT_EQ(IntegerToText(250), "250");
    EXPECT_EQ(IntegerToText(-3), "-3");
    EXPECT_EQ(IntegerToText(0), "0");
    EXPECT_EQ(IntegerToText(-2147483647 - 1), "-2147483648");
}

TEST(BooleanText, AnyNonZeroNumberIsTrueAndAWordIsTheDefault) {
    EXPECT_EQ(BoolToText(true), "1");
    EXPECT_EQ(BoolToText(false), "0");
    EXPECT_TRUE(TextToBool("2", false));
    EXPECT_TRUE(TextToBool("-1", false));
    EXPECT_FALSE(TextToBool("0", true));
    EXPECT_TRUE(TextToBool("yes", true));
    EXPECT_FALSE(TextToBool("true", false));
    EXPECT_TRUE(TextToBool("", true));
}

TEST(StoredText, RoundTripsAwkwardTexts) {
    for (const std::string text : {"", "/home/a, b", "C:\\Logs", "two\nlines\r", "@home", "@@",
                                   " padded ", "@Variant(x)", "a=b", "[x]"}) {
        const std::string encoded = EncodeStoredText(text);
        EXPECT_EQ(encoded.find('\n'), std::string::npos);
        const TStoredValue decoded = DecodeStoredText(encoded);
        EXPECT_EQ(decoded.Kind, TStoredValue::TKind::Text) << text;
        EXPECT_EQ(decoded.Text, text);
    }
}

TEST(StoredText, TypedValuesAreNotTextAndTextStopsAtNul) {
    EXPECT_EQ(DecodeStoredText("@Variant(\\0\\0\\0\\x7f)").Kind, TStoredValue::TKind::NotText);
    EXPECT_EQ(DecodeStoredText("@ByteArray(ab)").Kind, TStoredValue::TKind::NotText);
    EXPECT_EQ(DecodeStoredText("@Invalid()").Kind, TStoredValue::TKind::NotText);
    EXPECT_EQ(DecodeStoredText("@home").Text, "@home");
    EXPECT_EQ(DecodeStoredText("ab\\0cd").Text, "ab");
    EXPECT_EQ(DecodeStoredText(std::string("ab\0cd", 5)).Text, "ab");
}

TEST(SettingsDocument, FindsValuesBySectionAndNameInAnyCase) {
    const TSettingsDocument document("[Software\\Quellor\\Stirwatch]\r\n"
                                     "BeepOnMove=1\r\n"
                                     "; a comment=5\r\n"
                                     "[Software\\Quellor\\Stirwatch\\Video]\r\n"
                                     " Top = 10\r\n"
                                     "Empty=\r\n");
    EXPECT_EQ(document.Find("Software\\Quellor\\Stirwatch", "BeepOnMove").Text, "1");
    EXPECT_EQ(document.Find("software\\quellor\\stirwatch", "beeponmove").Text, "1");
    EXPECT_EQ(document.Find("Software\\Quellor\\Stirwatch", "Top").Kind,
              TStoredValue::TKind::Absent);
    EXPECT_EQ(document.Find("Software\\Quellor\\Stirwatch", "; a comment").Kind,
              TStoredValue::TKind::Absent);
    EXPECT_EQ(document.Find("Software\\Quellor\\Stirwatch\\Video", "Top").Text, " 10");
    const TStoredValue empty = document.Find("Software\\Quellor\\Stirwatch\\Video", "Empty");
    EXPECT_EQ(empty.Kind, TStoredValue::TKind::Text);
    EXPECT_EQ(empty.Text, "");
}

TEST(SettingsDocument, SetAddsSectionsAndValuesInPlaceAndKeepsOtherLines) {
    TSettingsDocument document("garbage line without equals\n"
                               "[A]\n"
                               "x=1\n"
                               "\n"
                               "[B]\n"
                               "y=2");
    document.Set("A", "z", "3");
    document.Set("B", "Y", "4");
    document.Set("C", "w", "5");
    EXPECT_EQ(document.Text(), "garbage line without equals\n"
                               "[A]\n"
                               "x=1\n"
                               "z=3\n"
                               "\n"
                               "[B]\n"
                               "y=4\n"
                               "\n"
                               "[C]\n"
                               "w=5\n");
    EXPECT_TRUE(document.HasSection("c"));
    EXPECT_FALSE(document.HasSection("D"));
}
