#include "common/webroot.h"

#include "common/cp932.h"
#include "common/fields.h"
#include "common/textfile.h"

namespace tarv {

std::optional<QString> readWebRoot(const AppPaths& paths)
{
    const auto bytes = readFileBytes(paths.webRootFile(), 64 * 1024);
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

} // namespace tarv
