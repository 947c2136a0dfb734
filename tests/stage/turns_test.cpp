// The order of the waiting songs through the real stage: reservations on the keypad and for named
// singers, the keypad's moves to the front, guests' holds and cancels, songs sung or stopped, and the
// operator's switch of the order; every view of the queue follows it.
#include "stagefixture.h"

#include "stage/queuerecord.h"

#include <string>
#include <tuple>
#include <vector>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

// A stage of its own, on the fixture's library.
struct Room
{
    Room(const QString& folder, const AppState& state, const Clock& clock)
        : stage(main, second, state, AppPaths(folder), clock)
    {
    }
    void run(Command command)
    {
        stage.post(std::move(command));
        QCoreApplication::processEvents();
    }

    // One step of a row: "A" reserves for A (the keypad's "#" for nobody in particular), a six-digit
    // code is typed on the keypad, "h3" / "r3" hold and release reservation 3 and "x3" cancels it from
    // a phone, "m3>2" is the host's move of reservation 3 to the second place, "sing 25" lets the song
    // play 25 s on, "end" lets it end and the next one start, "stop"
    // stops it (000009) and the next one starts, "rotation" / "fifo" is the operator's switch.
    void step(const std::string& text)
    {
        const QString s = QString::fromStdString(text);
        if (s == u"rotation" || s == u"fifo") {
            stage.setQueueOrder(s == u"rotation" ? QueueOrder::Rotation : QueueOrder::Fifo);
        } else if (s == u"#") {
            run(commandOf(u"100002"_s)); // as typed: for "Guest"
        } else if (s.size() == 1) {
            run(Cmd::Reserve{SongNumber(100001), s});
        } else if (s.size() == 6) {
            run(commandOf(s));
        } else if (s.startsWith(u"sing ")) {
            main.advance(s.mid(5).toDouble());
        } else if (s == u"end" || s == u"stop") {
            if (s == u"end")
                main.finish();
            else
                run(Cmd::Stop{});
            run(Cmd::PlayNext{}); // as the heartbeat posts it once the player stopped
        } else if (s[0] == u'm') {
            const qsizetype to = s.indexOf(u'>');
            run(Cmd::Move{s.mid(1, to - 1).toULongLong(), s.mid(to + 1).toInt()});
        } else {
            const quint64 id = s.mid(1).toULongLong();
            if (s[0] == u'x')
                run(Cmd::CancelReservation{id});
            else
                run(Cmd::Hold{id, s[0] == u'h'});
        }
    }

    // The waiting songs as "B2 C4h G5": user (G for "Guest") and id, h when held.
    QString waiting() const
    {
        QStringList out;
        for (const Reservation& r : stage.queue())
            out << (r.user == GuestUser ? u"G"_s : r.user) + QString::number(r.id) + (r.held ? u"h"_s : QString());
        return out.join(u' ');
    }
    // The turns sung, "*" before a song moved to the front.
    QString sung() const
    {
        QStringList out;
        for (const SungSong& song : stage.turnsSung())
            out << (song.pinned ? u"*"_s : QString()) + song.user;
        return out.join(u' ');
    }

    FakePlayer main;
    FakePlayer second;
    Stage stage;
};

} // namespace

// Each row starts over the idle screen in 予約順: the first reservation plays at once (A1), and the
// second is the next song.
using Turns = StageTest;

