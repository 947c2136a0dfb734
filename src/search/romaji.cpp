#include "search/searchtext.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace tarv {

namespace {

using Syllables = std::unordered_map<std::u16string_view, std::u16string_view>;

// Hepburn and kunrei spellings, and those the kana keyboards of phones and PCs take.
const Syllables& syllables()
{
    static const Syllables table{
        {u"a", u"あ"},     {u"i", u"い"},     {u"u", u"う"},     {u"e", u"え"},     {u"o", u"お"},
        {u"ka", u"か"},    {u"ki", u"き"},    {u"ku", u"く"},    {u"ke", u"け"},    {u"ko", u"こ"},
        {u"kya", u"きゃ"}, {u"kyu", u"きゅ"}, {u"kyo", u"きょ"}, {u"ga", u"が"},    {u"gi", u"ぎ"},
        {u"gu", u"ぐ"},    {u"ge", u"げ"},    {u"go", u"ご"},    {u"gya", u"ぎゃ"}, {u"gyu", u"ぎゅ"},
        {u"gyo", u"ぎょ"}, {u"sa", u"さ"},    {u"si", u"し"},    {u"shi", u"し"},   {u"su", u"す"},
        {u"se", u"せ"},    {u"so", u"そ"},    {u"sha", u"しゃ"}, {u"shu", u"しゅ"}, {u"she", u"しぇ"},
        {u"sho", u"しょ"}, {u"sya", u"しゃ"}, {u"syu", u"しゅ"}, {u"syo", u"しょ"}, {u"za", u"ざ"},
        {u"zi", u"じ"},    {u"zu", u"ず"},    {u"ze", u"ぜ"},    {u"zo", u"ぞ"},    {u"zya", u"じゃ"},
        {u"zyu", u"じゅ"}, {u"zyo", u"じょ"}, {u"ja", u"じゃ"},  {u"ji", u"じ"},    {u"ju", u"じゅ"},
        {u"je", u"じぇ"},  {u"jo", u"じょ"},  {u"jya", u"じゃ"}, {u"jyu", u"じゅ"}, {u"jyo", u"じょ"},
        {u"ta", u"た"},    {u"ti", u"ち"},    {u"chi", u"ち"},   {u"tu", u"つ"},    {u"tsu", u"つ"},
        {u"te", u"て"},    {u"to", u"と"},    {u"tya", u"ちゃ"}, {u"tyu", u"ちゅ"}, {u"tyo", u"ちょ"},
        {u"cha", u"ちゃ"}, {u"chu", u"ちゅ"}, {u"che", u"ちぇ"}, {u"cho", u"ちょ"}, {u"da", u"だ"},
        {u"di", u"ぢ"},    {u"du", u"づ"},    {u"de", u"で"},    {u"do", u"ど"},    {u"dya", u"ぢゃ"},
        {u"dyu", u"ぢゅ"}, {u"dyo", u"ぢょ"}, {u"na", u"な"},    {u"ni", u"に"},    {u"nu", u"ぬ"},
        {u"ne", u"ね"},    {u"no", u"の"},    {u"nya", u"にゃ"}, {u"nyu", u"にゅ"}, {u"nyo", u"にょ"},
        {u"ha", u"は"},    {u"hi", u"ひ"},    {u"hu", u"ふ"},    {u"fu", u"ふ"},    {u"he", u"へ"},
        {u"ho", u"ほ"},    {u"hya", u"ひゃ"}, {u"hyu", u"ひゅ"}, {u"hyo", u"ひょ"}, {u"fa", u"ふぁ"},
        {u"fi", u"ふぃ"},  {u"fe", u"ふぇ"},  {u"fo", u"ふぉ"},  {u"ba", u"ば"},    {u"bi", u"び"},
        {u"bu", u"ぶ"},    {u"be", u"べ"},    {u"bo", u"ぼ"},    {u"bya", u"びゃ"}, {u"byu", u"びゅ"},
        {u"byo", u"びょ"}, {u"pa", u"ぱ"},    {u"pi", u"ぴ"},    {u"pu", u"ぷ"},    {u"pe", u"ぺ"},
        {u"po", u"ぽ"},    {u"pya", u"ぴゃ"}, {u"pyu", u"ぴゅ"}, {u"pyo", u"ぴょ"}, {u"ma", u"ま"},
        {u"mi", u"み"},    {u"mu", u"む"},    {u"me", u"め"},    {u"mo", u"も"},    {u"mya", u"みゃ"},
        {u"myu", u"みゅ"}, {u"myo", u"みょ"}, {u"ya", u"や"},    {u"yu", u"ゆ"},    {u"yo", u"よ"},
        {u"ra", u"ら"},    {u"ri", u"り"},    {u"ru", u"る"},    {u"re", u"れ"},    {u"ro", u"ろ"},
        {u"rya", u"りゃ"}, {u"ryu", u"りゅ"}, {u"ryo", u"りょ"}, {u"wa", u"わ"},    {u"wi", u"うぃ"},
        {u"we", u"うぇ"},  {u"wo", u"を"},    {u"va", u"ゔぁ"},  {u"vi", u"ゔぃ"},  {u"vu", u"ゔ"},
        {u"ve", u"ゔぇ"},  {u"vo", u"ゔぉ"},
    };
    return table;
}

constexpr qsizetype LongestSyllable = 3;

bool isLatin(char16_t c)
{
    return c >= u'a' && c <= u'z';
}

bool isVowel(char16_t c)
{
    return c == u'a' || c == u'i' || c == u'u' || c == u'e' || c == u'o';
}

// A vowel with a macron or a circumflex, as Hepburn writes a long one (ō, â): the vowel, or 0.
char16_t longVowel(char16_t c)
{
    switch (c) {
    case u'ā':
    case u'â':
        return u'a';
    case u'ī':
    case u'î':
        return u'i';
    case u'ū':
    case u'û':
        return u'u';
    case u'ē':
    case u'ê':
        return u'e';
    case u'ō':
    case u'ô':
        return u'o';
    default:
        return 0;
    }
}

// Whether some syllable begins with these letters.
bool beginsSyllable(std::u16string_view letters)
{
    for (const auto& [romaji, kana] : syllables()) {
        if (romaji.starts_with(letters))
            return true;
    }
    return false;
}

} // namespace

