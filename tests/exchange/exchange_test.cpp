// The files exchanged with the guests' web pages: the request file, the records, the address file.
#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "exchange/exchange.h"
#include "stage/queuefile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace tarv;
using namespace Qt::StringLiterals;

namespace tarv {
void PrintTo(const WebRequest& r, std::ostream* os)
{
    *os << '{' << r.code.toStdString() << ", " << r.user.toStdString() << '}';
}
} // namespace tarv

TEST(RequestFile, FirstTwoFieldsByTheCommaSeparatedRules)
{
    struct Case
    {
        QByteArray content;
        std::optional<WebRequest> expected;
    };
    const Case cases[] = {
        {"012345,Taro\r\n", WebRequest{u"012345"_s, u"Taro"_s}},
        {"012345,Taro\n", WebRequest{u"012345"_s, u"Taro"_s}},
        {"login,Hanako", WebRequest{u"login"_s, u"Hanako"_s}},
        {"  100001  ,\t Taro Yamada  \r\n", WebRequest{u"100001"_s, u"Taro Yamada"_s}},
        {"100001,\"Yamada, Taro\" junk,more\r\n", WebRequest{u"100001"_s, u"Yamada, Taro"_s}},
        {"\" 100001\",\" padded \"\r\n", WebRequest{u" 100001"_s, u" padded "_s}},
        {"012345,\r\n", WebRequest{u"012345"_s, QString()}},
        {"login,\r\n", WebRequest{u"login"_s, QString()}},
        {",Taro\r\n", WebRequest{QString(), u"Taro"_s}},
        // A line end ends a field like a comma; what follows the first two fields is ignored.
        {"100001\r\nTaro\r\n100002,Jiro\r\n", WebRequest{u"100001"_s, u"Taro"_s}},
        // Only one field: a request without a name.
        {"100001\r\n", WebRequest{u"100001"_s, QString()}},
        {"100001", WebRequest{u"100001"_s, QString()}},
        {"\r\n", std::nullopt},
        {"  \t ", std::nullopt},
        {" , \r\n", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseRequest(c.content), c.expected) << c.content.toStdString();
    EXPECT_EQ(parseRequest(encodeCp932(u"100001,ユキ\r\n")), (WebRequest{u"100001"_s, u"ユキ"_s}));
}

TEST(RequestFile, TakingEmptiesTheFileAndAnEmptyFileHoldsNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"tarvadd.txt"_s);
    EXPECT_FALSE(takeRequest(file).request); // missing
    EXPECT_TRUE(takeRequest(file).error.isEmpty());
    ASSERT_TRUE(saveFile(file, QByteArray()).isEmpty());
    EXPECT_FALSE(takeRequest(file).request);

    ASSERT_TRUE(saveFile(file, QByteArray("100001\r\n")).isEmpty()); // one field is taken too
    EXPECT_EQ(takeRequest(file).request, (WebRequest{u"100001"_s, QString()}));
    EXPECT_EQ(QFileInfo(file).size(), 0);

    ASSERT_TRUE(saveFile(file, QByteArray("\r\n\r\n")).isEmpty()); // nothing in it: dropped and said
    const RequestTake blank = takeRequest(file);
    EXPECT_FALSE(blank.request);
    EXPECT_FALSE(blank.error.isEmpty());
    EXPECT_EQ(QFileInfo(file).size(), 0);
}

