#pragma once

#include "library/songlist.h"

#include <QString>

#include <optional>

namespace tarv {

// A song number the operator typed: blanks around it aside, only the digits 0-9, with a value from
// 100000 to 999998. nullopt for anything else.
std::optional<qint64> parseSongNumber(const QString& text);

// The message shown when a typed song number is refused.
QString badSongNumberMessage(const QString& typed);

// The proposed title of a dropped file: its name without the last four characters (a three-letter
// extension and its dot). A name shorter than four characters is kept whole.
QString proposedTitle(const QString& fileName);

// A title as the song list can hold it: a line break would split the entry in two, so CR and LF
// become spaces.
QString listableTitle(const QString& title);

// The song list read for a change that rewrites it. nullopt, with the reason in *error, when it
// cannot be read, or when lines were skipped or number lines read leniently: the rewrite would lose
// or change them, so the operator has to mend the file first.
std::optional<SongTable> loadSongListForRewrite(const QString& path, QString* error);

class LibraryLog;
class LibraryPrompts;

// The backup taken after a change when the operator asked for one; a failure is logged and shown,
// and the change stands.
void backUpAfterChange(const AppPaths& paths, const QDateTime& now, LibraryLog& log, LibraryPrompts& prompts);

// Megabytes of a byte count, truncated to one decimal and written shortest ("12.3", "0", "5").
QString megabytesText(qint64 bytes);

} // namespace tarv
