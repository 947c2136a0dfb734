#include "support/testsound.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace Qt::StringLiterals;

namespace tarv::test {

QString makeSoundClip(const QString& dir, const QString& name, double seconds, const QStringList& sounds,
                      const QString& lastTitle)
{
    const QString length = QString::number(seconds, 'f', 3);
    QStringList arguments{u"-v"_s, u"error"_s, u"-nostdin"_s, u"-y"_s,
                          u"-f"_s, u"lavfi"_s, u"-i"_s,       u"testsrc=duration=%1:size=64x64:rate=10"_s.arg(length)};
    for (const QString& sound : sounds)
        arguments << u"-f"_s << u"lavfi"_s << u"-i"_s << sound.arg(length);
    arguments << u"-map"_s << u"0:v"_s;
    for (int i = 1; i <= sounds.size(); ++i)
        arguments << u"-map"_s << QString::number(i) + u":a"_s;
    if (!lastTitle.isEmpty())
        arguments << u"-metadata:s:a:%1"_s.arg(sounds.size() - 1) << u"title="_s + lastTitle;
    const QString output = QDir(dir).filePath(name);
    arguments << u"-ac"_s << u"2"_s << u"-ar"_s << QString::number(Rate) << u"-c:v"_s << u"libx264"_s << u"-preset"_s
              << u"ultrafast"_s << u"-c:a"_s << u"aac"_s << u"-b:a"_s << u"192k"_s << u"-t"_s << length << u"-f"_s
              << u"mp4"_s << output;
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(u"ffmpeg"_s, arguments);
    return ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0 ? output : QString();
}

QString tone(int hertz)
{
    return u"sine=frequency=%1:sample_rate=48000:duration="_s.arg(hertz) + u"%1"_s;
}

std::vector<double> readLeftChannel(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const qsizetype data = bytes.indexOf("data");
    std::vector<double> left;
    for (qsizetype at = data + 8; data >= 0 && at + 4 <= bytes.size(); at += 4) {
        qint16 sample;
        std::memcpy(&sample, bytes.constData() + at, 2);
        left.push_back(sample);
    }
    return left;
}

namespace {

// Rising zero crossings, in seconds, interpolated between samples.
std::vector<double> risingCrossings(const std::vector<double>& sound)
{
    std::vector<double> out;
    for (size_t i = 1; i < sound.size(); ++i) {
        if (sound[i - 1] < 0 && sound[i] >= 0)
            out.push_back((double(i - 1) + -sound[i - 1] / (sound[i] - sound[i - 1])) / Rate);
    }
    return out;
}

} // namespace

double frequency(const std::vector<double>& sound, double from, double to)
{
    std::vector<double> crossings = risingCrossings(sound);
    std::erase_if(crossings, [&](double t) { return t < from || t > to; });
    if (crossings.size() < 3)
        return 0;
    return double(crossings.size() - 1) / (crossings.back() - crossings.front());
}

double firstMomentAt(const std::vector<double>& sound, double hertz, double from)
{
    const std::vector<double> crossings = risingCrossings(sound);
    int run = 0;
    for (size_t i = 1; i < crossings.size(); ++i) {
        const bool at =
            crossings[i - 1] >= from && std::abs(1.0 / (crossings[i] - crossings[i - 1]) / hertz - 1) < 0.01;
        run = at ? run + 1 : 0;
        if (run == 20)
            return crossings[i - 20];
    }
    return -1;
}

double semitones(double hertz, int steps)
{
    return hertz * std::pow(2.0, steps / 12.0);
}

} // namespace tarv::test