std::optional<QString> kanaFromRomaji(QStringView folded)
{
    // A long vowel with its mark is the vowel and a hyphen, as "tōkyō" is "to-kyo-".
    std::u16string text;
    text.reserve(size_t(folded.size()) * 2);
    for (QChar c : folded) {
        if (const char16_t vowel = longVowel(c.unicode())) {
            text += vowel;
            text += u'-';
        } else {
            text += c.unicode();
        }
    }
    const auto at = [&](size_t i) -> char16_t { return i < text.size() ? text[i] : 0; };
    QString out;
    bool latin = false;
    for (size_t i = 0; i < text.size();) {
        const char16_t c = text[i];
        if (!isLatin(c)) {
            // A hyphen after romaji is a long vowel mark ("ra-men"); an apostrophe ends a syllable ("kan'i").
            const bool afterRomaji = i > 0 && isLatin(text[i - 1]);
            if (c == u'-' && afterRomaji)
                out += u'ー';
            else if (c != u'\'' || !afterRomaji)
                out += QChar(c);
            ++i;
            continue;
        }
        latin = true;
        const char16_t next = at(i + 1);
        // ん: "n" before a consonant, an apostrophe or the end, "nn" (but "nna" is ん and な, as in
        // "onna"), and in Hepburn "m" before b, m and p.
        if (c == u'n' && !isVowel(next) && next != u'y' && i + 1 < text.size()) {
            const bool doubled = next == u'n' && !isVowel(at(i + 2)) && at(i + 2) != u'y';
            out += u'ん';
            i += doubled ? 2 : 1;
            continue;
        }
        if (c == u'm' && (next == u'b' || next == u'm' || next == u'p')) {
            out += u'ん';
            ++i;
            continue;
        }
        // っ: a doubled consonant ("kitte"), or "tch" ("matcha").
        if (!isVowel(c) && c != u'n' && (next == c || (c == u't' && next == u'c' && at(i + 2) == u'h'))) {
            out += u'っ';
            ++i;
            continue;
        }
        size_t length = std::min<size_t>(LongestSyllable, text.size() - i);
        for (; length > 0; --length) {
            if (const auto found = syllables().find(std::u16string_view(text).substr(i, length));
                found != syllables().end()) {
                out += QStringView(found->second);
                break;
            }
        }
        if (length > 0) {
            i += length;
            continue;
        }
        // Not yet a syllable, but the beginning of one at the very end: the guest is still typing.
        size_t rest = i;
        while (rest < text.size() && isLatin(text[rest]))
            ++rest;
        if (rest == text.size() && beginsSyllable(std::u16string_view(text).substr(i)))
            break;
        return std::nullopt;
    }
    if (!latin)
        return std::nullopt;
    return out;
}

} // namespace tarv
