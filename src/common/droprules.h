#pragma once

#include <QString>

namespace tarv {

// Rules that every drop of videos onto an operator window follows.

// The proposed title of a dropped file: its name without the last four characters (a three-letter
// extension and its dot). A name shorter than four characters is kept whole.
QString proposedTitle(const QString& fileName);

// A title as a list file can hold it: a line break would split the entry in two, so CR and LF
// become spaces.
QString listableTitle(const QString& title);

// Megabytes of a byte count, truncated to one decimal and written shortest ("12.3", "0", "5").
QString megabytesText(qint64 bytes);

} // namespace tarv
