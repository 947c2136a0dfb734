#pragma once

#include "common/apppaths.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tarv {

// The web root: the first field of the first line of db/path.txt; nullopt when the file is missing,
// unreadable or names nothing.
std::optional<QString> readWebRoot(const AppPaths& paths);
// The same from the file's content.
std::optional<QString> webRootFromContent(const QByteArray& content);

// A file of the exchange folder (web root + cgi-bin/tarv/), such as "tarvlist.txt".
QString exchangeFile(const QString& webRoot, const QString& name);

// The exchange file when db/path.txt names a web root whose exchange folder exists; nullopt otherwise.
std::optional<QString> existingExchangeFile(const AppPaths& paths, const QString& name);

} // namespace tarv
