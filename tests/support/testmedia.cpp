#include "support/testmedia.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <cstdio>

namespace tarv::test {

QString makeTestClip(const QString& dir, const QString& name, double seconds, const QString& label)
{
    const QString length = QString::number(seconds, 'f', 3);
    const QString output = QDir(dir).filePath(name);
    QStringList arguments{
        QStringLiteral("-v"),       QStringLiteral("error"),
        QStringLiteral("-nostdin"), QStringLiteral("-y"),
        QStringLiteral("-f"),       QStringLiteral("lavfi"),
        QStringLiteral("-i"),       QStringLiteral("testsrc=duration=%1:size=320x180:rate=30").arg(length),
        QStringLiteral("-f"),       QStringLiteral("lavfi"),
        QStringLiteral("-i"),       QStringLiteral("sine=frequency=440:duration=%1").arg(length),
    };

    // The label goes through a file next to the clip, so that no character of it needs escaping
    // in the filter text; ffmpeg runs in that folder and names it without a path.
    const QString labelFile = QStringLiteral(".tarv-clip-label.txt");
    if (!label.isEmpty()) {
        QFile file(QDir(dir).filePath(labelFile));
        if (!file.open(QIODevice::WriteOnly) || file.write(label.toUtf8()) < 0) {
            std::fprintf(stderr, "makeTestClip: cannot write %s\n", qPrintable(file.fileName()));
            return {};
        }
        arguments << QStringLiteral("-vf")
                  << QStringLiteral("drawtext=textfile=%1:font='Noto Sans CJK JP':fontsize=40:fontcolor=white:"
                                    "box=1:boxcolor=black@0.6:x=(w-text_w)/2:y=(h-text_h)/2")
                         .arg(labelFile);
    }
    arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
              << QStringLiteral("ultrafast") << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p")
              << QStringLiteral("-c:a") << QStringLiteral("aac") << QStringLiteral("-shortest") << QStringLiteral("-f")
              << QStringLiteral("mp4") << output;

    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(dir);
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    const bool finished = ffmpeg.waitForFinished(120000);
    if (!label.isEmpty())
        QFile::remove(QDir(dir).filePath(labelFile));
    if (!finished || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "makeTestClip: ffmpeg could not write %s (%s)\n", qPrintable(output),
                     qPrintable(ffmpeg.errorString()));
        if (!finished)
            ffmpeg.kill();
        return {};
    }
    return output;
}

} // namespace tarv::test
