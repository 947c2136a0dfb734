#include "web/devices.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <algorithm>

namespace tarv {

Q_LOGGING_CATEGORY(lcDevices, "tarv.web.devices")

namespace {

constexpr qsizetype SecretBytes = 32;
constexpr qsizetype MaxSentCookies = 4;

bool isLowerHex(QStringView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// The secret of db/websecret.txt: 64 hex digits on its first line. None when no file is there, and
// when one is there that cannot be used (*unusable, and the reason logged): that file is the
// operator's and is left as it is.
std::optional<QByteArray> readSecret(const QString& path, bool* unusable)
{
    QString error;
    if (const std::optional<QByteArray> bytes = readFileBytes(path, 4096, &error)) {
        const QByteArray hex = bytes->split('\n').value(0).trimmed();
        const QByteArray secret = QByteArray::fromHex(hex);
        if (hex.size() == 2 * SecretBytes && secret.toHex() == hex.toLower())
            return secret;
        error = path + QStringLiteral(": no secret in it");
    }
    // Unreadable, not a file, a dangling link, or other text.
    *unusable = nameTaken(path);
    if (*unusable)
        qCWarning(lcDevices).noquote() << error << "- the phones' cookies last until the program ends";
    return std::nullopt;
}

// A new secret, kept in the file; none when it cannot be kept (the reason logged).
std::optional<QByteArray> makeSecret(const QString& path)
{
    bool unusable = false;
    if (const auto kept = readSecret(path, &unusable); kept || unusable)
        return kept; // made meanwhile by another run in the same folder
    const QByteArray secret = randomBytes(SecretBytes);
    SaveFile file(path);
    // Only this user may read it: the secret goes in once the temporary file is private.
    const bool saved = file.open() &&
                       QFile::setPermissions(file.temporaryPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                       file.device().write(secret.toHex() + '\n') == 2 * SecretBytes + 1 && file.commit();
    if (!saved) {
        qCWarning(lcDevices).noquote() << (file.error().isEmpty() ? path : file.error())
                                       << "- the phones' cookies last until the program ends";
        return std::nullopt;
    }
    return secret;
}

} // namespace

DeviceCookies::DeviceCookies(const AppPaths& paths) : m_path(paths.webSecret())
{
    bool unusable = false;
    if (const auto kept = readSecret(m_path, &unusable)) {
        m_secret = *kept;
    } else if (unusable) {
        m_secret = randomBytes(SecretBytes);
        m_temporary = true;
    }
}

QByteArray DeviceCookies::secret(bool make) const
{
    const std::lock_guard lock(m_mutex);
    if (m_secret.isEmpty() && make) {
        if (const auto kept = makeSecret(m_path)) {
            m_secret = *kept;
        } else {
            m_secret = randomBytes(SecretBytes);
            m_temporary = true;
        }
    }
    return m_secret;
}

bool DeviceCookies::secretIsTemporary() const
{
    const std::lock_guard lock(m_mutex);
    return m_temporary;
}

QByteArray DeviceCookies::mac(const QByteArray& secret, const QString& id)
{
    // Named, so that nothing else this secret may sign one day passes for a device.
    return QMessageAuthenticationCode::hash("tarv device " + id.toLatin1(), secret, QCryptographicHash::Sha256).toHex();
}

QString DeviceCookies::issue() const
{
    return valueFor(QString::fromLatin1(randomBytes(IdDigits / 2).toHex()));
}

QString DeviceCookies::valueFor(const QString& id) const
{
    return id + QString::fromLatin1(mac(secret(true), id));
}

std::optional<QString> DeviceCookies::verify(QStringView value) const
{
    if (value.size() != ValueDigits || !isLowerHex(value))
        return std::nullopt;
    const QByteArray key = secret(false);
    if (key.isEmpty()) // none made yet, so none issued
        return std::nullopt;
    const QString id = value.left(IdDigits).toString();
    const QByteArray expected = mac(key, id);
    const QStringView sent = value.mid(IdDigits);
    // Every digit is compared, whatever the first difference, so the time taken tells nothing.
    char16_t difference = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        difference |= char16_t(sent[i].unicode() ^ char16_t(expected[i]));
    if (difference != 0)
        return std::nullopt;
    return id;
}

std::optional<QString> DeviceCookies::unsignedId(QStringView value)
{
    if (value.size() != IdDigits || !isLowerHex(value))
        return std::nullopt;
    return value.toString();
}

QStringList sentDeviceCookies(const std::string& header)
{
    const QLatin1StringView name(DeviceCookieName);
    QStringList values;
    for (const QString& pair : QString::fromLatin1(header).split(u';')) {
        const QString trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals >= 0 && QStringView(trimmed).left(equals) == name && values.size() < MaxSentCookies)
            values.append(trimmed.mid(equals + 1, DeviceCookies::ValueDigits + 1));
    }
    return values;
}

std::string deviceCookieHeader(const QString& value)
{
    return std::string(DeviceCookieName) + '=' + value.toStdString() +
           "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict";
}

} // namespace tarv
