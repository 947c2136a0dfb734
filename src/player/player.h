#pragma once

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

    // 0 to 100.
    virtual double volume() const = 0;
    virtual void setVolume(double volume) = 0;
};

} // namespace tarv
