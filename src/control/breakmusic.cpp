#include "control/breakmusic.h"

#include "player/player.h"

#include <QDir>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <algorithm>

namespace tarv {

Q_LOGGING_CATEGORY(lcMusic, "tarv.music")

BreakMusic::BreakMusic(Player& player, const QString& folder, const Clock& clock, QObject* parent)
    : QObject(parent), m_player(player), m_clock(clock)
{
    const QStringList patterns{QStringLiteral("*.mp3"), QStringLiteral("*.m4a"), QStringLiteral("*.ogg"),
                               QStringLiteral("*.flac"), QStringLiteral("*.wav")};
    const QDir dir(folder);
    for (const QString& name : dir.entryList(patterns, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase))
        m_files.append(dir.filePath(name));
    std::shuffle(m_files.begin(), m_files.end(), *QRandomGenerator::global());
    if (!m_files.isEmpty())
        qCInfo(lcMusic) << m_files.size() << "break music files in" << folder;

    m_stepTimer.setObjectName(QStringLiteral("tmr_bgm"));
    m_stepTimer.setInterval(StepMs);
    connect(&m_stepTimer, &QTimer::timeout, this, &BreakMusic::step);
}

void BreakMusic::setIdle(bool idle, double roomVolume)
{
    if (!hasMusic())
        return;
    m_level = std::clamp(roomVolume, 0.0, 100.0) * RoomVolumeShare;
    if (idle == m_idle)
        return;
    m_idle = idle;
    if (idle && m_player.mediaPath().isEmpty())
        playNext();
    else if (idle)
        m_player.play(); // where the last break left off
    m_fadeFrom = m_volume;
    m_fadeStart = m_clock.elapsedMs();
    m_stepTimer.start();
}

void BreakMusic::cut()
{
    m_idle = false;
    m_stepTimer.stop();
    if (m_volume > 0 || m_player.isPlaying()) {
        m_player.pause();
        m_volume = 0;
        m_player.setVolume(0);
        // The sound output still holds a moment of music at the old level; seeking to where it
        // stands drops it, so the next break starts from silence.
        m_player.setPosition(m_player.position());
    }
}

void BreakMusic::step()
{
    const double elapsed = double(m_clock.elapsedMs() - m_fadeStart);
    // A file that ends, also while fading out, is followed by the next.
    const PlayState state = m_player.playState();
    if (state == PlayState::Ended || state == PlayState::Failed)
        playNext();
    if (m_files.isEmpty())
        return;
    if (m_idle) {
        m_volume = std::min(m_level, m_fadeFrom + m_level * elapsed / FadeInMs);
    } else {
        m_volume = std::max(0.0, m_fadeFrom - m_level * elapsed / FadeOutMs);
        if (m_volume == 0) {
            m_player.pause();
            m_stepTimer.stop();
        }
    }
    m_player.setVolume(m_volume);
}

void BreakMusic::playNext()
{
    if (m_player.playState() == PlayState::Failed && ++m_failuresInARow >= m_files.size()) {
        qCWarning(lcMusic) << "no break music file can be played";
        m_files.clear();
        m_idle = false;
        m_stepTimer.stop();
        return;
    }
    if (m_player.playState() != PlayState::Failed)
        m_failuresInARow = 0;
    m_player.setVolume(m_volume);
    m_player.setMediaPath(m_files.at(m_next));
    m_player.play();
    m_next = (m_next + 1) % m_files.size();
}

} // namespace tarv
