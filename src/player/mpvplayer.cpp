#include "player/mpvplayer.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QThread>

#include <mpv/client.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace tarv {

Q_LOGGING_CATEGORY(lcPlayer, "tarv.player")

namespace {

void setOption(mpv_handle* mpv, const char* name, const char* value)
{
    const int error = mpv_set_option_string(mpv, name, value);
    if (error < 0)
        qCWarning(lcPlayer) << "mpv option" << name << "=" << value << ":" << mpv_error_string(error);
}

// Every player's options beyond its outputs.
constexpr std::pair<const char*, const char*> LockedDownOptions[] = {
    // Keep the last frame at the end; the end is noticed through eof-reached and paused from here,
    // so the pause property only ever changes when this class sets it.
    {"keep-open", "yes"},
    {"keep-open-pause", "no"},
    {"hr-seek", "yes"},
    {"idle", "yes"},
    // A plain embedded player: no scripts, no on-screen display, no key or mouse handling, no
    // side files picked up next to the video.
    {"ytdl", "no"},
    {"load-scripts", "no"},
    {"osc", "no"},
    {"load-stats-overlay", "no"},
    {"load-osd-console", "no"},
    {"load-auto-profiles", "no"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"input-cursor", "no"},
    {"cursor-autohide", "no"},
    {"osd-level", "0"},
    {"sub-auto", "no"},
    {"audio-file-auto", "no"},
    {"cover-art-auto", "no"},
    {"audio-display", "no"},
    // A player opens the one file it is given and nothing that file names: no playlist entries, no
    // EDL, CUE or HLS references, no linked Matroska segments, no protocol but local files. A
    // dropped text file must not make the program read other files or contact hosts.
    {"access-references", "no"},
    {"load-unsafe-playlists", "no"},
    {"ordered-chapters", "no"},
    {"demuxer-lavf-o", "protocol_whitelist=file"},
    // Local files need no cache: a second of reading ahead (about 1 MB of a full-HD song) keeps
    // playback smooth, and nothing already played is kept for seeking back. The bounds hold whatever
    // the file, so that three players never keep the 200 MB mpv would allow each.
    {"cache", "no"},
    {"demuxer-readahead-secs", "1"},
    {"demuxer-max-bytes", "32MiB"},
    {"demuxer-max-back-bytes", "0"},
};

// Each frame thread of the video decoder keeps frames of its own, about 8 MB at full HD, and mpv
// by itself starts one more than there are cores: one a core, four at most, play a song as well.
constexpr int MaxDecoderThreads = 4;

} // namespace

MpvPlayer::MpvPlayer(Video video, Sound sound, const QString& soundFile, QObject* parent)
    : QObject(parent), m_video(video)
{
    // mpv refuses to start unless numbers are formatted the C way; Qt may have set the user's locale.
    const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
    if (!numeric || std::strcmp(numeric, "C") != 0)
        std::setlocale(LC_NUMERIC, "C");

    m_mpv.reset(mpv_create());
    if (!m_mpv) {
        logError(QStringLiteral("cannot create the mpv player"));
        return;
    }

    setOption(m_mpv.get(), "vo", video == Video::Render ? "libmpv" : "null");
    if (sound == Sound::None)
        setOption(m_mpv.get(), "ao", "null");
    if (sound == Sound::File) {
        setOption(m_mpv.get(), "ao", "pcm");
        setOption(m_mpv.get(), "ao-pcm-file", QFile::encodeName(soundFile).constData());
        setOption(m_mpv.get(), "ao-pcm-waveheader", "no");
        setOption(m_mpv.get(), "audio-format", "s16");
        setOption(m_mpv.get(), "audio-samplerate", "44100");
        setOption(m_mpv.get(), "audio-channels", "stereo");
    }
    if (sound == Sound::WavFile) {
        setOption(m_mpv.get(), "ao", "pcm");
        setOption(m_mpv.get(), "ao-pcm-file", QFile::encodeName(soundFile).constData());
        setOption(m_mpv.get(), "audio-format", "s16");
        setOption(m_mpv.get(), "untimed", "yes");
    }
    if (video == Video::Render)
        setOption(m_mpv.get(), "gpu-hwdec-interop", "no");
    // Nothing is shown: a music file's cover picture is not even decoded.
    if (video == Video::Off)
        setOption(m_mpv.get(), "vid", "no");
    const QByteArray threads = QByteArray::number(std::clamp(QThread::idealThreadCount(), 1, MaxDecoderThreads));
    setOption(m_mpv.get(), "vd-lavc-threads", threads.constData());
    for (const auto& [option, value] : LockedDownOptions)
        setOption(m_mpv.get(), option, value);

    const int error = mpv_initialize(m_mpv.get());
    if (error < 0) {
        logError(QStringLiteral("cannot start the mpv player: ") + errorText(error));
        m_mpv.reset();
        return;
    }

    mpv_request_log_messages(m_mpv.get(), "error");
    mpv_observe_property(m_mpv.get(), TimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv.get(), DurationProperty, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv.get(), EofReached, "eof-reached", MPV_FORMAT_FLAG);

    // mpv calls this on one of its own threads: only queue the draining onto our thread.
    mpv_set_wakeup_callback(
        m_mpv.get(),
        [](void* context) {
            auto* self = static_cast<MpvPlayer*>(context);
            if (self->m_drainQueued.exchange(true))
                return;
            QMetaObject::invokeMethod(
                self,
                [self] {
                    self->m_drainQueued = false;
                    self->drainEvents();
                    self->notify();
                },
                Qt::QueuedConnection);
        },
        this);
}

