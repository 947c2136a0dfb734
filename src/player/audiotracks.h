#pragma once

#include <QList>
#include <QString>

#include <cstdint>

namespace tarv {

struct AudioTrack
{
    int64_t id = 0;
    QString title;
};

// The two audio tracks of a karaoke file: the instrumental it starts on and the guide vocal the
// singer may switch to; both 0 when there is nothing to switch between.
struct GuideTracks
{
    int64_t guide = 0;
    int64_t plain = 0;
    bool operator==(const GuideTracks&) const = default;
};

// Tells the tracks apart by their titles: Japanese karaoke files name their instrumental "Off Vocal",
// "オフボーカル", "カラオケ" or "Instrumental", and their guide "On Vocal", "ボーカル" or "Guide". Untitled
// tracks: the first is the instrumental, the second the guide.
GuideTracks guideTracks(const QList<AudioTrack>& audio);

} // namespace tarv
