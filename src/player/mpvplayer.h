#pragma once

#include "player/player.h"

#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>

struct mpv_handle;
struct mpv_event;
struct mpv_event_end_file;

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

// An mpv core, destroyed (and its callbacks stopped) with its owner.
struct MpvHandleDeleter
{
    void operator()(mpv_handle* mpv) const noexcept;
};
using MpvHandle = std::unique_ptr<mpv_handle, MpvHandleDeleter>;

// A Player on libmpv. One instance owns one mpv core; events are drained on the Qt event loop of
// the thread that created it (the GUI thread), and every read is answered from state kept here,
// so reads never wait for mpv.
//
// Exact behaviour, beyond the contract of Player:
// - setMediaPath(path) loads the file paused on its first frame (state Stopped). A missing or
//   empty path or a folder gives state Failed at once; a file that mpv then cannot open or play
//   (corrupt, not a video, a playlist, an EDL, CUE or HLS file naming other media) gives Failed a
//   few milliseconds later. Only the named local file is ever opened. Either way a line goes
//   to standard error and loadFailed() is emitted; it never plays. The empty path unloads (state
//   NoMedia, black picture).
// - play() starts or resumes. After the end of the media it starts again from the beginning.
//   playState() is Playing as soon as play() returns, also while the file is still opening.
// - pause() keeps the position; stop() pauses and goes back to the first frame, which stays on
//   screen (it does not unload).
// - At the end of the media the last frame stays on screen, the state becomes Ended and
//   fileEnded() is emitted.
// - setPosition() seeks exactly (not to a keyframe) and keeps playing or paused as before;
//   position() reads the new value at once. Positions below 0 count as 0; NaN and infinity are
//   ignored. After the end, a new position leaves the media paused there (play() goes on from it).
// - durationText() is "hh:mm:ss" (rounded to whole seconds; "00:00:00" while unknown).
// - setVolume() keeps fractions; values are clamped to 0..100, NaN is ignored.
// - Signals are queued onto the event loop, never emitted from inside a call.
// - Key: mpv's rubberband filter, in the chain only while the key is not 0 and then retuned live.
//   Tempo: the speed, which mpv stretches without changing the pitch. Guide vocal: the audio track;
//   the guide track is the first whose title says vocal (or ボーカル), else the second audio track.
//
// Video: with Video::Render the picture is drawn by a PlayerView attached to the player, through
// mpv's render API. Such a player opens its media only once a view has attached its renderer;
// until then the calls above already answer as if the file were open.
class MpvPlayer : public QObject, public Player
{
    Q_OBJECT

public:
    // None: decoded but not shown (headless). Render: drawn by a PlayerView. Off: sound only, the
    // video track is not played at all (break music).
    enum class Video { None, Render, Off };
    // File: raw PCM (16-bit, 44.1 kHz stereo) written to soundFile at the pace of playback, for tests
    // that time the sound against the clock. WavFile: a 16-bit WAV written to soundFile as fast as it
    // decodes, for tests and benchmarks that measure the sound itself.
    enum class Sound { None, System, File, WavFile };

    // Headless: no video output and no audio device (tests, tools, benchmarks).
    explicit MpvPlayer(QObject* parent = nullptr) : MpvPlayer(Video::None, Sound::None, parent) {}
    MpvPlayer(Video video, Sound sound, QObject* parent = nullptr) : MpvPlayer(video, sound, {}, parent) {}
    MpvPlayer(Video video, Sound sound, const QString& soundFile, QObject* parent = nullptr);
    ~MpvPlayer() override;

    MpvPlayer(const MpvPlayer&) = delete;
    MpvPlayer& operator=(const MpvPlayer&) = delete;

    // False when mpv could not be started; the player then never plays (and said why on stderr).
    bool isValid() const { return m_mpv != nullptr; }
    Video video() const { return m_video; }

    QString mediaPath() const override { return m_path; }
    void setMediaPath(const QString& path) override;

    void play() override;
    void pause() override;
    void stop() override;

    PlayState playState() const override;

    double position() const override;
    void setPosition(double seconds) override;

