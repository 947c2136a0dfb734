#pragma once

#include <QString>

namespace tarv {

// Copies a file through the save helper: the copy is written under a temporary name beside the
// destination and renamed over it only when complete and synced. Returns an empty text on success,
// otherwise the reason (the destination is then as it was); *sourceFault, when given, tells a source
// that cannot be read from a destination that cannot be written.
QString copyFileSafely(const QString& source, const QString& destination, bool* sourceFault = nullptr);

} // namespace tarv
