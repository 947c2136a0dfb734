#include "common/apppaths.h"
#include "control/commandentry.h"
#include "exchange/exchange.h"
#include "launcher/startup.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString guide()
{
    return readText(QStringLiteral(TARV_DOCS_DIR "/guide.md"));
}

} // namespace

TEST(KeypadCard, HoldsEveryCommandOfTheCommandEntry)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString card = dir.filePath(QStringLiteral("keypad-card.html"));
    QProcess keypadcard;
    keypadcard.start(QStringLiteral(TARV_KEYPADCARD), {card});
    ASSERT_TRUE(keypadcard.waitForFinished(10000));
    ASSERT_EQ(keypadcard.exitCode(), 0);

    const QString html = readText(card);
    const QList<tarv::KeypadCommand> commands = tarv::keypadCard();
    ASSERT_FALSE(commands.isEmpty());
    for (const tarv::KeypadCommand& command : commands) {
        EXPECT_TRUE(html.contains(command.keys.toHtmlEscaped())) << command.keys.toStdString();
        EXPECT_TRUE(html.contains(command.meaning.toHtmlEscaped())) << command.meaning.toStdString();
    }
    // The card is for guests: how to fire a time signal or end karaoke mode is the operator's.
    EXPECT_FALSE(html.contains(tarv::Keypad::TimeSignalPrefix.toString() + QStringLiteral("＋")));
    EXPECT_FALSE(html.contains(QStringLiteral("Esc")));
    EXPECT_FALSE(html.contains(QStringLiteral("終了")));
}

TEST(Guide, NamesEveryFileAndFolderOfTheLibrary)
{
    const QString text = guide();
    ASSERT_FALSE(text.isEmpty()) << "docs/guide.md is missing";

    // Everything a first start makes, as the operator finds it in the application folder.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const tarv::AppPaths paths(dir.path());
    ASSERT_FALSE(tarv::prepareApplicationFolder(paths).isEmpty());
    QStringList names;
    QDirIterator it(paths.root(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        names << QDir(paths.root()).relativeFilePath(info.filePath()) +
                     (info.isDir() ? QStringLiteral("/") : QString());
    }
    ASSERT_FALSE(names.isEmpty());

    // The files the program reads beside them.
    const QDir root(paths.root());
    for (const QString& path :
         {paths.songList(), paths.webRootFile(), paths.remoteAddressFile(), paths.introVideo(), paths.queueRecord()})
        names << root.relativeFilePath(path);
    for (const QString& folder : {paths.backupDir(), paths.srcDir()})
        names << root.relativeFilePath(folder) + u'/';
    for (const QStringView name : {tarv::ExchangeFile::Queue, tarv::ExchangeFile::Songs, tarv::ExchangeFile::Request,
                                   tarv::ExchangeFile::Address})
        names << name.toString();

    for (const QString& name : std::as_const(names))
        EXPECT_TRUE(text.contains(name)) << "the guide does not name " << name.toStdString();
}

TEST(Guide, ShowsOnlyScreenshotsTheScriptMakes)
{
    const QString text = guide();
    const QString script = readText(QStringLiteral(TARV_DOCS_DIR "/make-screenshots.sh"));
    ASSERT_FALSE(script.isEmpty()) << "docs/make-screenshots.sh is missing";

    static const QRegularExpression image(QStringLiteral(R"(build/docs/([-\w]+)\.png)"));
    int shown = 0;
    for (const QRegularExpressionMatch& match : image.globalMatch(text)) {
        ++shown;
        const QRegularExpression capture(QStringLiteral("capture(_from_main)? ") +
                                         QRegularExpression::escape(match.captured(1)) + u' ');
        EXPECT_TRUE(script.contains(capture)) << "no shot makes " << match.captured(1).toStdString() << ".png";
    }
    EXPECT_GT(shown, 0);
}
