#include "stage/singerkeys.h"

#include "common/savefile.h"
#include "common/textfile.h"
#include "stage/command.h"

#include <QFileInfo>
#include <QList>
#include <QLoggingCategory>

#include <algorithm>

namespace tarv {

Q_LOGGING_CATEGORY(lcSingerKeys, "tarv.singerkeys")

namespace {

// Years of a bar's regulars, a short line per singer and song.
constexpr qint64 MaxSingerKeysBytes = 16 * 1024 * 1024;

struct Line
{
    QString user;
    QString number;
    std::optional<KeyTempo> value; // nullopt: a line that could not be read, kept byte for byte
    QByteArray bytes;
};

// The lines of the file; nullopt (with the reason in error) when it exists and cannot be read.
std::optional<QList<Line>> readLines(const QString& file, QString* error)
{
    QList<Line> lines;
    if (!QFileInfo::exists(file))
        return lines;
    const auto bytes = readFileBytes(file, MaxSingerKeysBytes, error);
    if (!bytes)
        return std::nullopt;
    int row = 0;
    forEachLine(*bytes, [&](QByteArrayView raw) {
        ++row;
        if (raw.isEmpty())
            return;
        const QString text = QString::fromUtf8(raw);
        const QStringList fields = text.split(u'\t');
        bool keyOk = false;
        bool tempoOk = false;
        const int key = fields.size() == 4 ? fields[2].toInt(&keyOk) : 0;
        const int tempo = fields.size() == 4 ? fields[3].toInt(&tempoOk) : 0;
        if (!keyOk || !tempoOk || key != KeyTempo::clampKey(key) || tempo != KeyTempo::clampTempo(tempo)) {
            qCWarning(lcSingerKeys).noquote()
                << QStringLiteral("%1 の %2 行目は読めないので、そのまま残します").arg(file).arg(row);
            lines.append({{}, {}, std::nullopt, raw.toByteArray()});
            return;
        }
        lines.append({fields[0], fields[1], KeyTempo{key, tempo}, raw.toByteArray()});
    });
    return lines;
}

bool isRemembered(const QString& user)
{
    return !user.isEmpty() && user != GuestUser;
}

} // namespace

std::optional<KeyTempo> rememberedKeyTempo(const QString& file, const QString& user, const SongNumber& number)
{
    if (!isRemembered(user))
        return std::nullopt;
    QString error;
    const std::optional<QList<Line>> lines = readLines(file, &error);
    if (!lines) {
        qCWarning(lcSingerKeys).noquote() << QStringLiteral("歌い手のキーとテンポを読めません：") + error;
        return std::nullopt;
    }
    for (const Line& line : *lines) {
        if (line.value && line.user == user && line.number == number.text())
            return line.value;
    }
    return std::nullopt;
}

QString rememberKeyTempo(const QString& file, const QString& user, const SongNumber& number, KeyTempo value)
{
    if (!isRemembered(user))
        return {};
    QString error;
    std::optional<QList<Line>> read = readLines(file, &error);
    if (!read) // writing now would lose what the file holds
        return QStringLiteral("読めないので書き換えません：") + error;
    QList<Line>& lines = *read;
    const auto same = std::find_if(lines.begin(), lines.end(), [&](const Line& line) {
        return line.value && line.user == user && line.number == number.text();
    });
    if (same == lines.end() ? value.isOriginal() : same->value == value)
        return {};
    const QByteArray bytes =
        (user + u'\t' + number.text() + u'\t' + QString::number(value.key) + u'\t' + QString::number(value.tempo))
            .toUtf8();
    if (same != lines.end())
        same->bytes = bytes;
    else
        lines.append({user, number.text(), value, bytes});
    QByteArray content;
    for (const Line& line : lines)
        content += line.bytes + '\n';
    // Atomic, not synced: a power cut may cost the last change of a key, never the file.
    return saveFile(file, content, Durability::AtomicOnly);
}

} // namespace tarv
