#include "stage/turnsettings.h"

#include "common/textfile.h"
#include "support/appfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace tarv;
using namespace tarv::test;

TEST(TurnSettings, ReadTheFirstLineOnly)
{
    const struct
    {
        QByteArray content;
        QueueOrder order;
    } orders[] = {
        {"fifo\r\n", QueueOrder::Fifo},
        {"rotation\r\n", QueueOrder::Rotation},
        {"rotation", QueueOrder::Rotation},
        {" rotation \n", QueueOrder::Rotation},
        {"\xEF\xBB\xBFrotation\r\n", QueueOrder::Rotation},
        {"Rotation\r\n", QueueOrder::Fifo},
        {"rotations\r\n", QueueOrder::Fifo},
        {"fifo\r\nrotation\r\n", QueueOrder::Fifo},
        {"\r\nrotation\r\n", QueueOrder::Fifo},
        {"", QueueOrder::Fifo},
    };
    for (const auto& row : orders)
        EXPECT_EQ(queueOrderFromContent(row.content), row.order) << row.content.toStdString();

    const struct
    {
        QByteArray content;
        std::optional<QTime> closing;
    } closings[] = {
        {"23:30\r\n", QTime(23, 30)}, {"1:00", QTime(1, 0)},   {" 00:00 \n", QTime(0, 0)}, {"none\r\n", std::nullopt},
        {"", std::nullopt},           {"24:00", std::nullopt}, {"23:60", std::nullopt},    {"23:3", std::nullopt},
        {"2330", std::nullopt},       {"-1:00", std::nullopt}, {"ab:cd", std::nullopt},    {"123:00", std::nullopt},
    };
    for (const auto& row : closings)
        EXPECT_EQ(closingTimeFromContent(row.content), row.closing) << row.content.toStdString();
}

class TurnSettingsFiles : public AppFolderTest
{
};

TEST_F(TurnSettingsFiles, AreSavedAndReadBack)
{
    EXPECT_EQ(readQueueOrder(paths), QueueOrder::Fifo);
    EXPECT_EQ(readClosingTime(paths), std::nullopt);

    ASSERT_EQ(saveQueueOrder(paths, QueueOrder::Rotation), QString());
    ASSERT_EQ(saveClosingTime(paths, QTime(1, 5)), QString());
    EXPECT_EQ(readFileBytes(paths.queueOrderFile(), 100), QByteArray("rotation\r\n"));
    EXPECT_EQ(readFileBytes(paths.closingTimeFile(), 100), QByteArray("01:05\r\n"));
    EXPECT_EQ(readQueueOrder(paths), QueueOrder::Rotation);
    EXPECT_EQ(readClosingTime(paths), QTime(1, 5));

    ASSERT_EQ(saveQueueOrder(paths, QueueOrder::Fifo), QString());
    ASSERT_EQ(saveClosingTime(paths, std::nullopt), QString());
    EXPECT_EQ(readFileBytes(paths.closingTimeFile(), 100), QByteArray("none\r\n"));
    EXPECT_EQ(readQueueOrder(paths), QueueOrder::Fifo);
    EXPECT_EQ(readClosingTime(paths), std::nullopt);
}

TEST_F(TurnSettingsFiles, AnUnreadableFileIsFifoAndStaysAsItIs)
{
    const QByteArray tooLong = "rotation\r\n" + QByteArray(8 * 1024, ' ');
    QFile file(paths.queueOrderFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tooLong);
    file.close();
    EXPECT_EQ(readQueueOrder(paths), QueueOrder::Fifo);
    EXPECT_EQ(readFileBytes(paths.queueOrderFile(), 64 * 1024), tooLong);

    ASSERT_TRUE(QDir().mkpath(paths.closingTimeFile()));
    EXPECT_EQ(readClosingTime(paths), std::nullopt);
    EXPECT_TRUE(QFileInfo(paths.closingTimeFile()).isDir());
}

TEST(ClosingTime, CountsDownAndRefusesSongsEndingAfterIt)
{
    const QDate day(2024, 3, 1);
    const auto at = [&](int days, const char* time) {
        return QDateTime(day.addDays(days), QTime::fromString(QString::fromLatin1(time), QStringLiteral("HH:mm:ss")));
    };
    const std::optional<QDateTime> unknown;
    const struct
    {
        const char* what;
        std::optional<QTime> closing;
        QDateTime now;
        std::optional<int> minutes;
        std::optional<QDateTime> songEnd;
        bool refused;
    } rows[] = {
        {"an hour before", QTime(22, 0), at(0, "21:00:00"), {}, at(0, "21:59:00"), false},
        {"a song ending after closing", QTime(22, 0), at(0, "21:00:00"), {}, at(0, "22:01:00"), true},
        {"a song ending at closing", QTime(22, 0), at(0, "22:00:00").addSecs(-1), 1, at(0, "22:00:00"), false},
        {"an end the estimate does not know", QTime(22, 0), at(0, "21:50:00"), 10, unknown, false},
        {"just over 15 minutes before", QTime(22, 0), at(0, "21:44:59"), {}, unknown, false},
        {"15 minutes before", QTime(22, 0), at(0, "21:45:00"), 15, unknown, false},
        {"half a minute before", QTime(22, 0), at(0, "21:59:30"), 1, unknown, false},
        {"at closing", QTime(22, 0), at(0, "22:00:00"), {}, unknown, true},
        {"past closing", QTime(22, 0), at(0, "23:30:00"), {}, at(0, "23:35:00"), true},
        {"closing after midnight, before it", QTime(1, 0), at(0, "23:50:00"), {}, at(1, "00:55:00"), false},
        {"closing after midnight, a song past it", QTime(1, 0), at(0, "23:50:00"), {}, at(1, "01:05:00"), true},
        {"closing after midnight, after midnight", QTime(1, 0), at(1, "00:50:00"), 10, at(1, "00:55:00"), false},
        {"closing at midnight", QTime(0, 0), at(0, "23:50:00"), 10, at(1, "00:05:00"), true},
        {"closing after midnight, past it", QTime(1, 0), at(1, "06:59:00"), {}, at(1, "07:03:00"), true},
        {"the next day's closing", QTime(1, 0), at(1, "07:00:00"), {}, at(1, "07:04:00"), false},
        {"no closing time", std::nullopt, at(0, "23:59:00"), {}, at(1, "05:00:00"), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(minutesToClosing(row.now, row.closing), row.minutes) << row.what;
        EXPECT_EQ(endsAfterClosing(row.now, row.closing, row.songEnd), row.refused) << row.what;
    }
    EXPECT_EQ(closingNoticeText(3), QStringLiteral("閉店まであと 3 分"));
}