TEST_F(Turns, TheWaitingSongsFollowTheChosenOrder)
{
    const struct
    {
        const char* what;
        std::vector<std::string> steps;
        const char* expected;
        const char* sung = "";
    } rows[] = {
        {"予約順: first come, first served", {"A", "A", "A", "B", "#"}, "A2 A3 B4 G5"},
        {"交代制: the example of three, one and a keypad song", {"rotation", "A", "A", "A", "B", "#"}, "A2 B4 G5 A3"},
        {"a reservation never moves the next", {"rotation", "A", "B", "A", "C"}, "B2 C4 A3"},
        {"switching keeps the next and orders the rest", {"A", "B", "B", "C", "rotation"}, "B2 C4 B3"},
        {"back to 予約順 the queue stands as it was",
         {"A", "B", "B", "C", "rotation", "D", "fifo", "E"},
         "B2 C4 D5 B3 E6"},
        {"予約順: 000010 moves the newest to the front", {"A", "B", "C", "D", "000010"}, "D4 B2 C3"},
        {"000010 pins the newest ahead of the turns, as nobody's turn",
         {"rotation", "A", "B", "A", "C", "000010", "C"},
         "C4 B2 C5 A3"},
        {"000011 moves the song reviewed to the front",
         {"rotation", "A", "B", "C", "D", "000012", "000007", "000007", "000011"},
         "D4 B2 C3"},
        {"予約順: the host moves a song to the second place", {"A", "B", "C", "D", "m4>2"}, "B2 D4 C3"},
        {"予約順: the host moves the next song back", {"A", "B", "C", "D", "m2>3"}, "C3 D4 B2"},
        {"交代制: the host's move goes ahead of the turns", {"rotation", "A", "B", "A", "C", "m3>2"}, "B2 A3 C4"},
        {"a pinned song playing is nobody's turn", {"rotation", "A", "B", "C", "B", "000010", "end"}, "B2 C3", "A"},
        {"a held song keeps its rank but is not next", {"rotation", "A", "B", "C", "D", "h3"}, "B2 C3h D4"},
        {"the next song held gives way", {"rotation", "A", "B", "C", "D", "h2"}, "C3 B2h D4"},
        {"a held song waits behind the next, and is back there",
         {"rotation", "A", "B", "C", "D", "h3", "end", "r3"},
         "D4 C3",
         "A"},
        {"予約順: a held song is passed over", {"A", "B", "C", "h2", "end"}, "B2h", "A"},
        {"a phone's cancel of the next gives way to the turns", {"rotation", "A", "B", "A", "C", "x2"}, "C4 A3"},
        {"a song stopped within 20 s is no turn", {"rotation", "A", "B", "A", "C", "sing 10", "stop"}, "A3 C4"},
        {"a song stopped after 20 s is a turn", {"rotation", "A", "B", "A", "C", "sing 25", "stop"}, "C4 A3", "A"},
    };
    for (const auto& row : rows) {
        Room room(dir.path(), state, clock);
        for (const std::string& step : row.steps)
            room.step(step);
        EXPECT_EQ(room.waiting(), QString::fromUtf8(row.expected)) << row.what;
        EXPECT_EQ(room.sung(), QString::fromUtf8(row.sung)) << row.what;
    }
}

// The strip's lists, the queue file, the queue record and the signals follow a switch of the order.
TEST_F(Turns, EveryViewFollowsTheSwitch)
{
    QueueRecord record(dir.filePath(u"db/queue.txt"_s), clock);
    stage.setQueueRecord(&record);
    int roomChanges = 0;
    int queueChanges = 0;
    QObject::connect(&stage, &Stage::roomChanged, [&] { ++roomChanges; });
    QObject::connect(&stage, &Stage::queueChanged, [&] { ++queueChanges; });
    run(Cmd::Reserve{SongNumber(100001), u"ユキ"_s}); // plays
    run(Cmd::Reserve{SongNumber(100002), u"ハナ"_s}); // next
    run(Cmd::Reserve{SongNumber(100003), u"ハナ"_s});
    run(u"100001"_s); // the keypad's
    const int rooms = roomChanges;
    const int queues = queueChanges;

    stage.setQueueOrder(QueueOrder::Rotation);
    EXPECT_GT(roomChanges, rooms);
    EXPECT_GT(queueChanges, queues);
    const QStringList shown{u"100001$夜明けの歌$ユキ$ENT"_s, u"100002$海の声$ハナ$ENT"_s,
                            u"100001$夜明けの歌$Guest$ENT"_s, u"100003$星の道$ハナ$ENT"_s};
    EXPECT_EQ(queueFileLines(), shown);
    QStringList recorded;
    for (const RecordedReservation& r : record.queue())
        recorded << r.number.text() + u'/' + r.user;
    EXPECT_EQ(recorded, (QStringList{u"100002/ハナ"_s, u"100001/Guest"_s, u"100003/ハナ"_s}));

    // Switched again to what it is, nothing is written.
    const int now = roomChanges;
    stage.setQueueOrder(QueueOrder::Rotation);
    EXPECT_EQ(roomChanges, now);
}

