#include "common/fields.h"
#include "common/numbers.h"

#include <gtest/gtest.h>

using namespace tarv;

TEST(LeadingNumber, ReadsTheLeadingNumberIgnoringBlanks)
{
    EXPECT_EQ(leadingNumber(u" 100001 "), 100001);
    EXPECT_EQ(leadingNumber(u"0100001"), 100001);
    EXPECT_EQ(leadingNumber(u"1 0 0"), 100); // blanks inside the number are ignored
    EXPECT_EQ(leadingNumber(u"12abc"), 12);
    EXPECT_EQ(leadingNumber(u"-1"), -1);
    EXPECT_EQ(leadingNumber(u"73.5"), 73.5);
    EXPECT_EQ(leadingNumber(u"1.2.3"), 1.2);
}

TEST(LeadingNumber, TextThatDoesNotBeginWithANumberIsZero)
{
    EXPECT_EQ(leadingNumber(u""), 0);
    EXPECT_EQ(leadingNumber(u"    "), 0);
    EXPECT_EQ(leadingNumber(u"abc12"), 0);
    EXPECT_EQ(leadingNumber(u"-"), 0);
    EXPECT_EQ(leadingNumber(u"."), 0);
    EXPECT_EQ(leadingNumber(u"１２"), 0); // full-width digits are not digits here
    EXPECT_FALSE(beginsWithNumber(u" x1"));
    EXPECT_TRUE(beginsWithNumber(u" 1x"));
}

TEST(LeadingNumber, SurvivesVeryLongInput)
{
    EXPECT_EQ(leadingNumber(QString(100000, u' ') + QStringLiteral("7")), 7);
    EXPECT_GT(leadingNumber(QString(5000, u'9')), 1e300);
}

TEST(DecimalText, WritesWholeNumbersPlainAndFractionsShortest)
{
    EXPECT_EQ(decimalText(123456), QStringLiteral("123456"));
    EXPECT_EQ(decimalText(leadingNumber(u"0123456")), QStringLiteral("123456"));
    EXPECT_EQ(decimalText(leadingNumber(u"000000")), QStringLiteral("0"));
    EXPECT_EQ(decimalText(leadingNumber(u"")), QStringLiteral("0"));
    EXPECT_EQ(decimalText(-1), QStringLiteral("-1"));
    EXPECT_EQ(decimalText(5.5), QStringLiteral("5.5"));
    EXPECT_EQ(decimalText(0.5), QStringLiteral("0.5"));
    EXPECT_EQ(decimalText(3.4), QStringLiteral("3.4"));
    // Never an exponent, however small or large the value.
    EXPECT_EQ(decimalText(0.00001), QStringLiteral("0.00001"));
    EXPECT_EQ(decimalText(1e20), QStringLiteral("100000000000000000000"));
}

TEST(Fields, ReadsPlainQuotedAndBlankFields)
{
    EXPECT_EQ(readFields(u"  /srv/www  ,second"), (QStringList{QStringLiteral("/srv/www"), QStringLiteral("second")}));
    EXPECT_EQ(readFields(u"\"a, b\" , c"), (QStringList{QStringLiteral("a, b"), QStringLiteral("c")}));
    EXPECT_EQ(firstField(u"/srv/www,after comma"), QStringLiteral("/srv/www"));
    EXPECT_EQ(firstField(u"\"/srv/my www\""), QStringLiteral("/srv/my www"));
    EXPECT_EQ(firstField(u"\" padded \""), QStringLiteral(" padded ")); // quotes keep their blanks
    EXPECT_EQ(readFields(u"a,,b"), (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    // A line end ends a field like a comma (CR LF once), and adds no field at the end.
    EXPECT_EQ(readFields(u"a  \r\n\"b\r\nc\n,d\r"), (QStringList{QStringLiteral("a"), QStringLiteral("b"),
                                                                 QStringLiteral("c"), QString(), QStringLiteral("d")}));
}

TEST(Fields, HostileInputNeverFails)
{
    EXPECT_EQ(firstField(u""), QString());
    EXPECT_EQ(firstField(u"     "), QString());
    EXPECT_EQ(firstField(u"\"unclosed, quote"), QStringLiteral("unclosed, quote"));
    EXPECT_EQ(readFields(u"\"x\"junk,y"), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    const QString longLine = QString(200000, u'a') + QStringLiteral(",b");
    EXPECT_EQ(readFields(longLine).size(), 2);
}
