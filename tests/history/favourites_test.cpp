// Favourites: kept per name across restarts, and a file that cannot be read is never written.
#include "history/favourites.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tarv;
using namespace Qt::StringLiterals;

namespace {

class FavouritesTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(paths.dbDir())); }
    QByteArray content() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }
    void write(const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
    QString path = Favourites::file(paths);
};

TEST_F(FavouritesTest, StarsAreKeptPerNameInTheOrderStarred)
{
    {
        Favourites favourites(path);
        EXPECT_EQ(favourites.load(), QString()) << "no file yet";
        EXPECT_EQ(favourites.set(u"ユキ"_s, SongNumber(100003), true), QString());
        EXPECT_EQ(favourites.set(u"ユキ"_s, SongNumber(100001), true), QString());
        EXPECT_EQ(favourites.set(u"ユキ"_s, SongNumber(100003), true), QString()) << "starred already";
        EXPECT_EQ(favourites.set(u"ハル\t"_s, SongNumber(100002), true), QString());
        EXPECT_EQ(favourites.set(u"ナツ"_s, SongNumber(100002), true), QString());
        EXPECT_EQ(favourites.set(u"ナツ"_s, SongNumber(100002), false), QString());
        EXPECT_EQ(favourites.set(u"ナツ"_s, SongNumber(100004), false), QString()) << "never starred";
        EXPECT_FALSE(favourites.set(u"Guest"_s, SongNumber(100001), true).isEmpty());
        EXPECT_FALSE(favourites.set(QString(), SongNumber(100001), true).isEmpty());
        EXPECT_FALSE(favourites.set(u"ユキ"_s, SongNumber(1001), true).isEmpty()) << "a time signal";
    }
    EXPECT_EQ(content(), "ユキ\t100003\t100001\nハル \t100002\n"_ba);
    const Favourites favourites(path);
    EXPECT_EQ(favourites.songs(u"ユキ"_s), (QList<SongNumber>{SongNumber(100003), SongNumber(100001)}));
    EXPECT_EQ(favourites.songs(u"ハル\t"_s), QList<SongNumber>{SongNumber(100002)});
    EXPECT_TRUE(favourites.contains(u"ユキ"_s, SongNumber(100001)));
    EXPECT_FALSE(favourites.contains(u"ナツ"_s, SongNumber(100002)));
    EXPECT_TRUE(favourites.songs(u"Guest"_s).isEmpty());
}

TEST_F(FavouritesTest, LinesThatCannotBeReadAreKeptAsTheyAre)
{
    write("ユキ\t100001\n\xff\xfe\t100002\nハル\t12x\nユキ\t100002\t100001\n");
    Favourites favourites(path);
    EXPECT_EQ(favourites.songs(u"ユキ"_s), (QList<SongNumber>{SongNumber(100001), SongNumber(100002)}));
    EXPECT_TRUE(favourites.songs(u"ハル"_s).isEmpty());
    EXPECT_EQ(favourites.set(u"ハル"_s, SongNumber(100005), true), QString());
    EXPECT_EQ(content(), "ユキ\t100001\t100002\n\xff\xfe\t100002\nハル\t12x\nハル\t100005\n"_ba);
}

TEST_F(FavouritesTest, AFileThatCannotBeReadIsNeverWritten)
{
    struct Case
    {
        const char* what;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"too long", [this] { write(QByteArray(Favourites::MaxFileBytes + 1, 'x')); }},
        {"a folder", [this] { ASSERT_TRUE(QDir().mkdir(path)); }},
        {"a pipe", [this] { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0); }},
        {"a dangling link", [this] { ASSERT_TRUE(QFile::link(path + u".gone"_s, path)); }},
    };
    for (const Case& c : cases) {
        QFile::remove(path);
        QDir().rmdir(path);
        c.make();
        const QFileInfo before(path);
        const QByteArray bytes = before.isFile() ? content() : QByteArray();
        Favourites favourites(path);
        EXPECT_FALSE(favourites.load().isEmpty()) << c.what;
        EXPECT_FALSE(favourites.set(u"ユキ"_s, SongNumber(100001), true).isEmpty()) << c.what;
        const QFileInfo after(path);
        EXPECT_EQ(after.isFile(), before.isFile()) << c.what;
        EXPECT_EQ(after.isSymLink(), before.isSymLink()) << c.what;
        if (before.isFile()) {
            EXPECT_EQ(content(), bytes) << c.what;
        }
    }
}

TEST_F(FavouritesTest, AListIsBounded)
{
    QByteArray line = "ユキ";
    for (int i = 1; i < Favourites::MaxSongsPerName; ++i)
        line += '\t' + QByteArray::number(100000 + i);
    write(line + '\n');
    Favourites favourites(path);
    EXPECT_EQ(favourites.set(u"ユキ"_s, SongNumber(100000), true), QString());
    EXPECT_FALSE(favourites.set(u"ユキ"_s, SongNumber(900000), true).isEmpty());
    EXPECT_EQ(favourites.songs(u"ユキ"_s).size(), Favourites::MaxSongsPerName);
}

} // namespace