    QString durationText() const override;
    // Seconds, or a negative value while unknown.
    double duration() const { return m_duration; }
    double durationSeconds() const override { return m_duration; }

    double volume() const override { return m_volume; }
    void setVolume(double volume) override;

    int key() const override { return m_key; }
    void setKey(int semitones) override;
    int tempo() const override { return m_tempo; }
    void setTempo(int percent) override;
    bool hasGuideVocal() const override { return m_guideTrack > 0; }
    bool guideVocal() const override { return m_guideVocal; }
    void setGuideVocal(bool on) override;

    // True between setMediaPath() of a playable file and the moment mpv has opened it.
    bool isOpening() const { return m_media == Media::Opening; }
    // True while a seek asked for by setPosition()/stop()/play() has not been carried out yet.
    bool isSeeking() const { return m_seek != Seek::None || m_seekOnOpen.has_value(); }

    // "hh:mm:ss" of whole seconds (rounded); negative or NaN gives "00:00:00".
    static QString formatDuration(double seconds);

    // For PlayerView only: the mpv core, and the news that its renderer exists (true) or was freed
    // (false).
    mpv_handle* mpvHandle() const { return m_mpv.get(); }
    void setRendererAttached(bool attached);

signals:
    // The current media was opened; its first frame is ready.
    void fileLoaded();
    // The current media played to its end.
    void fileEnded();
    // The current media cannot be played.
    void loadFailed(const QString& path, const QString& reason);
    void playStateChanged(tarv::PlayState state);
    // The media was replaced or unloaded (the view repaints).
    void mediaChanged();
    // Emitted at once by the destructor, before the mpv core goes: a view frees its renderer.
    void closing();

private:
    enum class Media { None, Opening, Open, Failed };
    // Observed properties, told apart by their reply ids.
    enum ObservedProperty : uint64_t { TimePos = 1, DurationProperty, EofReached };
    enum class Seek { None, Requested, Running };

    void drainEvents();
    void handleEvent(const mpv_event& event);
    void onFileLoaded();
    void onFileEnded(const mpv_event_end_file& end);
    void onPlaybackRestart();
    void onPropertyChange(const mpv_event& event);
    void scheduleNotify();
    void notify();
    void openCurrent(double start);
    void loadReplied(const mpv_event& event);
    void unload();
    void fail(const QString& reason);
    void seekTo(double seconds);
    void reachEnd();
    void setPaused(bool paused);
    // Sends a command without waiting for it; false (logged) when mpv refused it.
    bool command(std::initializer_list<const char*> words);
    void applyKey(bool rebuild);
    void findGuideTrack();
    void applyAudioTrack();
    void logError(const QString& text) const;
    static QString errorText(int error);
    QString name() const;

    MpvHandle m_mpv;
    Video m_video = Video::None;
    bool m_rendererAttached = false;

    QString m_path;
    Media m_media = Media::None;
    bool m_openDeferred = false; // waiting for the renderer before opening
    int64_t m_entryId = 0;       // mpv playlist entry of the current media (0 until the load is answered)
    uint64_t m_loadReply = 0;    // reply id of the latest load command
    int64_t m_startedId = 0;     // entry of the last start-file event

    bool m_wantPlay = false; // play() called and not paused, stopped or ended since
    bool m_stopped = true;
    bool m_atEnd = false;
    double m_position = 0;
    Seek m_seek = Seek::None;
    std::optional<double> m_seekOnOpen;
    double m_duration = -1;
    double m_volume = 100;

    int m_key = 0;
    int m_filterKey = 0; // the key the rubberband filter was added with; 0 while it is not in the chain
    int m_tempo = 0;
    bool m_guideVocal = false;
    int64_t m_guideTrack = 0; // mpv's audio track ids; 0 for none
    int64_t m_plainTrack = 0;

    // Signals waiting for the event loop.
    bool m_pendingLoaded = false;
    bool m_pendingEnded = false;
    bool m_pendingMedia = false;
    std::optional<QString> m_pendingFailure;
    PlayState m_lastNotifiedState = PlayState::NoMedia;

    std::atomic<bool> m_drainQueued{false};
    std::atomic<bool> m_notifyQueued{false};
};

} // namespace tarv
