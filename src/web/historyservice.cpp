#include "web/historyservice.h"

#include "history/favourites.h"
#include "history/playhistory.h"
#include "search/songcatalog.h"
#include "stage/command.h"
#include "web/webreplies.h"

#include <QFileInfo>
#include <QJsonArray>

namespace tarv {

namespace {

QString period(RankingPeriod period)
{
    switch (period) {
    case RankingPeriod::Tonight:
        return QStringLiteral("tonight");
    case RankingPeriod::Month:
        return QStringLiteral("month");
    case RankingPeriod::AllTime:
        break;
    }
    return QStringLiteral("all");
}

// Local time with its offset: 2026-03-14T21:05:09+09:00.
QString timeText(qint64 secondsSinceEpoch)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}


} // namespace

HistoryService::HistoryService(const AppPaths& paths, PlayHistory& history, Favourites& favourites,
                               SongCatalog& catalog, const Clock& clock, int pageSize)
    : m_paths(paths), m_history(history), m_favourites(favourites), m_catalog(catalog), m_clock(clock),
      m_pageSize(pageSize)
{
}

HistoryService::~HistoryService() = default;

std::shared_ptr<const HistoryService::Songs> HistoryService::songs() const
{
    m_catalog.refresh();
    auto index = m_catalog.index();
    {
        const std::lock_guard lock(m_mutex);
        if (m_songs && m_songs->index == index)
            return m_songs;
    }
    // Built outside the lock: a request of the index before goes on meanwhile.
    auto built = std::make_shared<Songs>();
    built->positions.reserve(qsizetype(index->songs().size()));
    for (qsizetype i = 0; i < qsizetype(index->songs().size()); ++i)
        built->positions.insert(index->songs()[size_t(i)].number, i); // a number listed twice: its last entry
    built->initials = std::make_shared<InitialIndex>(*index);
    built->index = std::move(index);
    const std::lock_guard lock(m_mutex);
    if (!m_songs || m_songs->index != built->index)
        m_songs = std::move(built);
    return m_songs;
}

QJsonObject HistoryService::song(qint64 number, const QString& title, const QString& name) const
{
    return {{QStringLiteral("number"), QString::number(number)},
            {QStringLiteral("title"), title},
            {QStringLiteral("favourite"), !name.isEmpty() && m_favourites.contains(name, SongNumber(number))}};
}

QJsonObject HistoryService::songOf(const Songs& songs, qint64 number, const QString& name) const
{
    const auto found = songs.positions.constFind(number);
    return song(number, found == songs.positions.cend() ? QString() : songs.index->songs()[size_t(*found)].title,
                name);
}

HttpResponse HistoryService::history(const QString& device, const QString& name) const
{
    const auto snapshot = m_history.snapshot();
    const auto all = songs();
    QJsonArray list;
    for (const HistoryItem& item : snapshot->history(device, name)) {
        QJsonObject shown = songOf(*all, item.number, name);
        shown.insert(QStringLiteral("key"), item.keyTempo.key);
        shown.insert(QStringLiteral("tempo"), item.keyTempo.tempo);
        shown.insert(QStringLiteral("at"), timeText(item.startedAt));
        shown.insert(QStringLiteral("seconds"), item.seconds);
        list.append(shown);
    }
    return jsonReply(200, QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("songs"), list}});
}

HttpResponse HistoryService::ranking(const QString& asked, const QString& name) const
{
    std::optional<RankingPeriod> chosen;
    for (RankingPeriod p : {RankingPeriod::Tonight, RankingPeriod::Month, RankingPeriod::AllTime}) {
        if (asked == period(p))
            chosen = p;
    }
    if (!chosen)
        return failureReply(400, QStringLiteral("期間は tonight、month、all のどれかです。"));
    const auto snapshot = m_history.snapshot();
    const auto all = songs();
    QJsonArray list;
    int rank = 0, shownRank = 0, lastCount = -1;
    for (const RankedSong& ranked : snapshot->ranking(*chosen)) {
        ++rank;
        if (ranked.count != lastCount)
            shownRank = rank; // equal counts share a rank
        lastCount = ranked.count;
        QJsonObject shown = songOf(*all, ranked.number, name);
        shown.insert(QStringLiteral("rank"), shownRank);
        shown.insert(QStringLiteral("count"), ranked.count);
        list.append(shown);
    }
    return jsonReply(200, QJsonObject{{QStringLiteral("period"), period(*chosen)}, {QStringLiteral("songs"), list}});
}

