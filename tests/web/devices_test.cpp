// The device cookies' secret in db/, and the bounded tables the limits count in.
#include "common/savefile.h"
#include "common/textfile.h"
#include "support/appfolder.h"
#include "web/devices.h"
#include "web/expiringmap.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarv {
namespace {

using namespace Qt::StringLiterals;

using DeviceCookiesTest = test::AppFolderTest;

TEST_F(DeviceCookiesTest, TheSecretIsMadeOnceKeptPrivateAndSignsWhatItIssued)
{
    const DeviceCookies first(paths);
    EXPECT_EQ(first.verify(QString(DeviceCookies::ValueDigits, u'a')), std::nullopt);
    EXPECT_FALSE(QFile::exists(paths.webSecret())); // until a phone needs it
    const QString value = first.issue();
    ASSERT_EQ(value.size(), DeviceCookies::ValueDigits);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(paths.webSecret()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const QByteArray secret = readFileBytes(paths.webSecret(), 4096).value_or(QByteArray());
    EXPECT_EQ(secret.size(), 65);

    const DeviceCookies restarted(paths); // the phones stay themselves
    EXPECT_FALSE(restarted.secretIsTemporary());
    EXPECT_EQ(restarted.verify(value), value.left(DeviceCookies::IdDigits));
    EXPECT_EQ(readFileBytes(paths.webSecret(), 4096), secret);
    QString tampered = value;
    tampered[DeviceCookies::ValueDigits - 1] = tampered.back() == u'0' ? u'1' : u'0';
    for (const QString& other : {tampered, value.left(DeviceCookies::IdDigits), value.toUpper(), value + u'0'})
        EXPECT_EQ(restarted.verify(other), std::nullopt) << other.toStdString();
}

// A secret file the program cannot use is the operator's: left as it is, and this run's cookies are
// good for this run only.
TEST_F(DeviceCookiesTest, AnUnusableSecretFileIsNeverOverwritten)
{
    for (const QByteArray& content : {"not a secret\n"_ba, QByteArray(64, 'g'), QByteArray(62, 'a')}) {
        ASSERT_TRUE(saveFile(paths.webSecret(), content).isEmpty());
        const DeviceCookies cookies(paths);
        EXPECT_TRUE(cookies.secretIsTemporary());
        const QString value = cookies.issue();
        EXPECT_EQ(cookies.verify(value), value.left(DeviceCookies::IdDigits));
        EXPECT_EQ(DeviceCookies(paths).verify(value), std::nullopt);
        EXPECT_EQ(readFileBytes(paths.webSecret(), 4096), content);
    }
}

TEST(SentDeviceCookies, AreReadInOrderAndBounded)
{
    EXPECT_EQ(sentDeviceCookies("a=1; tarv_device=x ;tarv_device=y; tarv_devices=z"), (QStringList{u"x"_s, u"y"_s}));
    EXPECT_EQ(sentDeviceCookies("tarv_device=" + std::string(5000, 'a')).value(0).size(),
              DeviceCookies::ValueDigits + 1);
    EXPECT_EQ(sentDeviceCookies(std::string(100, ';') + "tarv_device=" + std::string(100, 'a')).size(), 1);
}

// A sliding window per key; the table forgets the key quiet longest, and keys quiet for the window.
TEST(SlidingLimit, CountsTheWindowAndForgetsQuietKeys)
{
    SlidingLimit limit(1000, 2);
    limit.add(u"a"_s, 0);
    limit.add(u"a"_s, 100);
    EXPECT_EQ(limit.waitMs(u"a"_s, 2, 200), 800);
    EXPECT_EQ(limit.waitMs(u"a"_s, 3, 200), 0);
    EXPECT_EQ(limit.waitMs(u"a"_s, 2, 1000), 0); // the first is a window old
    EXPECT_EQ(limit.waitMs(u"a"_s, 1, 1000), 100);
    limit.add(u"b"_s, 1050);
    limit.add(u"c"_s, 1060); // over capacity: a goes
    EXPECT_EQ(limit.waitMs(u"a"_s, 1, 1070), 0);
    EXPECT_EQ(limit.waitMs(u"b"_s, 1, 1070), 980);

    ExpiringMap<int> map(1000, 10);
    map.touch(u"x"_s, 0) = 1;
    map.touch(u"y"_s, 500) = 2;
    EXPECT_EQ(map.find(u"x"_s, 999) ? *map.find(u"x"_s, 999) : 0, 1);
    EXPECT_EQ(map.find(u"x"_s, 1000), nullptr);
    EXPECT_EQ(map.size(), 1);
    map.touch(u"y"_s, 1400);
    EXPECT_NE(map.find(u"y"_s, 2000), nullptr); // touched again, so kept
}

} // namespace
} // namespace tarv
