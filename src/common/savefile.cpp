#include "common/savefile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace tarv {
namespace {

void syncFolder(const QString& filePath)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QString saveFile(const QString& path, const std::function<bool(QIODevice&)>& writer)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    if (!writer(file) || file.error() != QFileDevice::NoError) {
        const QString reason =
            file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("write failed");
        file.cancelWriting();
        return QStringLiteral("%1: %2").arg(path, reason);
    }
    if (!file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    syncFolder(path);
    return {};
}

QString saveFile(const QString& path, const QByteArray& content)
{
    return saveFile(path, [&content](QIODevice& device) { return device.write(content) == content.size(); });
}

} // namespace tarv