void MpvHandleDeleter::operator()(mpv_handle* mpv) const noexcept
{
    // After this returns mpv no longer calls back, so no drain can be queued for a dead object.
    mpv_set_wakeup_callback(mpv, nullptr, nullptr);
    mpv_terminate_destroy(mpv);
}

MpvPlayer::~MpvPlayer()
{
    emit closing();
}

void MpvPlayer::setMediaPath(const QString& path)
{
    drainEvents();
    m_path = path;
    m_wantPlay = false;
    m_stopped = true;
    m_atEnd = false;
    m_position = 0;
    m_seek = Seek::None;
    m_seekOnOpen.reset();
    m_duration = -1;
    m_openDeferred = false;
    m_pendingLoaded = false;
    m_pendingEnded = false;
    m_pendingFailure.reset();
    m_pendingMedia = true;
    // Every file starts as recorded.
    setKey(0);
    setTempo(0);
    m_guideVocal = false;
    m_guideTrack = 0;
    m_plainTrack = 0;

    if (path.isEmpty()) {
        unload();
        m_media = Media::None;
        scheduleNotify();
        return;
    }

    const QFileInfo info(path);
    QString problem;
    if (!info.exists())
        problem = QStringLiteral("no such file");
    else if (!info.isFile())
        problem = QStringLiteral("not a file");
    else if (info.size() == 0)
        problem = QStringLiteral("empty file");
    else if (!m_mpv)
        problem = QStringLiteral("no player");
    if (!problem.isEmpty()) {
        unload();
        fail(problem);
        scheduleNotify();
        return;
    }

    m_media = Media::Opening;
    if (m_video == Video::Render && !m_rendererAttached)
        m_openDeferred = true;
    else
        openCurrent(0);
    scheduleNotify();
}

// Opens m_path paused (the caller's play() unpauses). The playlist entry comes with the command's
// reply, before any event of the new file, so that events of the file it replaces are told apart.
// Asynchronous, like every command of this class: the core may be waiting for this thread to draw
// a frame, and a waiting call would stall both until mpv's time-out.
void MpvPlayer::openCurrent(double start)
{
    m_openDeferred = false;
    m_seek = Seek::None;
    setPaused(!m_wantPlay);

    // An absolute path, so that nothing in the name is read as a URL or an option.
    const QByteArray file = QFile::encodeName(QFileInfo(m_path).absoluteFilePath());
    const QByteArray options = start > 0 ? "start=" + QByteArray::number(start, 'f', 6) : QByteArray();
    const char* command[] = {"loadfile", file.constData(), "replace", options.isEmpty() ? nullptr : options.constData(),
                             nullptr};
    m_entryId = 0;
    m_media = Media::Opening;
    applyKey(true);
    const int error = mpv_command_async(m_mpv.get(), ++m_loadReply, command);
    if (error < 0) {
        unload();
        fail(errorText(error));
    }
}

void MpvPlayer::loadReplied(const mpv_event& event)
{
    if (event.error < 0) {
        unload();
        fail(errorText(event.error));
        return;
    }
    const mpv_node& result = static_cast<const mpv_event_command*>(event.data)->result;
    if (result.format != MPV_FORMAT_NODE_MAP)
        return;
    for (int i = 0; i < result.u.list->num; ++i) {
        if (std::strcmp(result.u.list->keys[i], "playlist_entry_id") == 0 &&
            result.u.list->values[i].format == MPV_FORMAT_INT64)
            m_entryId = result.u.list->values[i].u.int64;
    }
}

bool MpvPlayer::command(std::initializer_list<const char*> words)
{
    std::vector<const char*> list(words);
    list.push_back(nullptr);
    // Asynchronous, as every call of this class: the core may be waiting for this thread to draw.
    const int error = mpv_command_async(m_mpv.get(), 0, list.data());
    if (error < 0)
        logError(QStringLiteral("mpv command ") + QString::fromUtf8(list[0]) + QStringLiteral(": ") + errorText(error));
    return error >= 0;
}

void MpvPlayer::unload()
{
    m_entryId = 0;
    m_openDeferred = false;
    if (!m_mpv)
        return;
    command({"stop"});
}

void MpvPlayer::fail(const QString& reason)
{
    m_media = Media::Failed;
    m_wantPlay = false;
    m_seek = Seek::None;
    m_seekOnOpen.reset();
    logError(QStringLiteral("cannot play \"") + m_path + QStringLiteral("\": ") + reason);
    m_pendingFailure = reason;
    scheduleNotify();
}

