#pragma once

#include "history/playlog.h"

#include <QHash>
#include <QList>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

namespace tarv {

enum class RankingPeriod {
    Tonight, // the karaoke session: from its start on
    Month,   // the calendar month of local time
    AllTime,
};

struct RankedSong
{
    qint64 number = 0;
    int count = 0;
    bool operator==(const RankedSong&) const = default;
};

// A song of a phone's or a name's history.
struct HistoryItem
{
    quint64 id = 0;
    qint64 startedAt = 0; // seconds since the epoch
    qint32 number = 0;
    qint32 seconds = -1; // how long it played; -1 while it plays, or when its end was never logged
    KeyTempo keyTempo;
    bool operator==(const HistoryItem&) const = default;
};

// The counts at one moment, as the guests' pages read them. Immutable: a play makes a new one, so a
// request holds its own and needs no lock.
class PlaySnapshot
{
public:
    static constexpr int RankingSize = 100;
    static constexpr int HistorySize = 100;

    // The most sung songs of a period, most first and equal counts by number, at most RankingSize.
    const std::vector<RankedSong>& ranking(RankingPeriod period) const;
    // The songs this phone or this name sang, newest first, each play once, at most limit (and at
    // most HistorySize of each). A device may be empty, and "Guest" is nobody's name.
    std::vector<HistoryItem> history(const QString& device, const QString& user, int limit = HistorySize) const;

    // The month the month's ranking counts (year * 12 + month - 1), and tonight's start (seconds
    // since the epoch).
    int month() const { return m_month; }
    qint64 sessionStart() const { return m_sessionStart; }

    // This snapshot in a later month, which has no plays yet.
    std::shared_ptr<const PlaySnapshot> inMonth(int month) const;

private:
    friend class PlayCounts;
    const QList<HistoryItem>* historyOf(const QHash<QString, qsizetype>& lists, const QString& key) const;

    std::vector<RankedSong> m_rankings[3];
    QHash<QString, qsizetype> m_users;     // each name's list in m_histories
    QHash<QString, qsizetype> m_devices;   // each phone's
    QList<QList<HistoryItem>> m_histories; // oldest first
    int m_month = 0;
    qint64 m_sessionStart = 0;
};

// A count per song number and the RankingSize best of them, kept as the counts change: a change
// that keeps the best ones certain costs a few steps; only a count taken down inside a full list
// has every count looked through again, when the list is next asked for.
class SongCounts
{
public:
    SongCounts();
    void add(qint64 number);
    void remove(qint64 number); // a count of 0 stays 0
    void clear();
    int count(qint64 number) const;
    // Most first and equal counts by number; at most PlaySnapshot::RankingSize.
    const std::vector<RankedSong>& best() const;

private:
    void rise(size_t at);
    void fall(size_t at);
    std::vector<qint32> m_counts; // by number - FirstSongNumber
    mutable std::vector<RankedSong> m_best;
    mutable bool m_unsure = false;
};

// The counts kept as songs play: per song of all time, of the calendar month and of the session,
// and each phone's and each name's newest plays. A play counts from its start; one that ended
// before MinCountedSeconds (stopped at once, or reserved by mistake) is taken out of the rankings
// again, and stays in the histories. Not thread-safe: PlayHistory guards it.
class PlayCounts : public PlayEvents
{
public:
    static constexpr int MinCountedSeconds = 30;
    // Tonight reaches back this far before the counts began, at most.
    static constexpr qint64 RecentSeconds = 24 * 3600;

    // Counting begins at now: its month is the month counted, and tonight starts there until
    // setSessionStart() says otherwise.
    explicit PlayCounts(const QDateTime& now);

    void started(const PlayRecord& play) override;
    void ended(quint64 id, int seconds, std::optional<KeyTempo> endedAt) override;

    // Tonight counts the plays from start on (seconds since the epoch).
    void setSessionStart(qint64 start);
    // Moves the month's counts on to month when it is later than the one counted.
    void setMonth(int month);

    std::shared_ptr<const PlaySnapshot> snapshot() const;

private:
    struct Recent
    {
        quint64 id;
        qint64 startedAt;
        qint32 number;
        qint32 seconds;
    };
    struct Open // a play whose end is still to come
    {
        quint64 id;
        qint32 number;
        int month;
        qsizetype userList;
        qsizetype deviceList;
    };

    qsizetype listOf(QHash<QString, qsizetype>& lists, const QString& key);
    void setEnd(qsizetype list, quint64 id, int seconds, const std::optional<KeyTempo>& endedAt);

    SongCounts m_allTime;
    SongCounts m_monthly;
    int m_month = 0;
    qint64 m_sessionStart = 0;
    qint64 m_recentFrom = 0;
    std::deque<Recent> m_recent; // the plays tonight may count, oldest first
    std::deque<Open> m_open;
    QHash<QString, qsizetype> m_users;
    QHash<QString, qsizetype> m_devices;
    QList<QList<HistoryItem>> m_histories;
};

} // namespace tarv
