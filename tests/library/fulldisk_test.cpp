// Every writer of the program against a disk that fails: the save helper's injected faults at the
// write, the flush and the rename, and (as root) a real small tmpfs filled to the last byte. Each one
// reports the full disk in plain words, leaves every file byte for byte as it was and leaves no
// temporary file; the library's changes show the error and log no "Finish" line.
#include "library/libraryfixture.h"

#include "common/savefile.h"
#include "common/webroot.h"
#include "library/entryrules.h"
#include "library/exports.h"
#include "library/library.h"
#include "library/registration.h"
#include "stage/queuefile.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"
#include "timesignal/timesignals.h"

#include <QDirIterator>
#include <QMap>

#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace tarv;
using namespace tarv::test;

namespace {

const QString FullDiskText = QStringLiteral("ディスクの空き容量が足りません");

struct Writer
{
    QString name;
    bool alwaysSmall = false;     // its content stays small whatever the library holds
    std::function<QString()> run; // the error it reported or showed
};

class FullDiskTest : public ::testing::Test
{
protected:
    QString webRoot() const { return lib.dir.path() + QStringLiteral("/www"); }
    QString filler() const { return lib.dir.path() + QStringLiteral("/filler"); }

    // An application folder with `songs` entries, a few videos, a web root with its exchange files,
    // every exported file and a backup of this second, and a file to drop of `dropSize` bytes.
    void prepare(int songs, qsizetype dropSize)
    {
        ASSERT_TRUE(QDir().mkpath(lib.paths.backupDir()));
        ASSERT_TRUE(QDir().mkpath(lib.paths.srcDir()));
        ASSERT_TRUE(QDir().mkpath(lib.dropDir()));
        ASSERT_TRUE(QDir().mkpath(webRoot() + QStringLiteral("/cgi-bin/tarv")));
        QList<std::pair<qint64, QString>> entries;
        for (int i = 0; i < songs; ++i)
            entries.append({100001 + i, QStringLiteral("夜明けの歌 その%1").arg(i)});
        lib.writeList(entries);
        lib.writeVideo(QStringLiteral("000000"));
        lib.writeVideo(QStringLiteral("100001"));
        lib.writeVideo(QStringLiteral("100002"));
        ASSERT_TRUE(saveWebRoot(lib.paths, webRoot()).isEmpty());
        ASSERT_TRUE(exportSongBook(lib.paths, QStringLiteral("1.00")).ok());
        ASSERT_TRUE(exportWebSongFile(lib.paths).ok());
        ASSERT_TRUE(writeQueueFile(webRoot(), QByteArray("100001$old$$ENT\r\n")).isEmpty());
        ASSERT_TRUE(backupSongList(lib.paths, clock.now()).isEmpty());
        TempLibrary::writeBytes(installedSignalsFile(lib.paths), "001001\r\na\r\n001002\r\nb\r\n");
        TempLibrary::writeBytes(enabledSignalsFile(lib.paths), "001003\r\nc\r\n");
        dropped = lib.makeSource(QStringLiteral("新曲.mp4"), dropSize);
        queue.clear();
        for (int i = 0; i < songs; ++i)
            queue.append({SongNumber(100001 + i), QStringLiteral("夜明けの歌"), {}, QStringLiteral("Guest")});
    }

    // Every file under the temporary folder (hidden ones too) and its bytes; the filler aside.
    QMap<QString, QByteArray> files() const
    {
        QMap<QString, QByteArray> found;
        QDirIterator it(lib.dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path != filler())
                found.insert(QDir(lib.dir.path()).relativeFilePath(path), TempLibrary::readBytes(path));
        }
        return found;
    }

    // "Save" of the time-signal settings, an entry moved from one list to the other: two files.
    Writer timeSignalSave()
    {
        return {QStringLiteral("time-signal save"), true, [this] {
                    ScriptedPrompts prompts;
                    AppState state;
                    TimeSignals settings(lib.paths, state);
                    settings.setPrompts(&prompts);
                    settings.load();
                    settings.enable(0);
                    settings.saveEntries();
                    return prompts.messages.isEmpty() ? QString() : prompts.messages.constLast();
                }};
    }

