#pragma once

#include "common/droprules.h"
#include "library/songlist.h"

#include <QString>

#include <optional>

namespace tarv {

// A song number the operator typed: blanks around it aside, only the digits 0-9, with a value from
// 100000 to 999998. nullopt for anything else.
std::optional<qint64> parseSongNumber(const QString& text);

// The message shown when a typed song number is refused.
QString badSongNumberMessage(const QString& typed);

// The song list read for a change that rewrites it. nullopt, with the reason in *error, when it
// cannot be read, or when lines were skipped or number lines read leniently: the rewrite would lose
// or change them, so the operator has to mend the file first.
std::optional<SongTable> loadSongListForRewrite(const QString& path, QString* error);

class OperatorLog;
class OperatorPrompts;

// The backup taken after a change when the operator asked for one; a failure is logged and shown,
// and the change stands.
void backUpAfterChange(const AppPaths& paths, const QDateTime& now, OperatorLog& log, OperatorPrompts& prompts);

} // namespace tarv
