#pragma once

#include "common/apppaths.h"
#include "common/cp932.h"
#include "common/operatorlog.h"
#include "common/operatorprompts.h"
#include "library/songlist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <utility>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace tarv::test {

// Answers the library's questions from a script and records what was asked and shown.
class ScriptedPrompts : public OperatorPrompts
{
public:
    struct Question
    {
        QString prompt;
        QString title;
        QString defaultAnswer;
    };

    QStringList answers;       // input box answers in order; none left means Cancel
    QList<bool> confirmations; // Yes/No answers in order; none left means Yes
    QList<Question> questions;
    QStringList confirmTexts;
    QStringList messages;

    QString input(const QString& prompt, const QString& title, const QString& defaultAnswer) override
    {
        questions.append({prompt, title, defaultAnswer});
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    bool confirm(const QString& text, const QString&, MessageIcon) override
    {
        confirmTexts << text;
        return confirmations.isEmpty() ? true : confirmations.takeFirst();
    }
    void message(const QString& text, const QString&, MessageIcon) override { messages << text; }
};

// An application folder with db/, db/bu/ and src/ in a temporary folder, plus a folder of files to drop.
struct TempLibrary
{
    QTemporaryDir dir;
    AppPaths paths{dir.path() + QStringLiteral("/app")};

    TempLibrary()
    {
        QDir().mkpath(paths.backupDir());
        QDir().mkpath(paths.srcDir());
        QDir().mkpath(dropDir());
    }

    QString dropDir() const { return dir.path() + QStringLiteral("/drop"); }

    void writeList(const QList<std::pair<qint64, QString>>& entries) const
    {
        QList<Song> songs;
        for (const auto& [number, title] : entries)
            songs << Song::fromTitle(number, title);
        writeBytes(paths.songList(), serializeSongList(songs));
    }

    static void writeBytes(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(bytes);
    }

    static QByteArray readBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray listBytes() const { return readBytes(paths.songList()); }

    QList<qint64> listNumbers() const
    {
        QList<qint64> numbers;
        for (const Song& song : loadSongList(paths.songList()).songs)
            numbers << song.number;
        return numbers;
    }

    void writeVideo(const QString& name, qsizetype size = 1000) const
    {
        writeBytes(paths.video(name), QByteArray(size, 'v'));
    }

    // A file to drop; its content names it, so a copy can be traced to its source.
    QString makeSource(const QString& name, qsizetype size = 1000) const
    {
        const QString path = dropDir() + u'/' + name;
        QByteArray content = name.toUtf8();
        content += QByteArray(std::max<qsizetype>(0, size - content.size()), 'x');
        writeBytes(path, content);
        return path;
    }

    QStringList srcFiles() const { return QDir(paths.srcDir()).entryList(QDir::Files, QDir::Name); }
    QStringList backups() const { return QDir(paths.backupDir()).entryList(QDir::Files, QDir::Name); }
};

// The log's lines from the top.
inline QStringList logLines(const OperatorLog& log)
{
    QStringList lines = log.text().split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace tarv::test
