#include "stagefixture.h"

#include "common/cp932.h"
#include "stage/queuerecord.h"

using namespace tarv;
using namespace tarv::test;

TEST(FullQueueFile, ShortNumberIsCutAtFixedPlaces)
{
    NowPlaying now{SongNumber(12345), QStringLiteral("title"), {}, QStringLiteral("ユキ")};
    EXPECT_EQ(fullQueueFile(now, {}), encodeCp932(u"12345 $itle$ユキ$ENT") + "\r\n");
}

TEST(FullQueueFile, TitleBytesAndDollarSignsPassUnchanged)
{
    const QByteArray raw("\x83\x65\x83\x58\x83\x67\xFF$x"); // "テスト", a byte that is not CP932, "$x"
    NowPlaying now{SongNumber(100001), decodeCp932(raw), raw, QString()};
    const QList<Reservation> queue{{SongNumber(100002), QStringLiteral("a$b"), {}, QStringLiteral("Guest")}};
    EXPECT_EQ(fullQueueFile(now, queue), QByteArray("100001$") + raw + "$$ENT\r\n100002$a$b$Guest$ENT\r\n");
}

class Publishing : public StageTest
{
protected:
    // Runs a code and tells whether it rewrote the queue file.
    bool writes(const QString& code)
    {
        QFile file(queueFile());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("sentinel");
        file.close();
        run(code);
        return queueFileBytes() != "sentinel";
    }
    void playing()
    {
        main.setMediaPath(QStringLiteral("song"));
        main.play();
    }
};

TEST_F(Publishing, AppendWritesTheFullFormInCp932WithCrLf)
{
    playing();
    ASSERT_TRUE(writes(QStringLiteral("100001")));
    EXPECT_EQ(queueFileBytes(), encodeCp932(u"000000$起動$$ENT\r\n100001$夜明けの歌$Guest$ENT\r\n"));
}

TEST_F(Publishing, WhichActionsWrite)
{
    EXPECT_TRUE(writes(QStringLiteral("100001"))) << "played at once";
    EXPECT_EQ(queueFileLines(), QStringList{QStringLiteral("100001$夜明けの歌$Guest$ENT")});
    EXPECT_TRUE(writes(QStringLiteral("100002"))) << "appended";
    EXPECT_TRUE(writes(QStringLiteral("100003"))) << "appended";
    EXPECT_FALSE(writes(QStringLiteral("123456"))) << "not found";
    EXPECT_FALSE(writes(QStringLiteral("000012"))) << "review start";
    EXPECT_FALSE(writes(QStringLiteral("000007"))) << "review step";
    EXPECT_TRUE(writes(QStringLiteral("000011"))) << "reviewed entry moved";
    EXPECT_FALSE(writes(QStringLiteral("000010"))) << "newest moved";
    EXPECT_FALSE(writes(QStringLiteral("000001")));
    EXPECT_FALSE(writes(QStringLiteral("000006")));
    EXPECT_FALSE(writes(QStringLiteral("000014")));
    EXPECT_FALSE(writes(QStringLiteral("000015")));
    EXPECT_FALSE(writes(QStringLiteral("000016")));
    EXPECT_FALSE(writes(QStringLiteral("000017")));
    EXPECT_FALSE(writes(QStringLiteral("5")));
    EXPECT_FALSE(writes(QStringLiteral("000000")));
    run(QStringLiteral("000012"));
    EXPECT_TRUE(writes(QStringLiteral("000008"))) << "cancelled";
    EXPECT_EQ(queueFileLines().size(), 2);
    EXPECT_TRUE(writes(QStringLiteral("000009"))) << "stopped, a song waiting: full form";
    EXPECT_EQ(queueFileLines().size(), 2);
    main.stop();
    EXPECT_TRUE(writes(QStringLiteral("000003"))) << "next song";
    EXPECT_EQ(queueFileLines().size(), 1);
    EXPECT_FALSE(writes(QStringLiteral("000004")));
    EXPECT_FALSE(writes(QStringLiteral("000002")));
    EXPECT_TRUE(writes(QStringLiteral("000009"))) << "stopped, nothing waiting";
    EXPECT_EQ(queueFileBytes(), QByteArray());
    EXPECT_TRUE(writes(QStringLiteral("000005")));
    EXPECT_EQ(queueFileBytes(), QByteArray());
}

TEST_F(Publishing, KaraokeGoesOnWithoutTheWebSide)
{
    QDir(dir.filePath(QStringLiteral("web/cgi-bin/tarv"))).removeRecursively();
    run(QStringLiteral("100001"));
    EXPECT_EQ(stage.statusText(), QStringLiteral("再生：(100001) - 夜明けの歌"));
    EXPECT_FALSE(QFile::exists(queueFile()));
    EXPECT_EQ(stage.lastPublishError(), QString());

    QFile::remove(dir.filePath(QStringLiteral("db/path.txt")));
    run(QStringLiteral("000005"));
    EXPECT_EQ(stage.lastPublishError(), QString());
}

TEST_F(Publishing, FailedWriteIsReported)
{
    QDir(dir.path()).mkpath(QStringLiteral("web/cgi-bin/tarv/tarvlist.txt")); // a folder in the file's place
    run(QStringLiteral("100001"));
    EXPECT_FALSE(stage.lastPublishError().isEmpty());
    EXPECT_TRUE(stage.statusText().startsWith(QStringLiteral("ゲスト用の予約一覧を書けませんでした")));
    EXPECT_EQ(stage.statusColour(), StatusColour::Red);
    EXPECT_TRUE(main.isPlaying());
}

// A change goes to the disk at once when the last sync is 0.9 s old; otherwise it waits for the
// first syncIfDue() that finds it so, and a cancel never waits.
TEST(QueueRecordSync, AChangeGoesToTheDiskOnceTheLastSyncIsASecondOld)
{
    enum class Action { Change, SyncIfDue, Cancel };
    const struct
    {
        qint64 advanceMs;
        Action action;
        bool unsynced;
    } steps[] = {
        {0, Action::Change, false},      // the first change
        {500, Action::Change, true},     // 0.5 s after the last sync
        {300, Action::SyncIfDue, true},  // 0.8 s
        {100, Action::SyncIfDue, false}, // 0.9 s
        {899, Action::Change, true},     // 0.899 s
        {0, Action::SyncIfDue, true},    // not yet due
        {1, Action::Change, false},      // 0.9 s: the change itself syncs
        {10, Action::Change, true},      // 10 ms
        {10, Action::Cancel, false},     // a cancel syncs at once
    };
    QTemporaryDir dir;
    FakeClock clock;
    clock.holdElapsed();
    QueueRecord record(dir.filePath(QStringLiteral("queue.txt")), clock);
    qint64 at = 0;
    quint64 id = 0;
    for (const auto& step : steps) {
        clock.advanceMs(step.advanceMs);
        at += step.advanceMs;
        if (step.action == Action::Change) {
            ++id;
            record.setQueue({{SongNumber(100001), QStringLiteral("Guest"), {}, {}, id}});
        } else if (step.action == Action::SyncIfDue) {
            record.syncIfDue();
        } else {
            ASSERT_TRUE(record.cancel(id));
        }
        EXPECT_EQ(record.hasUnsyncedChange(), step.unsynced) << "at " << at << " ms";
    }
}
