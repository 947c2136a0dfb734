#pragma once

#include "common/keytempo.h"

#include <QString>

namespace tarv {

// One media player: the song player, the time-signal player or the library preview.
// All calls are synchronous on the GUI thread and never wait for playback.
//
// What callers rely on:
// 1. setMediaPath then play starts that file from its beginning; stop, setMediaPath, play
//    replaces whatever was playing.
// 2. setMediaPath, play, stop leaves the first frame loaded and stopped on screen (the idle screen).
// 3. playState() is Playing from the moment play has started until the media ends, is stopped
//    or is paused; it leaves Playing by itself when the media ends.
// 4. pause keeps the position and play resumes from it; setPosition(0) restarts, a larger
//    position skips forward.
// 5. mediaPath() reads back the text last written; the empty text means no media.
// 6. volume() reads back the value last written (0 to 100, fractions kept).
// 7. Setting the media path of the preview player loads the selected video into it.
// 8. Key, tempo and guide vocal change the media as it plays, without reloading it; setMediaPath
//    puts all three back to the original (key 0, tempo 0, guide vocal off).
// What a player is doing. Playing keeps the value 4 that callers have always compared with.
enum class PlayState { NoMedia = 0, Stopped = 1, Paused = 2, Playing = 4, Ended = 8, Failed = 10 };

class Player
{
public:
    virtual ~Player() = default;

    virtual QString mediaPath() const = 0;
    virtual void setMediaPath(const QString& path) = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;

    virtual PlayState playState() const = 0;
    bool isPlaying() const { return playState() == PlayState::Playing; }

    // Seconds from the start.
    virtual double position() const = 0;
    virtual void setPosition(double seconds) = 0;

    // Shown to the user after " / ".
    virtual QString durationText() const = 0;
    // Seconds the media lasts at its own speed; negative while unknown.
    virtual double durationSeconds() const = 0;

    // 0 to 100.
    virtual double volume() const = 0;
    virtual void setVolume(double volume) = 0;

    // Semitones, clamped to -KeyTempo::MaxKey..+MaxKey; the tempo stays.
    virtual int key() const = 0;
    virtual void setKey(int semitones) = 0;
    // Percent of the original speed, clamped to -KeyTempo::MaxTempo..+MaxTempo; the key stays.
    virtual int tempo() const = 0;
    virtual void setTempo(int percent) = 0;

    // Whether the media has a second sound track with the guide vocal (known once it is loaded),
    // and whether that track plays instead of the first.
    virtual bool hasGuideVocal() const = 0;
    virtual bool guideVocal() const = 0;
    virtual void setGuideVocal(bool on) = 0;
};

} // namespace tarv
