#include "common/cp932.h"
#include "common/linepairs.h"
#include "common/textfile.h"

#include <cstdlib>

#include <gtest/gtest.h>

using namespace tarv;

TEST(Cp932, KaraokeTitleCharactersRoundTrip)
{
    const QString titles[] = {
        QStringLiteral("ひらがな カタカナ 漢字"),   QStringLiteral("全角記号！？＆＃＄％（）「」『』【】・ー"),
        QStringLiteral("①②⑨⑳ ㈱ ～ 〜 髙 﨑"),      QStringLiteral("ｶﾗｵｹ ﾊﾟｰﾃｨｰ"),
        QStringLiteral("ASCII ~!@#$%^&*() | $ENT"), QStringLiteral("…￥"),
    };
    for (const QString& title : titles) {
        const QByteArray bytes = encodeCp932(title);
        // "〜" and "−" have no distinct CP932 code: they come back as their full-width forms.
        QString expected = title;
        expected.replace(QChar(0x301C), QChar(0xFF5E)).replace(QChar(0x2212), QChar(0xFF0D));
        EXPECT_EQ(decodeCp932(bytes), expected) << title.toStdString();
    }
    // Characters that CP932 folds onto another code still encode to something, never "?".
    EXPECT_FALSE(encodeCp932(u"−—‖¥").contains('?'));
    EXPECT_EQ(encodeCp932(u"ア"), QByteArray("\x83\x41"));
    EXPECT_EQ(encodeCp932(u"ｱ"), QByteArray("\xB1"));
    EXPECT_EQ(encodeCp932(u"①"), QByteArray("\x87\x40"));
}

TEST(Cp932, BadInputNeverFails)
{
    EXPECT_EQ(decodeCp932(QByteArray("A\x82")), QStringLiteral("A\uFFFD")); // lone lead byte
    EXPECT_EQ(decodeCp932(QByteArray("\xFF"
                                     "B")),
              QStringLiteral("\uFFFD"
                             "B")); // not CP932
    EXPECT_EQ(encodeCp932(u"😀x"), QByteArray("?x"));
    EXPECT_FALSE(encodableInCp932(u"😀"));
    EXPECT_TRUE(encodableInCp932(u"髙"));
    EXPECT_EQ(decodeCp932(QByteArray()), QString());
}

// The table decoder answers exactly as iconv does: every byte, every pair, and random runs of bytes
// that mix ASCII, half-width kana, lead bytes and bad input.
TEST(Cp932, DecodesExactlyAsIconvDoes)
{
    QByteArray bytes(2, 0);
    for (int first = 0; first < 256; ++first) {
        bytes[0] = char(first);
        ASSERT_EQ(decodeCp932(bytes.first(1)), decodeCp932WithIconv(bytes.first(1))) << first;
        for (int second = 0; second < 256; ++second) {
            bytes[1] = char(second);
            ASSERT_EQ(decodeCp932(bytes), decodeCp932WithIconv(bytes)) << first << " " << second;
        }
    }
    const char pool[] = "A ~\x81\x82\x88\x9F\xE0\xEA\xFC\x40\x7F\x80\xA0\xB1\xDF\xFD\x00";
    std::srand(20261209);
    for (int round = 0; round < 20000; ++round) {
        QByteArray text;
        for (int i = std::rand() % 12; i > 0; --i)
            text += pool[std::rand() % (sizeof pool - 1)];
        ASSERT_EQ(decodeCp932(text), decodeCp932WithIconv(text)) << text.toHex().constData();
    }
    QString appended = QStringLiteral("100001 | ");
    appendCp932(appended, encodeCp932(u"夜明けの歌ｶﾗｵｹ"));
    EXPECT_EQ(appended, QStringLiteral("100001 | 夜明けの歌ｶﾗｵｹ"));
}

// What the encoder calls encodable, it encodes without a "?"; what it does not, becomes "?" in place.
TEST(Cp932, EncodableMeansEncodedWithoutLoss)
{
    const QChar high(0xD83D);
    const QChar low(0xDE00);
    const struct
    {
        QString text;
        QByteArray bytes; // with "?" for every character that has no CP932 form
    } cases[] = {
        {QStringLiteral("a") + high + QStringLiteral("b"), "a?b"}, // lone high surrogate
        {QStringLiteral("a") + low + QStringLiteral("b"), "a?b"},  // lone low surrogate
        {QString(low) + high, "??"},                               // the pair the wrong way round
        {QStringLiteral("x\U000E0041\U000E007Fy"), "x??y"},        // tag characters, which iconv drops
        {QStringLiteral("\uFFFD\u00A0"), "??"},
        {QStringLiteral("〜～"), "\x81\x60\x81\x60"},
        {QStringLiteral("¥髙"), "\x5C\xFB\xFC"},
        {QStringLiteral("?"), "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(encodeCp932(c.text), c.bytes);
        EXPECT_EQ(encodableInCp932(c.text), c.text == u"?" || !c.bytes.contains('?'));
    }
}

TEST(TextFiles, SplitsOnCrLfAndToleratesLf)
{
    EXPECT_EQ(splitLines("a\r\nb\r\n"), (QList<QByteArray>{"a", "b"}));
    EXPECT_EQ(splitLines("a\nb"), (QList<QByteArray>{"a", "b"}));
    EXPECT_EQ(splitLines("\r\n\r\n"), (QList<QByteArray>{"", ""}));
    EXPECT_EQ(splitLines("a\rb\r\n"), (QList<QByteArray>{"a\rb"})); // a lone CR belongs to the line
    EXPECT_TRUE(splitLines("").isEmpty());
    EXPECT_EQ(joinLines({"a", ""}), QByteArray("a\r\n\r\n"));
}

TEST(TextFiles, InvalidBytesSurviveALinePairRoundTrip)
{
    const QByteArray content("100001\r\n\x82\r\n 100002 \r\n\xFF\xFE title \x83\r\n");
    const LinePairs pairs = readLinePairs(content);
    ASSERT_EQ(pairs.pairs.size(), 2);
    EXPECT_FALSE(pairs.danglingLine);
    EXPECT_EQ(pairs.pairs[1].firstLine, 3);
    EXPECT_EQ(writeLinePairs(pairs.pairs), content);

    const LinePairs odd = readLinePairs("1\r\nx\r\n2\r\n");
    EXPECT_EQ(odd.pairs.size(), 1);
    EXPECT_TRUE(odd.danglingLine);
}

TEST(TextFiles, EncodesLinesWithCrLf)
{
    EXPECT_EQ(encodeTextLines({QStringLiteral("起動"), QString()}), QByteArray("\x8B\x4E\x93\xAE\r\n\r\n"));
}
