#include "web/hostaccess.h"

#include "common/savefile.h"
#include "common/textfile.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <algorithm>

namespace tarv {

Q_LOGGING_CATEGORY(lcHost, "tarv.web.host")

namespace {

constexpr qint64 MaxPinFileBytes = 64;
constexpr qsizetype NonceBytes = 16;

QByteArray randomBytes(qsizetype count)
{
    QByteArray out(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(out.begin(), out.end());
    return out;
}

QString randomPin()
{
    return QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
}

bool isPin(QStringView text)
{
    return text.size() == 6 && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Equal in time that does not tell how much of them is equal.
bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

HostAccess::HostAccess(AppPaths paths, const Clock& clock)
    : m_paths(std::move(paths)), m_clock(clock), m_secret(randomBytes(32))
{
}

void HostAccess::ensurePinLocked()
{
    // Made when first needed (the connection window, a login), so a start alone writes nothing.
    if (!m_pin.isEmpty())
        return;
    const QString file = m_paths.hostPin();
    QString error;
    if (const auto bytes = readFileBytes(file, MaxPinFileBytes, &error)) {
        const QString kept = QString::fromLatin1(bytes->trimmed());
        if (isPin(kept)) {
            m_pin = kept;
            return;
        }
        if (!bytes->isEmpty() || QFileInfo::exists(file))
            qCWarning(lcHost) << "db/hostpin.txt holds no PIN; a new one is made";
    } else if (QFileInfo::exists(file) || QFileInfo(file).isSymLink()) {
        // Something that is not our small file: it is left as it is, and this run has a PIN of its own.
        m_pin = randomPin();
        m_problem = QStringLiteral("ホストの PIN を保存できません（%1）。この起動の間だけ使えます。").arg(error);
        qCWarning(lcHost).noquote() << m_problem;
        return;
    }
    m_pin = randomPin();
    if (const QString failed = saveOwnerOnlyFile(file, m_pin.toLatin1() + '\n'); !failed.isEmpty()) {
        m_problem = QStringLiteral("ホストの PIN を保存できません（%1）。この起動の間だけ使えます。").arg(failed);
        qCWarning(lcHost).noquote() << m_problem;
    }
}

QString HostAccess::pin()
{
    std::lock_guard lock(m_mutex);
    ensurePinLocked();
    return m_pin;
}

QString HostAccess::problem()
{
    std::lock_guard lock(m_mutex);
    ensurePinLocked();
    return m_problem;
}

void HostAccess::renewPin()
{
    std::lock_guard lock(m_mutex);
    ensurePinLocked();
    QString pin = randomPin();
    while (pin == m_pin)
        pin = randomPin();
    m_pin = pin;
    if (m_problem.isEmpty() || QFileInfo(m_paths.hostPin()).isFile() || !QFileInfo::exists(m_paths.hostPin())) {
        const QString failed = saveOwnerOnlyFile(m_paths.hostPin(), m_pin.toLatin1() + '\n');
        m_problem = failed.isEmpty()
                        ? QString()
                        : QStringLiteral("ホストの PIN を保存できません（%1）。この起動の間だけ使えます。").arg(failed);
    }
    qCInfo(lcHost) << "the host's PIN was renewed";
}

void HostAccess::endSession()
{
    std::lock_guard lock(m_mutex);
    ++m_session;
    m_blocked.clear();
}

void HostAccess::block(const QString& device)
{
    std::lock_guard lock(m_mutex);
    m_blocked.insert(device);
}

bool HostAccess::isBlocked(const QString& device) const
{
    std::lock_guard lock(m_mutex);
    return m_blocked.contains(device);
}

QByteArray HostAccess::signatureLocked(const QByteArray& nonce) const
{
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, m_secret);
    mac.addData(nonce);
    mac.addData(m_pin.toLatin1());
    mac.addData(QByteArray::number(m_session));
    return mac.result();
}

int HostAccess::lockedLocked(const QString& key, qint64 now)
{
    auto found = m_failures.find(key);
    if (found == m_failures.end())
        return 0;
    std::deque<qint64>& tries = *found;
    while (!tries.empty() && now - tries.front() >= WindowMs)
        tries.pop_front();
    if (tries.empty()) {
        m_failures.erase(found);
        return 0;
    }
    if (tries.size() < std::size_t(TriesPerWindow))
        return 0;
    return std::max(1, int((tries.front() + WindowMs - now + 999) / 1000));
}

HostAccess::Login HostAccess::login(const QString& pin, const QString& device, const QString& address)
{
    std::lock_guard lock(m_mutex);
    ensurePinLocked();
    const qint64 now = m_clock.elapsedMs();
    const QString deviceKey = QStringLiteral("device:") + device;
    const QString addressKey = QStringLiteral("address:") + address;
    if (const int seconds = std::max(lockedLocked(deviceKey, now), lockedLocked(addressKey, now)))
        return {Login::Locked, {}, seconds};
    if (!sameBytes(pin.toLatin1(), m_pin.toLatin1()) || !isPin(pin)) {
        // Keep the table small: forget what has left its window once it grows.
        if (m_failures.size() > 4096) {
            for (auto it = m_failures.begin(); it != m_failures.end();)
                it = (it->empty() || now - it->back() >= WindowMs) ? m_failures.erase(it) : std::next(it);
        }
        for (const QString& key : {deviceKey, addressKey}) {
            std::deque<qint64>& tries = m_failures[key];
            tries.push_back(now);
            while (tries.size() > std::size_t(TriesPerWindow))
                tries.pop_front();
        }
        qCInfo(lcHost).noquote() << "a wrong host PIN from" << address;
        return {Login::Wrong, {}, 0};
    }
    const QByteArray nonce = randomBytes(NonceBytes);
    const QString cookie = QString::fromLatin1(nonce.toHex() + '.' + signatureLocked(nonce).toHex());
    qCInfo(lcHost).noquote() << "the host logged in from" << address;
    return {Login::Granted, cookie, 0};
}

bool HostAccess::isHost(const QString& cookie) const
{
    const qsizetype dot = cookie.indexOf(u'.');
    if (dot != NonceBytes * 2 || cookie.size() != dot + 1 + 64)
        return false;
    const QByteArray nonce = QByteArray::fromHex(cookie.left(dot).toLatin1());
    const QByteArray signature = QByteArray::fromHex(cookie.mid(dot + 1).toLatin1());
    if (nonce.size() != NonceBytes || signature.size() != 32)
        return false;
    std::lock_guard lock(m_mutex);
    return !m_pin.isEmpty() && sameBytes(signature, signatureLocked(nonce));
}

} // namespace tarv
