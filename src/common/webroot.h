#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tarv {

// What the operator is told when db/path.txt names no usable web root.
inline const QString WebRootErrorText = QStringLiteral("Pathの設定が正しくありません");

// The web root: the first field of the first line of db/path.txt; nullopt when the file is missing,
// unreadable or names nothing.
std::optional<QString> readWebRoot(const AppPaths& paths);
// The same from the file's content.
std::optional<QString> webRootFromContent(const QByteArray& content);

} // namespace tarv