void MpvPlayer::play()
{
    drainEvents();
    if (m_media != Media::Opening && m_media != Media::Open)
        return;
    if (m_atEnd) {
        seekTo(0);
        m_atEnd = false;
    }
    m_wantPlay = true;
    m_stopped = false;
    setPaused(false);
    scheduleNotify();
}

void MpvPlayer::pause()
{
    drainEvents();
    if (m_media != Media::Opening && m_media != Media::Open)
        return;
    m_wantPlay = false;
    setPaused(true);
    scheduleNotify();
}

void MpvPlayer::stop()
{
    drainEvents();
    m_wantPlay = false;
    m_stopped = true;
    if (m_media != Media::Opening && m_media != Media::Open)
        return;
    setPaused(true);
    m_atEnd = false;
    seekTo(0);
    scheduleNotify();
}

PlayState MpvPlayer::playState() const
{
    switch (m_media) {
    case Media::None:
        return PlayState::NoMedia;
    case Media::Failed:
        return PlayState::Failed;
    case Media::Opening:
    case Media::Open:
        break;
    }
    if (m_atEnd)
        return PlayState::Ended;
    if (m_wantPlay)
        return PlayState::Playing;
    return m_stopped ? PlayState::Stopped : PlayState::Paused;
}

double MpvPlayer::position() const
{
    if (m_media != Media::Opening && m_media != Media::Open)
        return 0;
    return m_position;
}

void MpvPlayer::setPosition(double seconds)
{
    drainEvents();
    if (!std::isfinite(seconds) || (m_media != Media::Opening && m_media != Media::Open))
        return;
    if (seconds > 0 || m_atEnd)
        m_stopped = false;
    m_atEnd = false;
    seekTo(std::max(seconds, 0.0));
    scheduleNotify();
}

void MpvPlayer::seekTo(double seconds)
{
    m_position = seconds;
    if (m_media == Media::Opening) {
        // mpv cannot seek in a file that is still opening; seek once it is open.
        m_seekOnOpen = seconds;
        return;
    }
    const QByteArray target = QByteArray::number(seconds, 'f', 6);
    if (command({"seek", target.constData(), "absolute+exact"}))
        m_seek = Seek::Requested;
}

void MpvPlayer::setPaused(bool paused)
{
    if (!m_mpv)
        return;
    int flag = paused ? 1 : 0;
    mpv_set_property_async(m_mpv.get(), 0, "pause", MPV_FORMAT_FLAG, &flag);
}

QString MpvPlayer::durationText() const
{
    return formatDuration(m_duration);
}

QString MpvPlayer::formatDuration(double seconds)
{
    const long long total = std::isnan(seconds) || seconds < 0 ? 0 : std::llround(seconds);
    const auto two = [](long long n) { return QString::number(n).rightJustified(2, u'0'); };
    return two(total / 3600) + u':' + two(total / 60 % 60) + u':' + two(total % 60);
}

void MpvPlayer::setVolume(double volume)
{
    if (std::isnan(volume))
        return;
    m_volume = std::clamp(volume, 0.0, 100.0);
    if (!m_mpv)
        return;
    double value = m_volume;
    mpv_set_property_async(m_mpv.get(), 0, "volume", MPV_FORMAT_DOUBLE, &value);
}

void MpvPlayer::setRendererAttached(bool attached)
{
    drainEvents();
    m_rendererAttached = attached;
    if (!attached || !m_mpv)
        return;
    if (m_openDeferred) {
        openCurrent(m_seekOnOpen.value_or(0));
        m_seekOnOpen.reset();
    } else if (m_media == Media::Opening || (m_media == Media::Open && !m_atEnd)) {
        // A renderer that comes back (its GL context was replaced) finds video switched off for the
        // open file: open it again where it was.
        openCurrent(m_seekOnOpen.value_or(m_position));
        m_seekOnOpen.reset();
    }
}

void MpvPlayer::scheduleNotify()
{
    if (m_notifyQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(this, &MpvPlayer::notify, Qt::QueuedConnection);
}

void MpvPlayer::notify()
{
    m_notifyQueued = false;
    if (m_pendingMedia) {
        m_pendingMedia = false;
        emit mediaChanged();
    }
    if (m_pendingFailure) {
        const QString reason = *m_pendingFailure;
        m_pendingFailure.reset();
        emit loadFailed(m_path, reason);
    }
    if (m_pendingLoaded) {
        m_pendingLoaded = false;
        emit fileLoaded();
    }
    if (m_pendingEnded) {
        m_pendingEnded = false;
        emit fileEnded();
    }
    const PlayState state = playState();
    if (state != m_lastNotifiedState) {
        m_lastNotifiedState = state;
        emit playStateChanged(state);
    }
}

QString MpvPlayer::errorText(int error)
{
    const char* text = mpv_error_string(error);
    return QString::fromUtf8(text ? text : "");
}

QString MpvPlayer::name() const
{
    return objectName().isEmpty() ? QStringLiteral("player") : objectName();
}

void MpvPlayer::logError(const QString& text) const
{
    qCWarning(lcPlayer).noquote() << name() + QStringLiteral(": ") + text;
}

} // namespace tarv
