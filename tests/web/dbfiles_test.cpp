// Every file of db/ put in place as a pipe, a link to /dev/zero or a huge file: its reader refuses it
// at once, the program goes on with what it would do without the file, and the file stays as it was.
#include "common/signalfiles.h"
#include "common/songnumber.h"
#include "common/webroot.h"
#include "launcher/karaokescreen.h"
#include "launcher/wireless.h"
#include "library/songlist.h"
#include "stage/singerkeys.h"
#include "support/appfolder.h"
#include "web/addressreport.h"
#include "web/devices.h"
#include "web/hostcheck.h"
#include "web/webserver.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace tarv {
namespace {

using namespace Qt::StringLiterals;

enum class Kind { Pipe, DevZero, Huge };

struct Row
{
    const char* file;
    // Reads the file as the program does; true when it went on as without the file.
    std::function<bool(const AppPaths&)> read;
};

class DbFiles : public test::AppFolderTest
{
protected:
    void put(const QString& path, Kind kind)
    {
        QFile::remove(path);
        const QByteArray name = QFile::encodeName(path);
        switch (kind) {
        case Kind::Pipe:
            ASSERT_EQ(::mkfifo(name.constData(), 0600), 0);
            break;
        case Kind::DevZero:
            ASSERT_EQ(::symlink("/dev/zero", name.constData()), 0);
            break;
        case Kind::Huge: { // sparse: 300 MiB that take no room
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_TRUE(file.resize(300 << 20));
            break;
        }
        }
    }
    static bool unchanged(const QString& path, Kind kind)
    {
        const QFileInfo info(path);
        switch (kind) {
        case Kind::Pipe: {
            struct stat st;
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
        }
        case Kind::DevZero:
            return info.isSymLink() && info.symLinkTarget() == u"/dev/zero"_s;
        case Kind::Huge:
            return info.isFile() && info.size() == (300 << 20);
        }
        return false;
    }
};

TEST_F(DbFiles, EachReaderRefusesAPipeADeviceAndAHugeFile)
{
    const SongNumber song = SongNumber::fromValue(100001);
    const std::vector<Row> rows{
        {"db/webport.txt",
         [](const AppPaths& p) {
             QString problem;
             return guestPort(p, &problem) == DefaultGuestPort && problem.contains(u"webport.txt"_s);
         }},
        {"db/webhosts.txt",
         [](const AppPaths& p) { return HostCheck(p)("localhost:8080") && !HostCheck(p)("x.test"); }},
        {"db/karaokescreen.txt", [](const AppPaths& p) { return readKaraokeScreen(p).isEmpty(); }},
        {"db/singerkeys.txt",
         [&song](const AppPaths& p) {
             // Unreadable, so nothing is remembered and nothing is written over it.
             return !rememberedKeyTempo(p.singerKeys(), u"Taro"_s, song) &&
                    !rememberKeyTempo(p.singerKeys(), u"Taro"_s, song, KeyTempo{2, 0}).isEmpty();
         }},
        {"db/path.txt", [](const AppPaths& p) { return !readWebRoot(p); }},
        {"db/reporthost.txt", [](const AppPaths& p) { return !readReportHost(p); }},
        {"db/ip.txt",
         [](const AppPaths& p) {
             QString error;
             return readRemoteAddress(p, &error).isEmpty() && !error.isEmpty();
         }},
        {"db/musiclist.txt",
         [](const AppPaths& p) {
             QString error;
             return !sharedSongTable(p.songList(), &error) && !error.isEmpty();
         }},
        {"db/websecret.txt", [](const AppPaths& p) { return DeviceCookies(p).secretIsTemporary(); }},
        {"db/ziholist.txt", [](const AppPaths& p) { return !loadSignalEntries(installedSignalsFile(p)).readable; }},
    };
    for (const Row& row : rows) {
        for (const Kind kind : {Kind::Pipe, Kind::DevZero, Kind::Huge}) {
            SCOPED_TRACE(testing::Message() << row.file << " as kind " << int(kind));
            const QString path = paths.file(QString::fromLatin1(row.file));
            put(path, kind);
            EXPECT_TRUE(row.read(paths));
            EXPECT_TRUE(unchanged(path, kind));
            QFile::remove(path);
        }
    }
}

} // namespace
} // namespace tarv
