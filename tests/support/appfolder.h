#pragma once

#include "common/apppaths.h"
#include "common/savefile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tarv::test {

// A fresh application folder with db/bu/ and a one-song list.
class AppFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(paths.backupDir()));
        ASSERT_TRUE(saveFile(paths.songList(), QByteArray(" 100001 \r\nA\r\n")).isEmpty());
    }
    QTemporaryDir dir;
    AppPaths paths{dir.path()};
};

} // namespace tarv::test
