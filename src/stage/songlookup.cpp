#include "stage/songlookup.h"

#include "common/linepairs.h"
#include "common/textfile.h"

#include <QFileInfo>

#include <cmath>

namespace tarv {

SongLookup::SongLookup(QString songListPath) : m_path(std::move(songListPath)) {}

void SongLookup::refresh()
{
    QFileInfo info(m_path);
    Stamp stamp;
    stamp.exists = info.exists();
    if (stamp.exists) {
        stamp.size = info.size();
        stamp.modified = info.fileTime(QFileDevice::FileModificationTime);
        stamp.changed = info.fileTime(QFileDevice::FileMetadataChangeTime);
    }
    if (m_stamp && *m_stamp == stamp)
        return;

    QString error;
    const std::optional<QByteArray> bytes = stamp.exists ? readFileBytes(m_path, &error) : QByteArray();
    m_songs = bytes ? parseSongList(*bytes).songs : QList<Song>();
    // The count is of the pairs read, including any whose number line is not a number.
    m_pairCount = bytes ? readLinePairs(*bytes).pairs.size() : 0;
    m_index.clear();
    m_index.reserve(m_songs.size());
    for (qsizetype i = 0; i < m_songs.size(); ++i)
        m_index.insert(m_songs[i].number, i);
    // An unreadable file is tried again next time rather than remembered as empty.
    if (error.isEmpty())
        m_stamp = stamp;
    else
        m_stamp.reset();
}

std::optional<Song> SongLookup::find(double number)
{
    refresh();
    if (!std::isfinite(number) || number != std::trunc(number) || std::fabs(number) > 1e15)
        return std::nullopt;
    const auto it = m_index.constFind(qint64(number));
    if (it == m_index.constEnd())
        return std::nullopt;
    return m_songs[*it];
}

qsizetype SongLookup::count()
{
    refresh();
    return m_pairCount;
}

} // namespace tarv
