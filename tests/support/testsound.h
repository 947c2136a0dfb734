#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace tarv::test {

// The sample rate of the clips below and of the sound players write from them.
inline constexpr int Rate = 48000;

// Writes a clip with ffmpeg: a small test picture (64x64, 10 frames per second) and 48 kHz stereo
// AAC sound, one audio track per lavfi source (its "%1" is the length), the last track titled
// `lastTitle` when given. Returns dir/name, or an empty text when ffmpeg failed.
QString makeSoundClip(const QString& dir, const QString& name, double seconds, const QStringList& sounds,
                      const QString& lastTitle = {});
// The lavfi source of a steady tone.
QString tone(int hertz);

// The left channel of a 16-bit stereo WAV file (the header's sizes are not trusted: a file still
// open has none yet).
std::vector<double> readLeftChannel(const QString& path);

// The frequency of the sound between two moments (seconds), from its rising zero crossings.
double frequency(const std::vector<double>& sound, double from, double to);

// The first moment after `from` from which twenty periods in a row are at `hertz` (within 1 %);
// -1 when there is none.
double firstMomentAt(const std::vector<double>& sound, double hertz, double from);

// A frequency moved by semitones.
double semitones(double hertz, int steps);

} // namespace tarv::test
