#include "search/searchtext.h"

namespace tarv {

namespace {

bool isLongVowelMark(char16_t c)
{
    // ー, and the wave dashes a long vowel is often typed with: 〜 and ～ (NFKC makes ～ a ~).
    return c == u'\u30FC' || c == u'\u301C' || c == u'~';
}

} // namespace

QString foldForSearch(QStringView text)
{
    const QString folded = text.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString out;
    out.reserve(folded.size());
    for (QChar c : folded) {
        const char16_t u = c.unicode();
        if (c.isSpace() || isLongVowelMark(u))
            continue;
        // Katakana ァ..ヶ sit 0x60 above their hiragana.
        out += (u >= 0x30A1 && u <= 0x30F6) ? QChar(char16_t(u - 0x60)) : c;
    }
    return out;
}

} // namespace tarv
