#pragma once

#include "common/apppaths.h"
#include "common/clock.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <deque>
#include <mutex>

namespace tarv {

// The host's PIN and the host cookies it opens. The PIN is 6 digits, made at random when first needed and
// kept in db/hostpin.txt (written when it is first needed), readable by its owner alone. A right PIN gets a signed host
// cookie that is good until karaoke mode ends or the PIN changes: it is signed under a secret of this run, with the PIN
// and the karaoke session it was given in.
//
// The phones the host stopped are kept here too, for the same karaoke session.
//
// Guessing is slow: after 5 wrong tries from one phone or one address within 5 minutes, every try
// from it is refused for 5 minutes, the right PIN too (about 1,400 tries a day against 1,000,000 PINs).
// Thread-safe.
class HostAccess
{
public:
    static constexpr int TriesPerWindow = 5;
    static constexpr qint64 WindowMs = 5 * 60 * 1000;

    explicit HostAccess(AppPaths paths, const Clock& clock = systemClock());

    // The PIN as the connection window shows it.
    QString pin();
    // Why the PIN could not be kept in its file (it then lasts this run); empty when it is kept.
    QString problem();
    // Makes a new PIN: every host cookie given so far stops opening anything.
    void renewPin();
    // Karaoke mode ended: every host cookie given so far stops opening anything.
    void endSession();

    struct Login
    {
        enum Result { Granted, Wrong, Locked } result = Wrong;
        QString cookie;     // the host cookie's value, when granted
        int retryAfter = 0; // seconds, when locked
    };
    // A try of the PIN from a phone (its device) and an address.
    Login login(const QString& pin, const QString& device, const QString& address);
    // The cookie is one this run gave for the current PIN in the current karaoke session.
    bool isHost(const QString& cookie) const;

    // The host stopped a phone (by its device): it reserves nothing more until karaoke mode ends.
    void block(const QString& device);
    bool isBlocked(const QString& device) const;

private:
    void ensurePinLocked();
    QByteArray signatureLocked(const QByteArray& nonce) const;
    // Seconds the key is locked for, 0 when it may try.
    int lockedLocked(const QString& key, qint64 now);

    const AppPaths m_paths;
    const Clock& m_clock;
    mutable std::mutex m_mutex;
    QString m_pin;
    QString m_problem;
    QByteArray m_secret;
    quint64 m_session = 0;
    QSet<QString> m_blocked;
    QHash<QString, std::deque<qint64>> m_failures; // per phone and per address: the wrong tries of the window
};

// The name of the host cookie.
inline constexpr char HostCookie[] = "tarv_host";

} // namespace tarv
