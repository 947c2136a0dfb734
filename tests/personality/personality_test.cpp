#include "personality/personality.h"
#include "personality/personalitywindow.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace tarv;

TEST(Personality, DescriptionsHaveHeadingBlankLineAndLines)
{
    EXPECT_EQ(personalityNames(),
              (QStringList{QStringLiteral("デフォルト"), QStringLiteral("ツンデレ"), QStringLiteral("ヤンデレ"),
                           QStringLiteral("⑨"), QStringLiteral("ドジっ娘")}));
    const QStringList nine = personalityDescription(QStringLiteral("⑨")).value().split(QStringLiteral("\r\n"));
    EXPECT_EQ(nine, (QStringList{QStringLiteral(" - ⑨ - "), QString(), QStringLiteral("選曲時に間違えたりする。"),
                                 QStringLiteral("信頼度によっても変わりません。"),
                                 QStringLiteral("バカはしなないと直りません")}));
    EXPECT_EQ(personalityDescription(QStringLiteral("デフォルト")).value(),
              QStringLiteral(" - デフォルト - \r\n\r\n特に何かあるわけではない"));
    EXPECT_FALSE(personalityDescription(QStringLiteral("9")).has_value());
}

TEST(PersonalityWindow, ClickShowsTheDescriptionAndReopeningStartsAfresh)
{
    for (int round = 0; round < 2; ++round) {
        PersonalityWindow window;
        window.show();
        auto* list = window.findChild<QListWidget*>(QStringLiteral("lst_chara_all"));
        auto* info = window.findChild<QLabel*>(QStringLiteral("lbl_info"));
        ASSERT_TRUE(list && info);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("性格設定"));
        EXPECT_EQ(list->count(), 5);
        EXPECT_EQ(list->currentRow(), -1);
        EXPECT_EQ(info->text(), QStringLiteral("説明書"));

        QListWidgetItem* nine = list->item(3);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(nine).center());
        EXPECT_TRUE(info->text().endsWith(QStringLiteral("\nバカはしなないと直りません")));
        EXPECT_TRUE(info->text().startsWith(QStringLiteral(" - ⑨ - \n\n")));
    }
}
