#pragma once

#include "common/apppaths.h"
#include "common/savefile.h"
#include "common/songnumber.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <initializer_list>
#include <optional>

namespace tarv {

// The files Tarv and the guests' web pages exchange, in the exchange folder: the web root (db/path.txt)
// + cgi-bin/tarv/. Everything here is CP932; lines end in CR LF.
namespace ExchangeFile {
inline constexpr QStringView Queue = u"tarvlist.txt";  // the song now playing and the queue (written here)
inline constexpr QStringView Songs = u"songdb.txt";    // the song list for the web pages (written here)
inline constexpr QStringView Request = u"tarvadd.txt"; // one request from the web side (read and emptied here)
inline constexpr QStringView Address = u"ipset.txt";   // this PC's address for the web side (written here)
} // namespace ExchangeFile

// A file of the exchange folder of a web root.
QString exchangeFile(const QString& webRoot, QStringView name);

// The exchange file when there is a web root whose exchange folder exists; nullopt otherwise.
std::optional<QString> existingExchangeFile(const std::optional<QString>& webRoot, QStringView name);
std::optional<QString> existingExchangeFile(const AppPaths& paths, QStringView name);

// Other programs write the exchange folder, so every read and write of its files goes through these
// two: neither follows a symbolic link, and neither touches anything but a regular file.

// Reads an exchange file without following a link and without waiting on a pipe or a device. nullopt
// for a missing file (*error left empty) and for one that is refused or cannot be read (the reason in
// *error). Reads at most maxBytes + 1 bytes: a longer file is seen to be too long, never read whole.
std::optional<QByteArray> readExchangeFile(const QString& path, qint64 maxBytes, QString* error);

// Replaces an exchange file atomically: the name itself, never what a link points to. A link, a
// folder, a device or a pipe of that name is refused and left as it is. Returns the reason of a
// failure, or an empty text.
QString writeExchangeFile(const QString& path, const QByteArray& content, Durability durability = Durability::Synced);

// The longest request file read: a request is a code and a name, so a longer file is not one.
inline constexpr qint64 MaxRequestBytes = 64 * 1024;

// The longest queue or song file read: far more than the song file of the largest song list.
inline constexpr qint64 MaxRecordFileBytes = 128 * 1024 * 1024;

// One record of the queue and song files: the fields joined by "$", then "$ENT" and CR LF. Fields are
// not escaped: a "$" in a title or a name is written as it is. A user name goes through
// storedUserName() first.
QByteArray exchangeRecord(std::initializer_list<QByteArrayView> fields);

// A record of the song file read back: the first field is the number, the rest the title (a title
// may hold "$").
struct SongRecord
{
    SongNumber number;
    QString title;
};

// The records of a decoded song file: each CR LF line that ends in "$ENT" and starts with a number in
// plain digits and a "$"; any other line is skipped.
QList<SongRecord> parseSongFile(QStringView text);

// The longest user name kept; a longer name is cut.
inline constexpr qsizetype MaxUserNameLength = 32;

// A user name as it may be stored and published: line ends, tabs and other control characters become
// a space, so the name can never add a line to a file or a field to a TAB-separated record; cut to
// MaxUserNameLength characters. A "$" stays as it is.
QString storedUserName(QStringView name);

// A request from the web side: field 1 (a reservation code or "login") and field 2 (the user name,
// as written).
struct WebRequest
{
    QString code;
    QString user;
    bool operator==(const WebRequest&) const = default;
};

// The request in the content of the request file: its first two comma-separated fields; the rest is
// ignored. A file holding only the first field is a request without a name. nullopt when both fields
// are empty (a file of blanks and line ends).
std::optional<WebRequest> parseRequest(QByteArrayView content);

struct RequestTake
{
    std::optional<WebRequest> request;
    QString error; // why a waiting request was not taken, or was dropped
};

// Takes the waiting request out of the request file: reads it and empties the file (0 bytes). A
// missing or empty file holds none. The request is only handed out once the file is empty again,
// so a file that cannot be emptied never yields the same request twice. A file longer than
// MaxRequestBytes is emptied unread and reported; a link, a device or a pipe is reported and left
// alone.
RequestTake takeRequest(const QString& requestFile);

// A request our own guest pages may make: a song number or "login", nothing else, so a guest can
// never stop, skip or cancel songs or set the volume.
class GuestRequest
{
public:
    // nullopt when the number is not a song number (100000 to 999998).
    static std::optional<GuestRequest> song(qint64 number, const QString& user);
    static GuestRequest login(const QString& user);

    // The request file's content: the code, a comma and the quoted user name, CR LF.
    QByteArray fileContent() const;

private:
    GuestRequest(QString code, QString user) : m_code(std::move(code)), m_user(std::move(user)) {}
    QString m_code;
    QString m_user;
};

enum class GuestWrite {
    Written,
    Busy,   // the request file still holds the last request: try again after the next poll
    Failed, // the file could not be read or written
};

// Writes the request into the request file when that file is missing or empty, never over a waiting
// request.
GuestWrite writeGuestRequest(const QString& requestFile, const GuestRequest& request, QString* error = nullptr);

// Replaces the address file: exactly the address, no line end. Returns the reason of a failure, or
// an empty text.
QString writeAddressFile(const QString& addressFile, const QString& address);

} // namespace tarv
