// What the singer changes while a song plays: its key, its tempo and the guide vocal, all without
// reloading the media.
#include "player/mpvplayer.h"

#include "player/audiotracks.h"

#include <mpv/client.h>

#include <QList>

#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace tarv {
namespace {

struct NodeDeleter
{
    void operator()(mpv_node* node) const noexcept { mpv_free_node_contents(node); }
};

const mpv_node* field(const mpv_node& map, const char* name)
{
    if (map.format != MPV_FORMAT_NODE_MAP)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (std::strcmp(map.u.list->keys[i], name) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

enum class TrackKind { Unknown, Plain, Guide };

TrackKind trackKind(const QString& title)
{
    QString folded = title.toCaseFolded();
    folded.remove(u' ').remove(u'-').remove(u'_').remove(u'・');
    for (const char16_t* plain : {u"offvocal", u"オフボーカル", u"カラオケ", u"karaoke", u"instrumental", u"inst",
                                  u"backing", u"novocal", u"ボーカルなし"}) {
        if (folded.contains(QStringView(plain)))
            return TrackKind::Plain;
    }
    for (const char16_t* guide : {u"vocal", u"ボーカル", u"guide", u"ガイド", u"歌あり"}) {
        if (folded.contains(QStringView(guide)))
            return TrackKind::Guide;
    }
    return TrackKind::Unknown;
}

QByteArray pitchScale(int semitones)
{
    return QByteArray::number(std::pow(2.0, semitones / 12.0), 'f', 6);
}

} // namespace

GuideTracks guideTracks(const QList<AudioTrack>& audio)
{
    const auto first = [&audio](TrackKind kind, int64_t other) -> int64_t {
        for (const AudioTrack& track : audio) {
            if (track.id != other && (kind == TrackKind::Unknown || trackKind(track.title) == kind))
                return track.id;
        }
        return 0;
    };
    GuideTracks tracks;
    tracks.plain = first(TrackKind::Plain, 0);
    tracks.guide = first(TrackKind::Guide, tracks.plain);
    if (tracks.plain == 0 && tracks.guide == 0 && audio.size() >= 2)
        return {audio[1].id, audio[0].id};
    if (tracks.plain == 0)
        tracks.plain = first(TrackKind::Unknown, tracks.guide);
    if (tracks.guide == 0)
        tracks.guide = first(TrackKind::Unknown, tracks.plain);
    if (tracks.plain == 0 || tracks.guide == 0)
        return {}; // one track: there is nothing to switch to
    return tracks;
}

void MpvPlayer::setKey(int semitones)
{
    const int key = KeyTempo::clampKey(semitones);
    if (key == m_key)
        return;
    m_key = key;
    applyKey(m_media != Media::Open);
}

// The filter costs nothing at the original key: it is in the chain only while the key is not 0.
// Live, a change retunes the filter in place; the filter list itself keeps the key the filter was
// added with, so before mpv builds the chain again from that list (a file opens, the track
// changes: rebuild) the filter is listed anew with the key of now.
void MpvPlayer::applyKey(bool rebuild)
{
    if (!m_mpv)
        return;
    if (m_filterKey != 0 && (m_key == 0 || (rebuild && m_filterKey != m_key))) {
        command({"af", "remove", "@key"});
        m_filterKey = 0;
    }
    if (m_key == 0 || m_filterKey == m_key)
        return;
    const QByteArray scale = pitchScale(m_key);
    if (m_filterKey == 0) {
        // Rubber Band's default (finer) engine: its lighter one costs a third of the CPU time but
        // moves the onsets of notes by up to 90 ms at a fast tempo, which the picture would show.
        const QByteArray filter = "@key:rubberband=pitch-scale=" + scale;
        command({"af", "add", filter.constData()});
        m_filterKey = m_key;
    } else {
        command({"af-command", "key", "set-pitch", scale.constData()});
    }
}

void MpvPlayer::setTempo(int percent)
{
    m_tempo = KeyTempo::clampTempo(percent);
    if (!m_mpv)
        return;
    double speed = 1.0 + m_tempo / 100.0;
    mpv_set_property_async(m_mpv.get(), 0, "speed", MPV_FORMAT_DOUBLE, &speed);
}

void MpvPlayer::setGuideVocal(bool on)
{
    m_guideVocal = on && hasGuideVocal();
    applyAudioTrack();
}

// Reads the audio tracks of the file just opened: the guide track and the one without it.
void MpvPlayer::findGuideTrack()
{
    m_guideTrack = 0;
    m_plainTrack = 0;
    mpv_node list;
    if (mpv_get_property(m_mpv.get(), "track-list", MPV_FORMAT_NODE, &list) < 0)
        return;
    const std::unique_ptr<mpv_node, NodeDeleter> guard(&list);
    if (list.format != MPV_FORMAT_NODE_ARRAY)
        return;
    QList<AudioTrack> audio;
    for (int i = 0; i < list.u.list->num; ++i) {
        const mpv_node& track = list.u.list->values[i];
        const mpv_node* type = field(track, "type");
        const mpv_node* id = field(track, "id");
        const mpv_node* title = field(track, "title");
        if (!type || type->format != MPV_FORMAT_STRING || std::strcmp(type->u.string, "audio") != 0 || !id ||
            id->format != MPV_FORMAT_INT64)
            continue;
        audio.append({id->u.int64,
                      title && title->format == MPV_FORMAT_STRING ? QString::fromUtf8(title->u.string) : QString()});
    }
    const GuideTracks tracks = guideTracks(audio);
    m_guideTrack = tracks.guide;
    m_plainTrack = tracks.plain;
    // mpv may have chosen the guide track by itself.
    applyAudioTrack();
}

void MpvPlayer::applyAudioTrack()
{
    if (!m_mpv || m_guideTrack == 0 || m_media != Media::Open)
        return;
    int64_t track = m_guideVocal ? m_guideTrack : m_plainTrack;
    mpv_set_property_async(m_mpv.get(), 0, "aid", MPV_FORMAT_INT64, &track);
    applyKey(true);
}

} // namespace tarv
