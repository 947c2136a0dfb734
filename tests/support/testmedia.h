#pragma once

#include <QString>

namespace tarv::test {

// Writes a clip like the library's videos with ffmpeg: H.264 and AAC in MP4, no file-name
// extension, 320x180 at 30 frames per second, a moving colour test pattern and a 440 Hz tone,
// `seconds` long. A non-empty `label` is drawn large in the middle of the picture (Japanese text
// works). Returns dir/name, or an empty text after printing ffmpeg's complaint on stderr.
// Takes about 0.1 s per second of clip.
QString makeTestClip(const QString& dir, const QString& name, double seconds, const QString& label = {});

} // namespace tarv::test
