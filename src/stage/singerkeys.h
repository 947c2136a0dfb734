#pragma once

#include "common/keytempo.h"
#include "common/songnumber.h"

#include <QString>

#include <optional>

namespace tarv {

// The key and tempo each named user last sang each song at (db/singerkeys.txt), so that their next
// reservation of the song starts there. "Guest" is nobody in particular and is never remembered.
//
// UTF-8, one line per user and song: user, number, key, tempo, separated by tabs (a stored user
// name has no control characters). A line that cannot be read is kept as it is. Every change
// replaces the file atomically. Both calls read the file afresh, so any thread (the guests' pages
// too) may look up what the stage remembered.

// What the user last sang the song at; nullopt when nothing is remembered (or for "Guest").
std::optional<KeyTempo> rememberedKeyTempo(const QString& file, const QString& user, const SongNumber& number);

// Remembers what the user sings the song at now. Returns why the file could not be written,
// otherwise an empty text (also when nothing needed writing).
QString rememberKeyTempo(const QString& file, const QString& user, const SongNumber& number, KeyTempo value);

} // namespace tarv
