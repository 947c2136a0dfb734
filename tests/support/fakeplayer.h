#pragma once

#include "player/player.h"

#include <QStringList>

namespace tarv::test {

// A scripted player for logic tests: nothing plays until the test advances time.
// Each media path has a duration (default 180 s); a path listed in brokenPaths never plays, one in
// guideTrackPaths has a guide vocal.
class FakePlayer : public Player
{
public:
    QString mediaPath() const override { return m_path; }
    void setMediaPath(const QString& path) override
    {
        m_path = path;
        m_position = 0;
        m_playing = false;
        m_ended = false;
        m_key = 0;
        m_tempo = 0;
        m_guideVocal = false;
        calls << QStringLiteral("path:") + path;
    }

    void play() override
    {
        calls << QStringLiteral("play");
        if (m_path.isEmpty() || brokenPaths.contains(m_path))
            return;
        if (m_ended)
            m_position = 0;
        m_ended = false;
        m_playing = true;
    }
    void pause() override
    {
        calls << QStringLiteral("pause");
        m_playing = false;
    }
    void stop() override
    {
        calls << QStringLiteral("stop");
        m_playing = false;
        m_position = 0;
    }

    PlayState playState() const override
    {
        if (!m_path.isEmpty() && brokenPaths.contains(m_path))
            return PlayState::Failed;
        return m_playing ? PlayState::Playing : PlayState::Stopped;
    }

    double position() const override { return m_position; }
    void setPosition(double seconds) override
    {
        calls << QStringLiteral("position:") + QString::number(seconds);
        m_position = seconds;
        m_ended = false; // like the real player: a later play() goes on from here
    }

    QString durationText() const override { return durationTextValue; }
    double durationSeconds() const override { return m_path.isEmpty() ? -1 : duration; }

    double volume() const override { return m_volume; }
    void setVolume(double volume) override { m_volume = volume; }

    int key() const override { return m_key; }
    void setKey(int semitones) override { m_key = KeyTempo::clampKey(semitones); }
    int tempo() const override { return m_tempo; }
    void setTempo(int percent) override { m_tempo = KeyTempo::clampTempo(percent); }
    bool hasGuideVocal() const override { return guideTrackPaths.contains(m_path); }
    bool guideVocal() const override { return m_guideVocal; }
    void setGuideVocal(bool on) override { m_guideVocal = on && hasGuideVocal(); }

    // Moves playback on; a file that reaches its duration ends and stops playing by itself.
    void advance(double seconds)
    {
        if (!m_playing)
            return;
        m_position += seconds;
        if (m_position >= duration) {
            m_position = duration;
            m_playing = false;
            m_ended = true;
        }
    }
    void finish() { advance(duration); }

    double duration = 180.0;
    QString durationTextValue = QStringLiteral("00:03:00");
    QStringList brokenPaths;
    QStringList guideTrackPaths; // media with a guide vocal track
    QStringList calls;

private:
    QString m_path;
    double m_position = 0;
    double m_volume = 100;
    int m_key = 0;
    int m_tempo = 0;
    bool m_guideVocal = false;
    bool m_playing = false;
    bool m_ended = false;
};

} // namespace tarv::test
