#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <string>

namespace tarv {

// The device cookies the server issues. A device is a random id of 32 hex digits (what the queue
// record keeps of the phone that reserved a song); its cookie value is the id followed by the id's
// HMAC-SHA256 under the server's secret, in hex. A value the server did not sign is no device.
//
// The secret is made when the first device is issued (a library folder no phone has visited stays as it
// was) and kept in db/websecret.txt (mode 0600), so phones stay themselves across restarts. A file
// there that cannot be read or holds no secret is never overwritten: this run then signs under a
// secret of its own, and its cookies last until it ends. Thread-safe.
class DeviceCookies
{
public:
    static constexpr qsizetype IdDigits = 32;               // 128 bits
    static constexpr qsizetype ValueDigits = IdDigits + 64; // and 256 of the MAC

    explicit DeviceCookies(const AppPaths& paths);

    // A new device: its cookie value.
    QString issue() const;
    // The cookie value of a device id.
    QString valueFor(const QString& id) const;
    // The device id a value was issued for; none for any other value. The MAC is compared in
    // constant time.
    std::optional<QString> verify(QStringView value) const;
    // A device id of the cookies of before they were signed (32 hex digits, lower case); none for
    // anything else.
    static std::optional<QString> unsignedId(QStringView value);

    // Whether this run signs under a secret it could not keep (the file's problem is logged).
    bool secretIsTemporary() const;

private:
    // The secret; with make, made (and kept) when there is none yet; empty for none.
    QByteArray secret(bool make) const;
    static QByteArray mac(const QByteArray& secret, const QString& id);

    QString m_path;
    mutable std::mutex m_mutex;
    mutable QByteArray m_secret;
    mutable bool m_temporary = false;
};

inline constexpr char DeviceCookieName[] = "tarv_device";

// The values of the device cookie in a Cookie header (a few at most, each cut to a little over the
// length of a signed one), in the order sent: another program on this host may have set one too.
QStringList sentDeviceCookies(const std::string& header);

// The Set-Cookie value that gives a phone its device cookie for a year, out of reach of scripts and of
// other sites.
std::string deviceCookieHeader(const QString& value);

} // namespace tarv