// With every waiting song held nothing is next: the next song is not taken, the heartbeat sees
// nothing to play (the idle screen), and the queue file still lists the held songs.
TEST_F(Turns, EverySongHeldIsNothingToPlay)
{
    run(Cmd::Reserve{SongNumber(100001), u"ユキ"_s});
    run(Cmd::Reserve{SongNumber(100002), u"ハナ"_s});
    run(Cmd::Hold{2, true});
    EXPECT_EQ(stage.statusText(), u"保留：(100002) - ハナ - 海の声"_s);
    EXPECT_EQ(stage.nextSong(), nullptr);
    main.finish();
    run(Cmd::PlayNext{});
    EXPECT_EQ(stage.nowPlaying().number, SongNumber(100001));
    EXPECT_EQ(stage.pendingCount(), 0);
    run(Cmd::NoReservations{});
    EXPECT_EQ(stage.pendingCount(), -1);
    EXPECT_EQ(queueFileLines().value(1), u"100002$海の声$ハナ$ENT"_s);

    run(Cmd::Hold{2, false});
    EXPECT_EQ(stage.statusText(), u"戻る：(100002) - ハナ - 海の声"_s);
    EXPECT_EQ(stage.pendingCount(), 1);
    run(Cmd::PlayNext{});
    EXPECT_EQ(stage.nowPlaying().number, SongNumber(100002));
}

// Held and pinned songs are in the queue record, and come back with their marks after a crash;
// lines written before the marks existed still read.
TEST_F(Turns, HeldAndPinnedSongsComeBackFromTheRecord)
{
    const struct
    {
        const char* line;
        bool readable;
        bool playing = false;
        bool held = false;
        bool pinned = false;
    } rows[] = {
        {"100001\tユキ\t\t\t\t3", true},
        {"100001\tユキ\t\t\t\t3\tplaying", true, true},
        {"100001\tユキ\t\t\t\t3\theld", true, false, true},
        {"100001\tユキ\t\t\t\t3\tpinned", true, false, false, true},
        {"100001\tユキ\t\t\t\t3\tplaying\tpinned", true, true, false, true},
        {"100001\tユキ\t\t\t\t3\theld\tpinned", true, false, true, true},
        {"100001\tユキ", true},
        {"100001\tユキ\t\t\t\t3\tpinned\theld", false}, // out of order
        {"100001\tユキ\t\t\t\t3\theld\theld", false},
        {"100001\tユキ\t\t\t\t3\tdone", false},
    };
    for (const auto& row : rows) {
        const RecordContent read = parseRecord(QByteArray(row.line) + '\n');
        ASSERT_EQ(read.entries.size(), row.readable ? 1 : 0) << row.line;
        if (!row.readable)
            continue;
        const RecordedReservation& r = read.entries[0];
        EXPECT_EQ(std::tuple(r.playing, r.held, r.pinned), std::tuple(row.playing, row.held, row.pinned)) << row.line;
        EXPECT_EQ(parseRecord(recordLine(r)).entries, read.entries) << row.line;
    }

    // Written by one run's stage, offered at the next start and kept, taken back by the next stage.
    const QString path = dir.filePath(u"db/queue.txt"_s);
    {
        QueueRecord record(path, clock);
        stage.setQueueRecord(&record);
        run(Cmd::Reserve{SongNumber(100001), u"ユキ"_s}); // plays
        run(Cmd::Reserve{SongNumber(100002), u"ハナ"_s});
        run(Cmd::Reserve{SongNumber(100003), u"ソラ"_s});
        run(Cmd::Reserve{SongNumber(100001), u"ミキ"_s});
        run(Cmd::Hold{3, true});
        run(u"000010"_s); // ミキ's to the front
        stage.setQueueRecord(nullptr);
    }
    QueueRecord record(path, clock);
    ASSERT_EQ(record.load(), 4);
    record.keepOffered();
    FakePlayer main2;
    FakePlayer second2;
    Stage next(main2, second2, state, AppPaths(dir.path()), clock);
    next.setQueueRecord(&record);
    next.restoreRecordedQueue();
    QStringList restored;
    for (const Reservation& r : next.queue())
        restored << r.user + (r.held ? u" held"_s : QString()) + (r.pinned ? u" pinned"_s : QString());
    EXPECT_EQ(restored, (QStringList{u"ユキ"_s, u"ミキ pinned"_s, u"ハナ"_s, u"ソラ held"_s}));
}