    QList<Writer> writers()
    {
        QList<Writer> list;
        list.append({QStringLiteral("song list"), false, [this] {
                         QList<Song> songs = loadSongList(lib.paths.songList()).songs;
                         songs.append(Song::fromTitle(999998, QStringLiteral("追加")));
                         return rewriteSongList(lib.paths.songList(), songs);
                     }});
        list.append({QStringLiteral("backup"), false, [this] { return backupSongList(lib.paths, clock.now()); }});
        list.append({QStringLiteral("db.html"), false,
                     [this] { return exportSongBook(lib.paths, QStringLiteral("2.00")).error; }});
        list.append({QStringLiteral("songdb.txt"), false, [this] { return exportWebSongFile(lib.paths).error; }});
        list.append({QStringLiteral("path.txt"), true,
                     [this] { return saveWebRoot(lib.paths, webRoot() + QStringLiteral("/")); }});
        list.append({QStringLiteral("queue file"), false,
                     [this] { return writeQueueFile(webRoot(), fullQueueFile(NowPlaying{}, queue)); }});
        list.append(timeSignalSave());
        list.append({QStringLiteral("window: delete"), false, [this] {
                         ScriptedPrompts prompts;
                         FakePlayer preview;
                         Library library(lib.paths, clock, prompts, preview);
                         library.load();
                         EXPECT_TRUE(library.select(0));
                         EXPECT_EQ(library.remove(true), Library::EditOutcome::Unchanged);
                         EXPECT_FALSE(library.log().text().contains(QStringLiteral("Finish")));
                         return prompts.messages.isEmpty() ? QString() : prompts.messages.constLast();
                     }});
        list.append({QStringLiteral("window: change"), false, [this] {
                         ScriptedPrompts prompts;
                         FakePlayer preview;
                         Library library(lib.paths, clock, prompts, preview);
                         library.load();
                         EXPECT_TRUE(library.select(0));
                         EXPECT_EQ(library.change(QStringLiteral("999998"), QStringLiteral("新"), true),
                                   Library::EditOutcome::Unchanged);
                         EXPECT_FALSE(library.log().text().contains(QStringLiteral("Finish")));
                         return prompts.messages.isEmpty() ? QString() : prompts.messages.constLast();
                     }});
        list.append({QStringLiteral("window: registration"), false, [this] {
                         ScriptedPrompts prompts;
                         prompts.answers = {QStringLiteral("900001")};
                         OperatorLog log;
                         Registration registration(lib.paths, clock, prompts, log, {dropped}, {});
                         EXPECT_TRUE(registration.begin());
                         while (registration.running())
                             registration.step();
                         EXPECT_EQ(registration.state(), Registration::State::Stopped);
                         EXPECT_FALSE(log.text().contains(QStringLiteral("Finish")));
                         return prompts.messages.isEmpty() ? QString() : prompts.messages.constLast();
                     }});
        return list;
    }

    // Runs every writer (only those whose content is large when `largeOnly`) and checks that each
    // reported a full disk and changed nothing.
    void expectEveryWriterFails(bool largeOnly, const std::function<void()>& around = {})
    {
        for (Writer& writer : writers()) {
            if (largeOnly && writer.alwaysSmall)
                continue;
            expectFailsAndChangesNothing(writer);
        }
        if (around)
            around();
    }

    // Runs the writer, checks that it reported a full disk and changed nothing; returns the report.
    QString expectFailsAndChangesNothing(Writer& writer)
    {
        SCOPED_TRACE(writer.name.toStdString());
        const QMap<QString, QByteArray> before = files();
        const QString error = writer.run();
        EXPECT_TRUE(error.contains(FullDiskText)) << error.toStdString();
        const QMap<QString, QByteArray> after = files();
        EXPECT_EQ(after.keys(), before.keys());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            EXPECT_TRUE(after.value(it.key()) == it.value()) << it.key().toStdString() << " changed";
        return error;
    }

    TempLibrary lib;
    FakeClock clock;
    QString dropped;
    QList<Reservation> queue;
};

TEST_F(FullDiskTest, EveryWriterReportsAFailingWriteFlushOrRename)
{
    const SaveFault faults[] = {
        {SaveFault::Step::Write, 0, ENOSPC},
        {SaveFault::Step::Write, 4096, ENOSPC},
        {SaveFault::Step::Flush, 0, ENOSPC},
        {SaveFault::Step::Rename, 0, ENOSPC},
    };
    for (const bool large : {false, true}) {
        SCOPED_TRACE(large ? "large contents" : "small contents");
        prepare(large ? 3000 : 2, large ? 3 * 1024 * 1024 : 1000);
        // The small contents are all shorter than 4 KiB.
        ASSERT_EQ(TempLibrary::readBytes(lib.paths.file(QStringLiteral("db/db.html"))).size() < 4096, !large);
        for (const SaveFault& fault : faults) {
            if (!large && fault.afterBytes > 0)
                continue;
            SCOPED_TRACE("at step " + std::to_string(int(fault.step)) + " after " + std::to_string(fault.afterBytes));
            const ScopedSaveFault injected(fault);
            expectEveryWriterFails(fault.afterBytes > 0);
        }
        // Without the fault every writer succeeds again.
        for (Writer& writer : writers()) {
            if (!writer.name.startsWith(QStringLiteral("window"))) {
                EXPECT_EQ(writer.run(), QString()) << writer.name.toStdString();
            }
        }
    }
}

