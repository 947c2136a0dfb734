#pragma once

#include <algorithm>

namespace tarv {

// What a singer changes about a song: the key in semitones and the tempo in percent of the
// original speed, both 0 for the song as recorded.
struct KeyTempo
{
    static constexpr int MaxKey = 6;    // semitones either way
    static constexpr int MaxTempo = 25; // percent either way
    static constexpr int TempoStep = 5; // one press of the keypad's tempo keys

    int key = 0;
    int tempo = 0;

    static int clampKey(int semitones) { return std::clamp(semitones, -MaxKey, MaxKey); }
    static int clampTempo(int percent) { return std::clamp(percent, -MaxTempo, MaxTempo); }
    KeyTempo clamped() const { return {clampKey(key), clampTempo(tempo)}; }
    bool isOriginal() const { return key == 0 && tempo == 0; }
    bool operator==(const KeyTempo&) const = default;
};

} // namespace tarv
