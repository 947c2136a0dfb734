#pragma once

#include "common/clock.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

namespace tarv {

class Player;

// Break music: the audio files of a folder (mp3, m4a, ogg, flac, wav), played one after another
// in shuffled order on a player of their own while the idle screen shows. It fades in over 2 s
// when the idle screen appears and out over 1 s when it goes; cut() silences it at once, for a
// song or time signal that starts. An absent or empty folder gives no music at all.
class BreakMusic : public QObject
{
    Q_OBJECT

public:
    // The share of the room's volume (the song player's) that break music plays at.
    static constexpr double RoomVolumeShare = 0.6;
    static constexpr int FadeInMs = 2000;
    static constexpr int FadeOutMs = 1000;
    static constexpr int StepMs = 50;

    BreakMusic(Player& player, const QString& folder, const Clock& clock = systemClock(), QObject* parent = nullptr);

    bool hasMusic() const { return !m_files.isEmpty(); }
    // Called on every look at the room: whether the idle screen shows, and the room's volume now.
    void setIdle(bool idle, double roomVolume);
    // A song or time signal starts: the music stops now and waits for the next idle screen.
    void cut();

private:
    void step();
    void playNext();

    Player& m_player;
    QStringList m_files; // in the order they play
    qsizetype m_next = 0;
    bool m_idle = false;
    double m_level = 0; // the volume it fades in to
    double m_volume = 0;
    double m_fadeFrom = 0; // the volume when the fade began
    const Clock& m_clock;
    qint64 m_fadeStart = 0; // the clock's elapsedMs(): the steps may come late, the fade keeps its length
    int m_failuresInARow = 0;
    QTimer m_stepTimer;
};

} // namespace tarv
