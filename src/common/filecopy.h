#pragma once

#include <QString>

#include <optional>

namespace tarv {

// Copies a file through the save helper: the copy is written under a temporary name beside the
// destination and renamed over it only when complete and synced. Returns an empty text on success,
// otherwise the reason (the destination is then as it was); *sourceFault, when given, tells a source
// that cannot be read from a destination that cannot be written.
QString copyFileSafely(const QString& source, const QString& destination, bool* sourceFault = nullptr);

// True when copy is a regular file, not the same file as original, that holds the same bytes: the
// proof that removing it loses nothing. Both are opened without waiting and read only when regular.
bool isCopyOf(const QString& copy, const QString& original);

// Why a dropped path cannot be copied (folderReason for a folder; missing, not a plain file or not
// readable otherwise), or nullopt when it can.
std::optional<QString> uncopyableReason(const QString& path, const QString& folderReason);

} // namespace tarv