HttpResponse HistoryService::newSongs(const QString& name)
{
    const auto all = songs();
    const QDate today = m_clock.now().date();
    const QFileInfo noted(registeredFile(m_paths));
    std::shared_ptr<const NewSongs> fresh;
    {
        // One request makes the list at a time (it looks at videos); the others wait for it.
        const std::lock_guard lock(m_newMutex);
        if (!m_new || m_new->index != all->index || m_new->day != today || m_new->noted != noted.lastModified() ||
            m_new->notedSize != noted.size()) {
            auto made = std::make_shared<NewSongs>();
            made->index = all->index;
            made->day = today;
            made->noted = noted.lastModified();
            made->notedSize = noted.size();
            std::vector<qint64> numbers;
            numbers.reserve(all->positions.size());
            for (auto it = all->positions.cbegin(); it != all->positions.cend(); ++it)
                numbers.push_back(it.key());
            made->songs = songsRegisteredSince(m_paths, numbers, today.addDays(-(NewSongDays - 1)));
            m_new = std::move(made);
        }
        fresh = m_new;
    }
    QJsonArray list;
    for (const RegisteredSong& registered : fresh->songs) {
        QJsonObject shown = songOf(*all, registered.number, name);
        shown.insert(QStringLiteral("registered"), registered.registered.toString(Qt::ISODate));
        list.append(shown);
    }
    return jsonReply(200, QJsonObject{{QStringLiteral("days"), NewSongDays}, {QStringLiteral("songs"), list}});
}

HttpResponse HistoryService::initial(const QString& kana, int page, const QString& name)
{
    const auto all = songs();
    if (kana.size() != 1 || initialKana(kana).isNull())
        return failureReply(400, QStringLiteral("かなを一文字選んでください。"));
    const std::vector<qsizetype>& found = all->initials->songs(kana);
    const int pages = int((qsizetype(found.size()) + m_pageSize - 1) / m_pageSize);
    page = qBound(0, page, qMax(0, pages - 1));
    QJsonArray list;
    for (qsizetype i = qsizetype(page) * m_pageSize;
         i < qsizetype(found.size()) && i < qsizetype(page + 1) * m_pageSize; ++i) {
        const CatalogSong& found1 = all->index->songs()[size_t(found[size_t(i)])];
        list.append(song(found1.number, found1.title, name));
    }
    return jsonReply(200, QJsonObject{{QStringLiteral("kana"), kana},
                                      {QStringLiteral("total"), qint64(found.size())},
                                      {QStringLiteral("page"), page},
                                      {QStringLiteral("pages"), pages},
                                      {QStringLiteral("songs"), list}});
}

HttpResponse HistoryService::favourites(const QString& name) const
{
    const auto all = songs();
    QJsonArray list;
    if (!name.isEmpty()) {
        for (const SongNumber& number : m_favourites.songs(name))
            list.append(songOf(*all, number.value(), name));
    }
    return jsonReply(200, QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("songs"), list}});
}

HttpResponse HistoryService::setFavourite(const SongNumber& number, bool on, const QString& name)
{
    if (name.isEmpty() || name == GuestUser)
        return failureReply(409, QStringLiteral("マイリストを使うには、お名前を入れて「ログイン」してください。"));
    const auto all = songs();
    if (!number.isSongNumber() || !all->positions.contains(number.value()))
        return failureReply(404, QStringLiteral("その曲番号の曲はありません。"));
    if (const QString error = m_favourites.set(name, number, on); !error.isEmpty())
        return failureReply(503, error);
    return jsonReply(200, QJsonObject{{QStringLiteral("ok"), true},
                                      {QStringLiteral("number"), number.text()},
                                      {QStringLiteral("on"), on}});
}

} // namespace tarv
