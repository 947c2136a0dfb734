#include "history/favourites.h"

#include "common/savefile.h"
#include "common/textfile.h"
#include "exchange/exchange.h"
#include "stage/command.h"

#include <QHash>
#include <QLoggingCategory>

#include <mutex>
#include <vector>

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcHistory)

namespace {

struct Line
{
    QString user;
    QList<qint64> numbers;
    QByteArray raw; // a line that could not be read, kept as it is
};

bool isNamed(const QString& user)
{
    return !user.isEmpty() && user != GuestUser;
}

std::optional<Line> parseLine(QByteArrayView bytes)
{
    if (!bytes.isValidUtf8())
        return std::nullopt;
    const QString text = QString::fromUtf8(bytes);
    const QList<QStringView> fields = QStringView(text).split(u'\t');
    Line line{fields[0].toString(), {}, {}};
    if (!isNamed(line.user) || storedUserName(line.user) != line.user)
        return std::nullopt;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const SongNumber number = SongNumber::fromText(fields[i]);
        if (!number.isSongNumber() || number.text() != fields[i])
            return std::nullopt;
        if (!line.numbers.contains(number.value()))
            line.numbers.append(number.value());
    }
    return line;
}

} // namespace

struct Favourites::Private
{
    void loadLocked();
    QByteArray content() const;
    Line* lineOf(const QString& user);

    QString path;
    std::mutex mutex;
    bool loaded = false;
    QString problem; // why the file could not be read; nothing is changed then
    std::vector<Line> lines;
    QHash<QString, size_t> byUser;
};

void Favourites::Private::loadLocked()
{
    loaded = true;
    problem.clear();
    lines.clear();
    byUser.clear();
    if (!nameTaken(path))
        return;
    QString error;
    const auto bytes = readFileBytes(path, MaxFileBytes, &error);
    if (!bytes) {
        problem = error;
        qCWarning(lcHistory).noquote() << "favourites not read, and left as they are:" << error;
        return;
    }
    forEachLine(*bytes, [this](QByteArrayView bytes) {
        if (bytes.trimmed().isEmpty())
            return;
        std::optional<Line> line = parseLine(bytes);
        if (!line) {
            lines.push_back({{}, {}, bytes.toByteArray()});
        } else if (Line* known = lineOf(line->user)) {
            for (qint64 number : std::as_const(line->numbers))
                if (!known->numbers.contains(number))
                    known->numbers.append(number);
        } else {
            byUser.insert(line->user, lines.size());
            lines.push_back(std::move(*line));
        }
    });
}

Line* Favourites::Private::lineOf(const QString& user)
{
    const auto found = byUser.constFind(user);
    return found == byUser.cend() ? nullptr : &lines[*found];
}

QByteArray Favourites::Private::content() const
{
    QByteArray out;
    for (const Line& line : lines) {
        if (!line.raw.isEmpty()) {
            out += line.raw + '\n';
        } else if (!line.numbers.isEmpty()) {
            out += line.user.toUtf8();
            for (qint64 number : line.numbers)
                out += '\t' + QByteArray::number(number);
            out += '\n';
        }
    }
    return out;
}

Favourites::Favourites(QString path) : d(std::make_unique<Private>())
{
    d->path = std::move(path);
}

Favourites::~Favourites() = default;

QString Favourites::file(const AppPaths& paths)
{
    return paths.file(QStringLiteral("db/favourites.txt"));
}

QString Favourites::load()
{
    const std::lock_guard lock(d->mutex);
    d->loadLocked();
    return d->problem;
}

QList<SongNumber> Favourites::songs(const QString& user) const
{
    const std::lock_guard lock(d->mutex);
    if (!d->loaded)
        d->loadLocked();
    QList<SongNumber> out;
    if (const Line* line = d->lineOf(storedUserName(user)); line && isNamed(line->user)) {
        out.reserve(line->numbers.size());
        for (qint64 number : line->numbers)
            out.append(SongNumber(number));
    }
    return out;
}

bool Favourites::contains(const QString& user, const SongNumber& number) const
{
    return songs(user).contains(number);
}

QString Favourites::set(const QString& user, const SongNumber& number, bool on)
{
    const std::lock_guard lock(d->mutex);
    if (!d->loaded)
        d->loadLocked();
    if (!d->problem.isEmpty())
        return QStringLiteral("マイリストの記録を読めないので、今は変えられません");
    const QString name = storedUserName(user);
    if (!isNamed(name))
        return QStringLiteral("マイリストは名前を入れると使えます");
    if (!number.isSongNumber())
        return QStringLiteral("曲番号ではありません");

    Line* line = d->lineOf(name);
    const bool starred = line && line->numbers.contains(number.value());
    if (starred == on)
        return {};
    if (on && line && line->numbers.size() >= MaxSongsPerName)
        return QStringLiteral("マイリストは %1 曲までです").arg(MaxSongsPerName);
    const bool added = !line;
    if (added) {
        d->byUser.insert(name, d->lines.size());
        d->lines.push_back({name, {}, {}});
        line = &d->lines.back();
    }
    const QList<qint64> before = line->numbers;
    if (on)
        line->numbers.append(number.value());
    else
        line->numbers.removeOne(number.value());

    const QByteArray content = d->content();
    QString failure;
    if (content.size() > MaxFileBytes)
        failure = QStringLiteral("マイリストの記録がいっぱいです");
    else if (const QString error = saveFile(d->path, content); !error.isEmpty()) {
        qCWarning(lcHistory).noquote() << "favourites not saved:" << error;
        failure = QStringLiteral("マイリストを保存できませんでした");
    }
    if (!failure.isEmpty()) {
        line->numbers = before;
        if (added) {
            d->byUser.remove(name);
            d->lines.pop_back();
        }
    }
    return failure;
}

} // namespace tarv
