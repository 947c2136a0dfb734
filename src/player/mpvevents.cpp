// What mpv tells a player: its events, drained on the Qt event loop, turned into the player's state.
#include "player/mpvplayer.h"

#include "player/heaplimits.h"

#include <QLoggingCategory>

#include <mpv/client.h>

#include <cstring>

namespace tarv {

void MpvPlayer::drainEvents()
{
    if (!m_mpv)
        return;
    for (;;) {
        mpv_event* event = mpv_wait_event(m_mpv.get(), 0);
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
        onFileLoaded();
        break;
    case MPV_EVENT_END_FILE:
        onFileEnded(*static_cast<const mpv_event_end_file*>(event.data));
        // mpv has let go of the file's decoders and demuxer by now.
        releaseFreeHeapSoon();
        break;
    case MPV_EVENT_SEEK:
        if (m_seek == Seek::Requested)
            m_seek = Seek::Running;
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        onPlaybackRestart();
        break;
    case MPV_EVENT_PROPERTY_CHANGE:
        onPropertyChange(event);
        break;
    case MPV_EVENT_LOG_MESSAGE: {
        const auto* message = static_cast<const mpv_event_log_message*>(event.data);
        // The null audio output of headless players complains about a harmless pause race.
        if (std::strcmp(message->prefix, "ao/null") != 0) {
            qCWarning(lcPlayer).noquote() << name() + QStringLiteral(": mpv ") + QString::fromUtf8(message->prefix) +
                                                 QStringLiteral(": ") + QString::fromUtf8(message->text).trimmed();
        }
        break;
    }
    default:
        break;
    }
}

void MpvPlayer::onFileLoaded()
{
    if (m_media != Media::Opening || m_startedId != m_entryId)
        return;
    m_media = Media::Open;
    m_pendingLoaded = true;
    // The duration may have been announced before this event, while it was not yet taken.
    if (double duration = -1; mpv_get_property(m_mpv.get(), "duration", MPV_FORMAT_DOUBLE, &duration) >= 0)
        m_duration = duration;
    findGuideTrack();
    if (m_seekOnOpen) {
        const double target = *m_seekOnOpen;
        m_seekOnOpen.reset();
        seekTo(target);
    }
    scheduleNotify();
}

void MpvPlayer::onFileEnded(const mpv_event_end_file& end)
{
    if (end.playlist_entry_id != m_entryId || (m_media != Media::Opening && m_media != Media::Open))
        return;
    if (end.reason == MPV_END_FILE_REASON_ERROR) {
        fail(errorText(end.error));
    } else if (end.reason == MPV_END_FILE_REASON_REDIRECT) {
        // A playlist (or a folder) names other files; play none of them.
        unload();
        fail(QStringLiteral("not a video file"));
    } else if (end.reason == MPV_END_FILE_REASON_EOF) {
        reachEnd();
    }
}

void MpvPlayer::onPlaybackRestart()
{
    // The first restart after opening has no seek before it and does not end a pending seek.
    if (m_seek != Seek::Running)
        return;
    m_seek = Seek::None;
    // eof-reached news that came during the seek may predate it; ask for the value now.
    int eof = 0;
    if (m_media == Media::Open && mpv_get_property(m_mpv.get(), "eof-reached", MPV_FORMAT_FLAG, &eof) >= 0 && eof)
        reachEnd();
}

void MpvPlayer::onPropertyChange(const mpv_event& event)
{
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    if (m_media != Media::Open)
        return;
    if (event.reply_userdata == TimePos) {
        if (property->format == MPV_FORMAT_DOUBLE && m_seek == Seek::None)
            m_position = *static_cast<const double*>(property->data);
    } else if (event.reply_userdata == DurationProperty) {
        m_duration = property->format == MPV_FORMAT_DOUBLE ? *static_cast<const double*>(property->data) : -1;
    } else if (event.reply_userdata == EofReached) {
        const bool eof = property->format == MPV_FORMAT_FLAG && *static_cast<const int*>(property->data) != 0;
        if (eof && m_seek == Seek::None)
            reachEnd();
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

} // namespace tarv