TEST(ExchangeFolder, LinksAndPipesAreNeitherFollowedNorEmptiedNorReplaced)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(u"www"_s);
    ASSERT_TRUE(QDir().mkpath(root + u"/cgi-bin/tarv"_s));
    // Stands for db/musiclist.txt, which a link in the exchange folder must never reach.
    const QString outside = dir.filePath(u"musiclist.txt"_s);
    const QByteArray listBytes(" 100001 \r\nA\r\n");

    struct Writer
    {
        QStringView name;
        std::function<QString(const QString&)> write; // the reason of its refusal
    };
    const Writer writers[] = {
        {ExchangeFile::Request, [](const QString& file) { return takeRequest(file).error; }},
        {ExchangeFile::Request,
         [](const QString& file) {
             QString error;
             writeGuestRequest(file, GuestRequest::login(u"Taro"_s), &error);
             return error;
         }},
        {ExchangeFile::Address, [](const QString& file) { return writeAddressFile(file, u"192.168.0.10"_s); }},
        {ExchangeFile::Queue, [&root](const QString&) { return writeQueueFile(root, "100001$A$Taro$ENT\r\n"); }},
    };
    for (const Writer& writer : writers) {
        const QString file = exchangeFile(root, writer.name);
        SCOPED_TRACE(file.toStdString());

        ASSERT_TRUE(saveFile(outside, listBytes).isEmpty());
        ASSERT_TRUE(QFile::link(outside, file));
        EXPECT_FALSE(writer.write(file).isEmpty());
        EXPECT_EQ(QFileInfo(file).symLinkTarget(), outside);
        EXPECT_EQ(readFileBytes(outside, 64 << 20), listBytes);
        // An empty file behind the link is no invitation either.
        ASSERT_TRUE(saveFile(outside, QByteArray()).isEmpty());
        EXPECT_FALSE(writer.write(file).isEmpty());
        EXPECT_EQ(QFileInfo(outside).size(), 0);
        ASSERT_TRUE(QFile::remove(file));

        // A pipe is never waited on.
        ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        EXPECT_FALSE(writer.write(file).isEmpty());
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(file).constData(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        ASSERT_TRUE(QFile::remove(file));

        // A regular file is replaced as ever.
        EXPECT_TRUE(writer.write(file).isEmpty());
    }
}

TEST(RequestFile, ALongerFileIsNoRequestAndIsEmptiedUnread)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"tarvadd.txt"_s);
    ASSERT_TRUE(saveFile(file, "100001,Taro\r\n" + QByteArray(MaxRequestBytes, ' ')).isEmpty());
    const RequestTake take = takeRequest(file);
    EXPECT_FALSE(take.request);
    EXPECT_FALSE(take.error.isEmpty());
    EXPECT_EQ(QFileInfo(file).size(), 0);
}

// A name keeps its "$" (the queue file writes it unchanged) but can never add a line or a TAB field.
TEST(Records, UserNamesCannotAddLines)
{
    EXPECT_EQ(exchangeRecord({"100001", "Rock $ Roll", encodeCp932(storedUserName(u"Ta$ro\r\n999999\tx"))}),
              encodeCp932(u"100001$Rock $ Roll$Ta$ro  999999 x$ENT\r\n"));
    EXPECT_EQ(storedUserName(QString(100, u'名')), QString(MaxUserNameLength, u'名'));
    EXPECT_EQ(storedUserName(QString(MaxUserNameLength - 1, u'a') + u"😀"_s).size(), MaxUserNameLength - 1);
    EXPECT_EQ(exchangeRecord({"100001", "Hello"}), QByteArray("100001$Hello$ENT\r\n"));
}

TEST(GuestRequests, OnlySongNumbersAndLoginRoundTripThroughTheRequestFile)
{
    EXPECT_FALSE(GuestRequest::song(99999, u"Taro"_s));
    EXPECT_FALSE(GuestRequest::song(999999, u"Taro"_s));

    QTemporaryDir dir;
    const QString file = dir.filePath(u"tarvadd.txt"_s);
    const auto song = GuestRequest::song(100001, u"山田, \"太郎\"\r\n"_s);
    ASSERT_TRUE(song);
    EXPECT_EQ(writeGuestRequest(file, *song), GuestWrite::Written);
    // The last request waits for the poll: never overwritten.
    EXPECT_EQ(writeGuestRequest(file, GuestRequest::login(u"Hanako"_s)), GuestWrite::Busy);
    EXPECT_EQ(takeRequest(file).request, (WebRequest{u"100001"_s, u"山田, ＂太郎＂  "_s}));
    EXPECT_EQ(writeGuestRequest(file, GuestRequest::login(u"Hanako"_s)), GuestWrite::Written);
    EXPECT_EQ(takeRequest(file).request, (WebRequest{u"login"_s, u"Hanako"_s}));
}

TEST(AddressFile, HoldsExactlyTheAddress)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"ipset.txt"_s);
    ASSERT_TRUE(writeAddressFile(file, u"192.168.0.10"_s).isEmpty());
    EXPECT_EQ(readFileBytes(file, 64 << 20), QByteArray("192.168.0.10"));
}
