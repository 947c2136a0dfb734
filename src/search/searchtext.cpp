#include "search/searchtext.h"

#include <algorithm>

namespace tarv {

namespace {

bool isLongVowelMark(char16_t c)
{
    // ー, and the wave dashes a long vowel is often typed with: 〜 and ～ (NFKC makes ～ a ~).
    return c == u'\u30FC' || c == u'\u301C' || c == u'~';
}

// Printable ASCII, hiragana, katakana and the common kanji: what most titles are made of, and all
// the same in compatibility normal form.
bool isNormal(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x20 && u < 0x7F) || (u >= 0x3041 && u <= 0x3096) || (u >= 0x30A1 && u <= 0x30FC) ||
           (u >= 0x4E00 && u <= 0x9FFF);
}

// The vowel each hiragana from ぁ (U+3041) to ゖ (U+3096) ends in; '-' for っ and ん.
constexpr char16_t FirstKana = 0x3041;
constexpr char HiraganaVowels[] = "aaiiuueeoo"      // ぁ..お
                                  "aaiiuueeoo"      // か..ご
                                  "aaiiuueeoo"      // さ..ぞ
                                  "aaii-uueeoo"     // た..ど, with っ
                                  "aiueo"           // な..の
                                  "aaaiiiuuueeeooo" // は..ぽ
                                  "aiueo"           // ま..も
                                  "aauuoo"          // ゃ..よ
                                  "aiueo"           // ら..ろ
                                  "aaieo-"          // ゎ..ん
                                  "uae";            // ゔ, ゕ, ゖ
static_assert(sizeof HiraganaVowels - 1 == 0x3096 - FirstKana + 1);

char vowelOf(char16_t kana)
{
    return kana >= FirstKana && kana <= 0x3096 ? HiraganaVowels[kana - FirstKana] : 0;
}

// A vowel kana after one ending in the same vowel, う after the o row or い after the e row: the
// way a long vowel is written in kana, which guests also write with ー or leave out.
bool lengthens(char16_t previous, char16_t kana)
{
    const char before = vowelOf(previous);
    switch (kana) {
    case u'あ':
        return before == 'a';
    case u'い':
        return before == 'i' || before == 'e';
    case u'う':
        return before == 'u' || before == 'o';
    case u'え':
        return before == 'e';
    case u'お':
        return before == 'o';
    default:
        return false;
    }
}

} // namespace

QString foldForSearch(QStringView text)
{
    // Normalising is most of the cost of indexing a large list, so a text that needs none skips it.
    QString normalized;
    if (!std::all_of(text.begin(), text.end(), isNormal)) {
        normalized = text.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
        text = normalized;
    }
    QString out(text.size(), Qt::Uninitialized);
    qsizetype size = 0;
    for (QChar c : text) {
        char16_t u = c.unicode();
        if (c.isSpace() || isLongVowelMark(u))
            continue;
        if (u >= u'A' && u <= u'Z')
            u += u'a' - u'A';
        else if (u >= 0x30A1 && u <= 0x30F6)
            u -= 0x60; // katakana ァ..ヶ sit 0x60 above their hiragana
        if (size > 0 && lengthens(out[size - 1].unicode(), u))
            continue;
        out[size++] = QChar(u);
    }
    out.truncate(size);
    return out;
}

} // namespace tarv
