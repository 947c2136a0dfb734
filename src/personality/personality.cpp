#include "personality/personality.h"

#include <array>

namespace tarv {
namespace {

struct Personality
{
    const char16_t* name;
    std::initializer_list<const char16_t*> lines;
};

const std::array<Personality, 5>& personalities()
{
    static const std::array<Personality, 5> all{{
        {u"デフォルト", {u"特に何かあるわけではない"}},
        {u"ツンデレ", {u"選曲時に何か文句言ってきたりする。", u"信頼度によって変わるはず。"}},
        {u"ヤンデレ", {u"選曲時に無理な楽曲を選ばせるときがある。", u"信頼度によって変わるはず。"}},
        {u"⑨", {u"選曲時に間違えたりする。", u"信頼度によっても変わりません。", u"バカはしなないと直りません"}},
        {u"ドジっ娘", {u"選曲時に前後の数字を間違えたりします。", u"楽曲数が多ければ間違えやすくなります。"}},
    }};
    return all;
}

} // namespace

QStringList personalityNames()
{
    QStringList names;
    for (const Personality& p : personalities())
        names << QString::fromUtf16(p.name);
    return names;
}

std::optional<QString> personalityDescription(const QString& name)
{
    for (const Personality& p : personalities()) {
        if (name != QString::fromUtf16(p.name))
            continue;
        QString text = QStringLiteral(" - ") + name + QStringLiteral(" - \r\n");
        for (const char16_t* line : p.lines)
            text += QStringLiteral("\r\n") + QString::fromUtf16(line);
        return text;
    }
    return std::nullopt;
}

} // namespace tarv
