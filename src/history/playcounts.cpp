#include "history/playcounts.h"

#include "exchange/exchange.h"
#include "stage/command.h"

#include <algorithm>

namespace tarv {

namespace {

constexpr size_t SongSlots = size_t(LastSongNumber - FirstSongNumber + 1);
// Ends follow their starts closely: the song playing, and one a crash left without an end.
constexpr size_t MaxOpenPlays = 64;

// Most first, then the lower number.
bool ranksBefore(const RankedSong& a, const RankedSong& b)
{
    return a.count != b.count ? a.count > b.count : a.number < b.number;
}

// The RankingSize best of the counts offered, through a heap that holds the best so far with the
// worst of them on top.
class TopSongs
{
public:
    void offer(qint64 number, int count)
    {
        if (count <= 0)
            return;
        const RankedSong song{number, count};
        if (m_songs.size() < size_t(PlaySnapshot::RankingSize)) {
            m_songs.push_back(song);
            std::push_heap(m_songs.begin(), m_songs.end(), ranksBefore);
        } else if (ranksBefore(song, m_songs.front())) {
            std::pop_heap(m_songs.begin(), m_songs.end(), ranksBefore);
            m_songs.back() = song;
            std::push_heap(m_songs.begin(), m_songs.end(), ranksBefore);
        }
    }
    std::vector<RankedSong> take()
    {
        std::sort(m_songs.begin(), m_songs.end(), ranksBefore);
        return std::move(m_songs);
    }

private:
    std::vector<RankedSong> m_songs;
};

bool isNamed(const QString& user)
{
    return !user.isEmpty() && user != GuestUser;
}

} // namespace

SongCounts::SongCounts() = default;

int SongCounts::count(qint64 number) const
{
    const size_t at = size_t(number - FirstSongNumber);
    return at < m_counts.size() ? m_counts[at] : 0;
}

void SongCounts::rise(size_t at)
{
    for (; at > 0 && ranksBefore(m_best[at], m_best[at - 1]); --at)
        std::swap(m_best[at], m_best[at - 1]);
}

void SongCounts::fall(size_t at)
{
    for (; at + 1 < m_best.size() && ranksBefore(m_best[at + 1], m_best[at]); ++at)
        std::swap(m_best[at], m_best[at + 1]);
}

void SongCounts::add(qint64 number)
{
    // Grown as far as the numbers sung reach: a library numbered from 100001 holds a count a song.
    const size_t at = size_t(number - FirstSongNumber);
    if (at >= SongSlots)
        return;
    if (at >= m_counts.size())
        m_counts.resize(std::max(at + 1, std::min(SongSlots, m_counts.size() * 2)), 0);
    const int before = m_counts[at]++;
    if (m_unsure)
        return;
    const RankedSong song{number, before + 1};
    const bool full = m_best.size() == size_t(PlaySnapshot::RankingSize);
    // In a full list a song is listed when its count before ranks with the listed ones.
    const bool listed = before > 0 && (!full || !ranksBefore(m_best.back(), RankedSong{number, before}));
    if (listed) {
        const auto at = std::find_if(m_best.begin(), m_best.end(), [number](auto& s) { return s.number == number; });
        if (at == m_best.end()) {
            m_unsure = true;
            return;
        }
        at->count = song.count;
        rise(size_t(at - m_best.begin()));
    } else if (!full || ranksBefore(song, m_best.back())) {
        if (full)
            m_best.back() = song;
        else
            m_best.push_back(song);
        rise(m_best.size() - 1);
    }
}

void SongCounts::remove(qint64 number)
{
    const size_t slot = size_t(number - FirstSongNumber);
    if (slot >= m_counts.size())
        return;
    qint32& count = m_counts[slot];
    if (count == 0)
        return;
    --count;
    if (m_unsure)
        return;
    const auto at = std::find_if(m_best.begin(), m_best.end(), [number](auto& s) { return s.number == number; });
    if (at == m_best.end())
        return;
    if (m_best.size() == size_t(PlaySnapshot::RankingSize)) {
        m_unsure = true; // the song that follows the listed ones is not known
    } else if (count == 0) {
        m_best.erase(at);
    } else {
        at->count = count;
        fall(size_t(at - m_best.begin()));
    }
}

void SongCounts::clear()
{
    std::vector<qint32>().swap(m_counts);
    m_best.clear();
    m_unsure = false;
}

const std::vector<RankedSong>& SongCounts::best() const
{
    if (m_unsure) {
        TopSongs top;
        for (size_t i = 0; i < m_counts.size(); ++i) {
            if (m_counts[i] > 0)
                top.offer(FirstSongNumber + qint64(i), m_counts[i]);
        }
        m_best = top.take();
        m_unsure = false;
    }
    return m_best;
}

const std::vector<RankedSong>& PlaySnapshot::ranking(RankingPeriod period) const
{
    return m_rankings[int(period)];
}

const QList<HistoryItem>* PlaySnapshot::historyOf(const QHash<QString, qsizetype>& lists, const QString& key) const
{
    const auto found = lists.constFind(key);
    return found == lists.cend() ? nullptr : &m_histories[*found];
}

std::vector<HistoryItem> PlaySnapshot::history(const QString& device, const QString& user, int limit) const
{
    static const QList<HistoryItem> none;
    const QString name = storedUserName(user);
    const QList<HistoryItem>* phone = device.isEmpty() ? nullptr : historyOf(m_devices, device);
    const QList<HistoryItem>* named = isNamed(name) ? historyOf(m_users, name) : nullptr;
    const QList<HistoryItem>& a = phone ? *phone : none;
    const QList<HistoryItem>& b = named ? *named : none;
    // Both lists run oldest first, in the order the plays started (their ids), and a play of this
    // phone under this name is in both.
    std::vector<HistoryItem> out;
    const qsizetype aEnd = std::max<qsizetype>(0, a.size() - HistorySize);
    const qsizetype bEnd = std::max<qsizetype>(0, b.size() - HistorySize);
    qsizetype i = a.size() - 1, j = b.size() - 1;
    while (qsizetype(out.size()) < limit && (i >= aEnd || j >= bEnd)) {
        if (i >= aEnd && j >= bEnd && a[i].id == b[j].id) {
            out.push_back(a[i--]);
            --j;
        } else if (j < bEnd || (i >= aEnd && a[i].id > b[j].id)) {
            out.push_back(a[i--]);
        } else {
            out.push_back(b[j--]);
        }
    }
    return out;
}

std::shared_ptr<const PlaySnapshot> PlaySnapshot::inMonth(int month) const
{
    auto later = std::make_shared<PlaySnapshot>(*this);
    later->m_month = month;
    later->m_rankings[int(RankingPeriod::Month)].clear();
    return later;
}

PlayCounts::PlayCounts(const QDateTime& now)
    : m_month(monthKey(now.date())), m_sessionStart(now.toSecsSinceEpoch()),
      m_recentFrom(m_sessionStart - RecentSeconds)
{
}

qsizetype PlayCounts::listOf(QHash<QString, qsizetype>& lists, const QString& key)
{
    const auto found = lists.constFind(key);
    if (found != lists.cend())
        return *found;
    m_histories.append(QList<HistoryItem>());
    lists.insert(key, m_histories.size() - 1);
    return m_histories.size() - 1;
}

void PlayCounts::started(const PlayRecord& play)
{
    if (!SongNumber(play.number).isSongNumber())
        return;
    m_allTime.add(play.number);
    setMonth(play.month);
    if (play.month == m_month)
        m_monthly.add(play.number);
    if (play.startedAt >= m_recentFrom) {
        m_recent.push_back({play.id, play.startedAt, qint32(play.number), -1});
        const qint64 keepFrom = std::min(m_sessionStart, play.startedAt - RecentSeconds);
        while (m_recent.front().startedAt < keepFrom)
            m_recent.pop_front();
    }
    const HistoryItem item{play.id, play.startedAt, qint32(play.number), -1, play.keyTempo};
    Open open{play.id, qint32(play.number), play.month, -1, -1};
    if (isNamed(play.user))
        open.userList = listOf(m_users, play.user);
    if (!play.device.isEmpty())
        open.deviceList = listOf(m_devices, play.device);
    for (const qsizetype list : {open.userList, open.deviceList}) {
        if (list < 0)
            continue;
        // Trimmed in batches, in a list that never grows past its first room (a log of thousands of
        // phones keeps each one's few kilobytes); a snapshot looks at the newest HistorySize only.
        QList<HistoryItem>& items = m_histories[list];
        if (items.capacity() < HistoryRoom)
            items.reserve(HistoryRoom);
        if (items.size() >= HistoryRoom)
            items.remove(0, items.size() - PlaySnapshot::HistorySize + 1);
        items.append(item);
    }
    m_open.push_back(open);
    if (m_open.size() > MaxOpenPlays)
        m_open.pop_front();
}

void PlayCounts::setEnd(qsizetype list, quint64 id, int seconds, const std::optional<KeyTempo>& endedAt)
{
    if (list < 0)
        return;
    QList<HistoryItem>& items = m_histories[list];
    for (qsizetype i = items.size() - 1; i >= 0; --i) {
        if (items.at(i).id == id) {
            items[i].seconds = seconds;
            if (endedAt)
                items[i].keyTempo = *endedAt; // the key it was sung at: where the singer left it
            return;
        }
    }
}

void PlayCounts::ended(quint64 id, int seconds, std::optional<KeyTempo> endedAt)
{
    const auto found = std::find_if(m_open.rbegin(), m_open.rend(), [id](const Open& open) { return open.id == id; });
    if (found == m_open.rend())
        return; // never started, or ended already
    const Open open = *found;
    m_open.erase(std::next(found).base());
    seconds = std::max(0, seconds);
    if (seconds < MinCountedSeconds) {
        m_allTime.remove(open.number);
        if (open.month == m_month)
            m_monthly.remove(open.number);
    }
    for (auto recent = m_recent.rbegin(); recent != m_recent.rend(); ++recent) {
        if (recent->id == id) {
            recent->seconds = seconds;
            break;
        }
    }
    setEnd(open.userList, id, seconds, endedAt);
    setEnd(open.deviceList, id, seconds, endedAt);
}

void PlayCounts::setSessionStart(qint64 start)
{
    m_sessionStart = start;
}

void PlayCounts::setMonth(int month)
{
    if (month <= m_month)
        return;
    m_monthly.clear();
    m_month = month;
}

std::shared_ptr<const PlaySnapshot> PlayCounts::snapshot() const
{
    auto out = std::make_shared<PlaySnapshot>();
    out->m_rankings[int(RankingPeriod::AllTime)] = m_allTime.best();
    out->m_rankings[int(RankingPeriod::Month)] = m_monthly.best();
    QHash<qint32, int> tonight;
    for (const Recent& play : m_recent) {
        if (play.startedAt >= m_sessionStart && (play.seconds < 0 || play.seconds >= MinCountedSeconds))
            ++tonight[play.number];
    }
    TopSongs top;
    for (auto i = tonight.cbegin(); i != tonight.cend(); ++i)
        top.offer(i.key(), i.value());
    out->m_rankings[int(RankingPeriod::Tonight)] = top.take();
    out->m_users = m_users;
    out->m_devices = m_devices;
    out->m_histories = m_histories;
    out->m_month = m_month;
    out->m_sessionStart = m_sessionStart;
    return out;
}

} // namespace tarv
