#include "player/mpvplayer.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaObject>

#include <mpv/client.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>

namespace tarv {

Q_LOGGING_CATEGORY(lcPlayer, "tarv.player")

namespace {

// Observed properties, told apart by their reply ids.
enum ObservedProperty : uint64_t { TimePos = 1, Duration, EofReached };

void setOption(mpv_handle* mpv, const char* name, const char* value)
{
    const int error = mpv_set_option_string(mpv, name, value);
    if (error < 0)
        qCWarning(lcPlayer) << "mpv option" << name << "=" << value << ":" << mpv_error_string(error);
}

QString fromUtf8(const char* text)
{
    return QString::fromUtf8(text ? text : "");
}

} // namespace

MpvPlayer::MpvPlayer(Video video, Sound sound, QObject* parent) : QObject(parent), m_video(video)
{
    // mpv refuses to start unless numbers are formatted the C way; Qt may have set the user's locale.
    const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
    if (!numeric || std::strcmp(numeric, "C") != 0)
        std::setlocale(LC_NUMERIC, "C");

    m_mpv = mpv_create();
    if (!m_mpv) {
        logError(QStringLiteral("cannot create the mpv player"));
        return;
    }

    setOption(m_mpv, "vo", video == Video::Render ? "libmpv" : "null");
    if (sound == Sound::None)
        setOption(m_mpv, "ao", "null");
    if (video == Video::Render)
        setOption(m_mpv, "gpu-hwdec-interop", "no");
    // Keep the last frame at the end; the end is noticed through eof-reached and paused from here,
    // so the pause property only ever changes when this class sets it.
    setOption(m_mpv, "keep-open", "yes");
    setOption(m_mpv, "keep-open-pause", "no");
    setOption(m_mpv, "hr-seek", "yes");
    setOption(m_mpv, "idle", "yes");
    // A plain embedded player: no scripts, no on-screen display, no key or mouse handling, no
    // side files picked up next to the video.
    setOption(m_mpv, "ytdl", "no");
    setOption(m_mpv, "load-scripts", "no");
    setOption(m_mpv, "osc", "no");
    setOption(m_mpv, "load-stats-overlay", "no");
    setOption(m_mpv, "load-osd-console", "no");
    setOption(m_mpv, "load-auto-profiles", "no");
    setOption(m_mpv, "input-default-bindings", "no");
    setOption(m_mpv, "input-vo-keyboard", "no");
    setOption(m_mpv, "input-cursor", "no");
    setOption(m_mpv, "cursor-autohide", "no");
    setOption(m_mpv, "osd-level", "0");
    setOption(m_mpv, "sub-auto", "no");
    setOption(m_mpv, "audio-file-auto", "no");
    setOption(m_mpv, "cover-art-auto", "no");
    setOption(m_mpv, "audio-display", "no");
    // A player opens the one file it is given and nothing that file names: no playlist entries, no
    // EDL, CUE or HLS references, no linked Matroska segments, no protocol but local files. A
    // dropped text file must not make the program read other files or contact hosts.
    setOption(m_mpv, "access-references", "no");
    setOption(m_mpv, "load-unsafe-playlists", "no");
    setOption(m_mpv, "ordered-chapters", "no");
    setOption(m_mpv, "demuxer-lavf-o", "protocol_whitelist=file");

    const int error = mpv_initialize(m_mpv);
    if (error < 0) {
        logError(QStringLiteral("cannot start the mpv player: ") + fromUtf8(mpv_error_string(error)));
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return;
    }

    mpv_request_log_messages(m_mpv, "error");
    mpv_observe_property(m_mpv, TimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, Duration, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, EofReached, "eof-reached", MPV_FORMAT_FLAG);

    // mpv calls this on one of its own threads: only queue the draining onto our thread.
    mpv_set_wakeup_callback(
        m_mpv,
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

MpvPlayer::~MpvPlayer()
{
    if (!m_mpv)
        return;
    // After this returns mpv no longer calls back, so no drain can be queued for a dead object.
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    mpv_terminate_destroy(m_mpv);
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
    const int error = mpv_command_async(m_mpv, ++m_loadReply, command);
    if (error < 0) {
        unload();
        fail(fromUtf8(mpv_error_string(error)));
    }
}

void MpvPlayer::loadReplied(const mpv_event& event)
{
    if (event.error < 0) {
        unload();
        fail(fromUtf8(mpv_error_string(event.error)));
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

void MpvPlayer::unload()
{
    m_entryId = 0;
    m_openDeferred = false;
    if (!m_mpv)
        return;
    const char* command[] = {"stop", nullptr};
    mpv_command_async(m_mpv, 0, command);
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
    const char* command[] = {"seek", target.constData(), "absolute+exact", nullptr};
    // Asynchronous, like every call the interface thread makes while a picture may be due: the
    // core may be waiting for this thread to draw, and a waiting call would stall both.
    const int error = mpv_command_async(m_mpv, 0, command);
    if (error < 0) {
        logError(QStringLiteral("cannot seek to ") + QString::fromLatin1(target) + QStringLiteral(": ") +
                 fromUtf8(mpv_error_string(error)));
        return;
    }
    m_seek = Seek::Requested;
}

void MpvPlayer::setPaused(bool paused)
{
    if (!m_mpv)
        return;
    int flag = paused ? 1 : 0;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &flag);
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
    mpv_set_property_async(m_mpv, 0, "volume", MPV_FORMAT_DOUBLE, &value);
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

void MpvPlayer::drainEvents()
{
    if (!m_mpv)
        return;
    for (;;) {
        mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MpvPlayer::handleEvent(const mpv_event& event)
{
    switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY:
        // Only the reply to the latest load counts; seeks and older loads are answered with 0 or older ids.
        if (event.reply_userdata != 0 && event.reply_userdata == m_loadReply && m_media == Media::Opening)
            loadReplied(event);
        break;

    case MPV_EVENT_START_FILE:
        m_startedId = static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id;
        break;

    case MPV_EVENT_FILE_LOADED:
        if (m_media != Media::Opening || m_startedId != m_entryId)
            break;
        m_media = Media::Open;
        m_pendingLoaded = true;
        // The duration may have been announced before this event, while it was not yet taken.
        if (double duration = -1; mpv_get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &duration) >= 0)
            m_duration = duration;
        if (m_seekOnOpen) {
            const double target = *m_seekOnOpen;
            m_seekOnOpen.reset();
            seekTo(target);
        }
        scheduleNotify();
        break;

    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        if (end->playlist_entry_id != m_entryId || (m_media != Media::Opening && m_media != Media::Open))
            break;
        if (end->reason == MPV_END_FILE_REASON_ERROR) {
            fail(fromUtf8(mpv_error_string(end->error)));
        } else if (end->reason == MPV_END_FILE_REASON_REDIRECT) {
            // A playlist (or a folder) names other files; play none of them.
            unload();
            fail(QStringLiteral("not a video file"));
        } else if (end->reason == MPV_END_FILE_REASON_EOF) {
            reachEnd();
        }
        break;
    }

    case MPV_EVENT_SEEK:
        if (m_seek == Seek::Requested)
            m_seek = Seek::Running;
        break;

    case MPV_EVENT_PLAYBACK_RESTART: {
        // The first restart after opening has no seek before it and does not end a pending seek.
        if (m_seek != Seek::Running)
            break;
        m_seek = Seek::None;
        // eof-reached news that came during the seek may predate it; ask for the value now.
        int eof = 0;
        if (m_media == Media::Open && mpv_get_property(m_mpv, "eof-reached", MPV_FORMAT_FLAG, &eof) >= 0 && eof)
            reachEnd();
        break;
    }

    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (m_media != Media::Open)
            break;
        if (event.reply_userdata == TimePos) {
            if (property->format == MPV_FORMAT_DOUBLE && m_seek == Seek::None)
                m_position = *static_cast<const double*>(property->data);
        } else if (event.reply_userdata == Duration) {
            m_duration = property->format == MPV_FORMAT_DOUBLE ? *static_cast<const double*>(property->data) : -1;
        } else if (event.reply_userdata == EofReached) {
            const bool eof = property->format == MPV_FORMAT_FLAG && *static_cast<const int*>(property->data) != 0;
            if (eof && m_seek == Seek::None)
                reachEnd();
        }
        break;
    }

    case MPV_EVENT_LOG_MESSAGE: {
        const auto* message = static_cast<const mpv_event_log_message*>(event.data);
        // The null audio output of headless players complains about a harmless pause race.
        if (std::strcmp(message->prefix, "ao/null") == 0)
            break;
        qCWarning(lcPlayer).noquote() << name() + QStringLiteral(": mpv ") + QString::fromUtf8(message->prefix) +
                                             QStringLiteral(": ") + QString::fromUtf8(message->text).trimmed();
        break;
    }

    default:
        break;
    }
}

// The file played to its end: mpv keeps showing the last frame; pause it so that a later seek
// does not play on by itself.
void MpvPlayer::reachEnd()
{
    if (m_atEnd)
        return;
    m_atEnd = true;
    m_wantPlay = false;
    setPaused(true);
    m_pendingEnded = true;
    scheduleNotify();
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

QString MpvPlayer::name() const
{
    return objectName().isEmpty() ? QStringLiteral("player") : objectName();
}

void MpvPlayer::logError(const QString& text) const
{
    qCWarning(lcPlayer).noquote() << name() + QStringLiteral(": ") + text;
}

} // namespace tarv
