#pragma once

#include "common/keytempo.h"
#include "common/songnumber.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tarv {

// One reservation: the song number, the title from the song list (its bytes kept as read, so they
// reach the published file unchanged) and the user who reserved it. The id, given by the stage in
// the order reservations are made, tells two reservations of the same song apart. The song starts
// at its key and tempo.
struct Reservation
{
    SongNumber number;
    QString title;
    QByteArray rawTitle;
    QString user;
    quint64 id = 0;
    QString device = {}; // the phone that reserved it; empty for the keypad and the request file
    KeyTempo keyTempo = {};
    bool held = false;   // its singer is away ("あとで歌う"): passed over until released
    bool pinned = false; // moved to the front on the keypad: ahead of the turns, and nobody's turn
};

// The song now playing: "number | title" plus the user who reserved it; before the first song, the
// start, numbered 000000.
struct NowPlaying
{
    SongNumber number = {};
    QString title = QStringLiteral("起動");
    QByteArray rawTitle;
    QString user;

    QString numberText() const { return number.isValid() ? number.text() : QStringLiteral("000000"); }
    QString text() const { return numberText() + QStringLiteral(" | ") + title; }
};

// The queue file the web pages read (tarvlist.txt), in CP932 with CR LF: first the song now
// playing, then every reservation in playing order, each as number$title$user$ENT.
// The now-playing line is cut at fixed places of its "number | title" text (first six
// characters, then from the tenth on), so a short number never splits into number and title.
QByteArray fullQueueFile(const NowPlaying& now, const QList<Reservation>& queue);

// Replaces the queue file in the exchange folder of the web root (an empty content is the empty
// form: zero bytes). Karaoke goes on without the web side: when there is no web root or its
// exchange folder does not exist, nothing is written and no error is given.
// Returns the reason when a write failed, otherwise an empty text.
QString writeQueueFile(const std::optional<QString>& webRoot, const QByteArray& content);

} // namespace tarv
