#include "common/webroot.h"

#include "common/cp932.h"
#include "common/fields.h"
#include "common/textfile.h"

#include <QDir>
#include <QFileInfo>

namespace tarv {

std::optional<QString> readWebRoot(const AppPaths& paths)
{
    const auto bytes = readFileBytes(paths.webRootFile());
    if (!bytes)
        return std::nullopt;
    return webRootFromContent(*bytes);
}

std::optional<QString> webRootFromContent(const QByteArray& content)
{
    const QList<QByteArray> lines = splitLines(content);
    if (lines.isEmpty())
        return std::nullopt;
    const QString root = firstField(decodeCp932(lines.constFirst()));
    if (root.isEmpty())
        return std::nullopt;
    return root;
}

QString exchangeFile(const QString& webRoot, const QString& name)
{
    return QDir(webRoot).filePath(QStringLiteral("cgi-bin/tarv/") + name);
}

std::optional<QString> existingExchangeFile(const AppPaths& paths, const QString& name)
{
    const auto root = readWebRoot(paths);
    if (!root)
        return std::nullopt;
    const QString file = exchangeFile(*root, name);
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        return std::nullopt;
    return file;
}

} // namespace tarv
