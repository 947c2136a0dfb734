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
        out[size++] = QChar(u);
    }
    out.truncate(size);
    return out;
}

} // namespace tarv
