#include "common/filecopy.h"

#include "common/savefile.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

namespace tarv {

QString copyFileSafely(const QString& source, const QString& destination, bool* sourceFault)
{
    bool unreadable = false;
    if (!sourceFault)
        sourceFault = &unreadable;
    *sourceFault = false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *sourceFault = true;
        return in.errorString();
    }
    QString readError;
    const QString error = saveFile(destination, [&in, &readError](QIODevice& out) {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const qint64 got = in.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                readError = in.errorString();
                return false;
            }
            if (got == 0)
                return true;
            if (out.write(buffer.data(), got) != got)
                return false;
        }
    });
    if (!readError.isEmpty()) {
        *sourceFault = true;
        return readError;
    }
    return error;
}

std::optional<QString> uncopyableReason(const QString& path, const QString& folderReason)
{
    const QFileInfo info(path);
    if (info.isDir())
        return folderReason;
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (!info.isFile())
        return QStringLiteral("通常のファイルではありません");
    if (!info.isReadable())
        return QStringLiteral("読み込めません");
    return std::nullopt;
}

} // namespace tarv
