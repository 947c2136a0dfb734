#include "library/songlist.h"
#include "support/appfolder.h"
#include "support/testmedia.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tarv;

TEST(VideoDurations, AreReadOnceAndAgainWhenTheVideoChanges)
{
    QTemporaryDir dir;
    const AppPaths paths(dir.path());
    ASSERT_TRUE(QDir().mkpath(paths.srcDir()));
    ASSERT_FALSE(test::makeTestClip(paths.srcDir(), QStringLiteral("100001"), 2.0).isEmpty());
    ASSERT_TRUE(QFile(paths.video(QStringLiteral("100002"))).open(QIODevice::WriteOnly)); // an empty file

    const VideoDurations durations(paths);
    const auto first = durations.durationSeconds(SongNumber(100001));
    ASSERT_TRUE(first);
    EXPECT_NEAR(*first, 2.0, 0.1);
    EXPECT_EQ(durations.durationSeconds(SongNumber(100002)), std::nullopt);
    EXPECT_EQ(durations.durationSeconds(SongNumber(100003)), std::nullopt); // no video

    ASSERT_TRUE(QFile::remove(paths.video(QStringLiteral("100001"))));
    ASSERT_FALSE(test::makeTestClip(paths.srcDir(), QStringLiteral("100001"), 4.0).isEmpty());
    EXPECT_NEAR(durations.durationSeconds(SongNumber(100001)).value_or(0), 4.0, 0.1);
}
