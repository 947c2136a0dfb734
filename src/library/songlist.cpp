#include "library/songlist.h"

#include "common/cp932.h"
#include "common/display.h"
#include "common/linepairs.h"
#include "common/numbers.h"
#include "common/savefile.h"
#include "common/textfile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace tarv {
namespace {

// The last line of file content, without its line end.
QByteArray lastLine(QByteArray content)
{
    if (content.endsWith('\n'))
        content.chop(1);
    if (content.endsWith('\r'))
        content.chop(1);
    return content.mid(content.lastIndexOf('\n') + 1);
}

} // namespace

QString Song::title() const
{
    return decodeCp932(rawTitle);
}

QString Song::displayText() const
{
    return displayForm(numberText(), title());
}

Song Song::fromTitle(qint64 number, const QString& title)
{
    return Song{number, encodeCp932(title)};
}

SongListLoad parseSongList(const QByteArray& content)
{
    SongListLoad result;
    result.found = true;
    const LinePairs pairs = readLinePairs(content);
    result.songs.reserve(pairs.pairs.size());
    for (const LinePair& pair : pairs.pairs) {
        const QString numberLine = decodeCp932(pair.first);
        const double number = leadingNumber(numberLine);
        // Numbers are whole numbers of at most ten digits; anything else is no song number.
        if (!beginsWithNumber(numberLine) || !(std::fabs(number) < 1e10)) {
            result.warnings << QStringLiteral("%1行目「%2」は曲番号ではないので読み飛ばしました")
                                   .arg(pair.firstLine)
                                   .arg(numberLine);
            continue;
        }
        result.songs.append(Song{qint64(number), pair.second});
    }
    // A blank line at the end (an editor's extra line end) holds nothing to lose.
    if (pairs.danglingLine && !lastLine(content).trimmed().isEmpty())
        result.warnings << QStringLiteral("最後の行に曲名がないので読み飛ばしました");
    return result;
}

SongListLoad loadSongList(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    QString error;
    const auto bytes = readFileBytes(path, &error);
    if (!bytes) {
        SongListLoad result;
        result.error = error;
        return result;
    }
    return parseSongList(*bytes);
}

QList<Song> orderSongs(QList<Song> songs)
{
    std::stable_sort(songs.begin(), songs.end(), [](const Song& a, const Song& b) { return a.number < b.number; });
    return songs;
}

QByteArray serializeSongList(const QList<Song>& songs)
{
    QList<LinePair> pairs;
    pairs.reserve(songs.size());
    for (const Song& song : songs)
        pairs.append(LinePair{QByteArray(" ") + QByteArray::number(song.number) + ' ', song.rawTitle});
    return writeLinePairs(pairs);
}

QString rewriteSongList(const QString& path, const QList<Song>& songs)
{
    return saveFile(path, serializeSongList(songs));
}

QString backupFileName(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".txt");
}

QString backupSongList(const AppPaths& paths, const QDateTime& when)
{
    if (!QFileInfo(paths.backupDir()).isDir())
        return QStringLiteral("%1 がありません").arg(paths.backupDir());
    QString error;
    const auto bytes = readFileBytes(paths.songList(), &error);
    if (!bytes)
        return QStringLiteral("%1: %2").arg(paths.songList(), error);
    return saveFile(QDir(paths.backupDir()).filePath(backupFileName(when)), *bytes);
}

LibraryTotals libraryTotals(const AppPaths& paths, const QList<Song>& songs)
{
    LibraryTotals totals;
    totals.count = songs.size();
    for (const Song& song : songs) {
        const QFileInfo video(paths.video(song.numberText()));
        if (video.isFile())
            totals.bytes += video.size();
        else
            totals.missingVideos << song.numberText();
    }
    return totals;
}

QString summaryLine(const LibraryTotals& totals)
{
    const double bytes = double(totals.bytes);
    const double mb = std::floor(bytes / 1024 / 1024 * 10) / 10;
    const double gb = std::floor(bytes / 1024 / 1024 / 1024 * 100) / 100;
    return QStringLiteral("--- All files:") + QString::number(totals.count) + QStringLiteral("Count (") +
           decimalText(mb) + QStringLiteral("MB : ") + decimalText(gb) + QStringLiteral("GB) ---");
}

} // namespace tarv