// A drop of five files whose notes and copies fit but whose list write fails: the drop stops and
// says so, nothing is left in src/ or db/, every source stays, and no file is logged as finished.
TEST_F(FullDiskTest, ADropWhoseListCannotBeWrittenKeepsEverySource)
{
    prepare(3000, 1000);
    QStringList sources;
    for (int i = 0; i < 5; ++i)
        sources << lib.makeSource(QStringLiteral("曲%1.mp4").arg(i), 1000);
    const QMap<QString, QByteArray> before = files();
    for (const SaveFault::Step step : {SaveFault::Step::Write, SaveFault::Step::Flush, SaveFault::Step::Rename}) {
        SCOPED_TRACE("at step " + std::to_string(int(step)));
        const ScopedSaveFault injected({step, 0, ENOSPC}, QStringLiteral("musiclist.txt"));
        ScriptedPrompts prompts;
        prompts.answers = {QStringLiteral("900001")};
        OperatorLog log;
        Registration registration(lib.paths, clock, prompts, log, sources, {});
        ASSERT_TRUE(registration.begin());
        while (registration.running())
            registration.step();
        EXPECT_EQ(registration.state(), Registration::State::Stopped);
        EXPECT_FALSE(log.text().contains(QStringLiteral("Finish"))) << log.text().toStdString();
        ASSERT_FALSE(prompts.messages.isEmpty());
        EXPECT_TRUE(prompts.messages.constLast().contains(FullDiskText));
        EXPECT_TRUE(prompts.messages.constLast().contains(QStringLiteral("元の場所に残っています")));
        EXPECT_TRUE(files() == before);
    }
}

// The time-signal save writes its journal, then the installed list, then the enabled list. A fault
// at any of the three (the last after the first list was replaced) leaves both lists as they were,
// and the message names both.
TEST_F(FullDiskTest, TimeSignalSaveFailingAtAnyOfItsFilesChangesNeitherList)
{
    prepare(2, 1000);
    Writer save = timeSignalSave();
    for (const char* file : {"saving.txt", "ziholist.txt", "zihotrue.txt"}) {
        for (const auto step : {SaveFault::Step::Write, SaveFault::Step::Flush, SaveFault::Step::Rename}) {
            SCOPED_TRACE(std::string(file) + " at step " + std::to_string(int(step)));
            const ScopedSaveFault injected({step, 0, ENOSPC}, QString::fromLatin1(file));
            EXPECT_TRUE(expectFailsAndChangesNothing(save).startsWith(
                QStringLiteral("ziholist.txt と zihotrue.txt を保存できませんでした。どのファイルも元のままです。")));
        }
    }
}

// A real full disk: a tmpfs mounted over the test's folder, filled to the last byte, then with a
// few KiB free (where only small files could still be written).
class RealFullDiskTest : public FullDiskTest
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root; the injected faults cover the rest";
        const QByteArray where = QFile::encodeName(lib.dir.path());
        if (::mount("tarv-test", where.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=8m,mode=0755") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted) {
            EXPECT_EQ(::umount2(QFile::encodeName(lib.dir.path()).constData(), MNT_DETACH), 0) << std::strerror(errno);
        }
    }

    // Writes the filler until the disk is full, then gives back `freeBytes`.
    void fill(qint64 freeBytes)
    {
        const int fd = ::open(QFile::encodeName(filler()).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray chunk(64 * 1024, 'f');
        qint64 size = 0;
        for (;;) {
            const ssize_t n = ::write(fd, chunk.constData(), size_t(chunk.size()));
            if (n <= 0)
                break;
            size += n;
        }
        EXPECT_EQ(errno, ENOSPC);
        if (freeBytes > 0) {
            EXPECT_EQ(::ftruncate(fd, size - freeBytes), 0);
        }
        ::close(fd);
    }

    bool mounted = false;
};

TEST_F(RealFullDiskTest, EveryWriterReportsTheFullDiskAndChangesNothing)
{
    prepare(3000, 2 * 1024 * 1024);
    fill(0);
    {
        SCOPED_TRACE("no byte free");
        expectEveryWriterFails(false);
    }
    fill(12 * 1024);
    {
        SCOPED_TRACE("12 KiB free");
        expectEveryWriterFails(true);
    }
    ASSERT_TRUE(QFile::remove(filler()));
    EXPECT_EQ(writers().constFirst().run(), QString()) << "room again";
}

} // namespace
