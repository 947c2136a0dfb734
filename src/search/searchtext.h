#pragma once

#include <QString>
#include <QStringView>

namespace tarv {

// A text as the song search compares it, the same for a title, a title's reading and what a guest
// types: compatibility forms folded (full-width letters and digits, half-width kana), katakana as
// hiragana, case folded, without spaces and without long vowel marks (ー, ～), which guests type or
// leave out at will.
QString foldForSearch(QStringView text);

} // namespace tarv
