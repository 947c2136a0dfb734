#include "exchange/exchange.h"

#include "common/cp932.h"
#include "common/fields.h"
#include "common/songnumber.h"
#include "common/textfile.h"
#include "common/webroot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

namespace tarv {

QString exchangeFile(const QString& webRoot, QStringView name)
{
    return QDir(webRoot).filePath(QStringLiteral("cgi-bin/tarv/") + name.toString());
}

std::optional<QString> existingExchangeFile(const std::optional<QString>& webRoot, QStringView name)
{
    if (!webRoot)
        return std::nullopt;
    const QString file = exchangeFile(*webRoot, name);
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        return std::nullopt;
    return file;
}

std::optional<QString> existingExchangeFile(const AppPaths& paths, QStringView name)
{
    return existingExchangeFile(readWebRoot(paths), name);
}

std::optional<QByteArray> readExchangeFile(const QString& path, qint64 maxBytes, QString* error)
{
    return readRegularFile(path, maxBytes, Links::Refuse, error);
}

QString writeExchangeFile(const QString& path, const QByteArray& content, Durability durability)
{
    return saveFile(path, content, durability, SaveTarget::NameOnly);
}

QByteArray exchangeRecord(std::initializer_list<QByteArrayView> fields)
{
    QByteArray out;
    for (QByteArrayView field : fields) {
        out += field;
        out += '$';
    }
    out += "ENT\r\n";
    return out;
}

QList<SongRecord> parseSongFile(QStringView text)
{
    QList<SongRecord> records;
    for (QStringView line : text.split(u"\r\n", Qt::SkipEmptyParts)) {
        if (!line.endsWith(u"$ENT"))
            continue;
        line.chop(4);
        const qsizetype dollar = line.indexOf(u'$');
        const QStringView digits = line.left(dollar);
        const bool plain = !digits.isEmpty() && digits.size() <= 15 &&
                           std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (dollar < 0 || !plain)
            continue;
        records.append({SongNumber(digits.toLongLong()), line.mid(dollar + 1).toString()});
    }
    return records;
}

QString storedUserName(QStringView name)
{
    QString out;
    out.reserve(qMin(name.size(), MaxUserNameLength));
    for (QChar c : name) {
        if (out.size() >= MaxUserNameLength)
            break;
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            out += u' ';
        else
            out += c;
    }
    // Never half of a character outside the basic plane.
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

std::optional<WebRequest> parseRequest(QByteArrayView content)
{
    const QStringList fields = readFields(decodeCp932(content));
    WebRequest request{fields.value(0), fields.value(1)};
    if (request.code.isEmpty() && request.user.isEmpty())
        return std::nullopt;
    return request;
}

RequestTake takeRequest(const QString& requestFile)
{
    QString error;
    const auto content = readExchangeFile(requestFile, MaxRequestBytes, &error);
    if (!content || content->isEmpty())
        return {std::nullopt, error};
    error = writeExchangeFile(requestFile, QByteArray());
    if (!error.isEmpty())
        return {std::nullopt, QStringLiteral("%1 を空にできません: %2").arg(requestFile, error)};
    if (content->size() > MaxRequestBytes)
        return {std::nullopt, QStringLiteral("%1 は %2 KiB を超えていて要求ではないので、読まずに空にしました")
                                  .arg(requestFile)
                                  .arg(MaxRequestBytes / 1024)};
    auto request = parseRequest(*content);
    if (!request)
        return {std::nullopt, QStringLiteral("%1 に要求がありませんでした").arg(requestFile)};
    return {std::move(request), {}};
}

std::optional<GuestRequest> GuestRequest::song(qint64 number, const QString& user)
{
    if (number < FirstSongNumber || number > LastSongNumber)
        return std::nullopt;
    return GuestRequest(QString::number(number), user);
}

GuestRequest GuestRequest::login(const QString& user)
{
    return GuestRequest(QStringLiteral("login"), user);
}

QByteArray GuestRequest::fileContent() const
{
    // Quoted, so a comma in the name stays in it; a quote would end the field, so it goes full-width.
    const QString name = storedUserName(m_user).replace(u'"', u'＂');
    return encodeCp932(m_code) + ",\"" + encodeCp932(name) + "\"\r\n";
}

GuestWrite writeGuestRequest(const QString& requestFile, const GuestRequest& request, QString* error)
{
    struct stat st;
    if (::lstat(QFile::encodeName(requestFile).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        return GuestWrite::Busy;
    const QString failure = writeExchangeFile(requestFile, request.fileContent());
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return GuestWrite::Failed;
    }
    return GuestWrite::Written;
}

QString writeAddressFile(const QString& addressFile, const QString& address)
{
    return writeExchangeFile(addressFile, address.toLatin1());
}

} // namespace tarv
