#pragma once

#include "common/apppaths.h"
#include "common/clock.h"
#include "history/initialkana.h"
#include "history/playcounts.h"
#include "library/registrationdates.h"
#include "web/guestservice.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace tarv {

class Favourites;
class PlayHistory;
class SongCatalog;
struct CatalogSong;

// The room's memory on the phones: each phone's and its name's history, the name's favourites
// (マイリスト), the rankings of tonight, the month and all time, the songs registered lately and the
// songs by the first sound of their reading. The guests' service hands it the requests once it
// knows the phone's device and the name it goes by ("" for none). Thread-safe.
class HistoryService
{
public:
    static constexpr int NewSongDays = 30;

    HistoryService(const AppPaths& paths, PlayHistory& history, Favourites& favourites, SongCatalog& catalog,
                   const Clock& clock, int pageSize);
    ~HistoryService();

    HttpResponse history(const QString& device, const QString& name) const;
    HttpResponse ranking(const QString& period, const QString& name) const;
    HttpResponse newSongs(const QString& name);
    HttpResponse initial(const QString& kana, int page, const QString& name);
    HttpResponse favourites(const QString& name) const;
    // Stars a song for the name (on), or takes its star away.
    HttpResponse setFavourite(const SongNumber& number, bool on, const QString& name);

    // A song as every list shows it: its number, title and whether the name starred it.
    QJsonObject song(qint64 number, const QString& title, const QString& name) const;

private:
    // The catalog's index as it stands, with what is built once per index.
    struct Songs
    {
        std::shared_ptr<const SongIndex> index;
        QHash<qint64, qsizetype> positions; // of each number in index->songs()
        std::shared_ptr<const InitialIndex> initials;
    };
    std::shared_ptr<const Songs> songs() const;
    // The song of a number as the list shows it; null title for a song no longer in it.
    QJsonObject songOf(const Songs& songs, qint64 number, const QString& name) const;

    AppPaths m_paths;
    PlayHistory& m_history;
    Favourites& m_favourites;
    SongCatalog& m_catalog;
    const Clock& m_clock;
    const int m_pageSize;
    mutable std::mutex m_mutex;
    mutable std::shared_ptr<const Songs> m_songs;
    // The new songs, made again for another index, another day or a changed registered.txt.
    struct NewSongs
    {
        std::shared_ptr<const SongIndex> index;
        QDate day;
        QDateTime noted; // registered.txt's modification time
        qint64 notedSize = -1;
        std::vector<RegisteredSong> songs;
    };
    std::mutex m_newMutex;
    std::shared_ptr<const NewSongs> m_new;
};

} // namespace tarv
