#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

namespace tarv {

// The one way a data file is written: into a temporary file beside it, committed by a rename,
// then the folder is synced. On any failure the old file stays as it was.
// Returns an empty text on success, otherwise the reason.
QString saveFile(const QString& path, const QByteArray& content);

// As above, with the content produced by writer; a writer returning false abandons the save.
QString saveFile(const QString& path, const std::function<bool(QIODevice&)>& writer);

} // namespace tarv
