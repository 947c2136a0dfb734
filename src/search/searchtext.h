#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace tarv {

// A text as the song search compares it, the same for a title, a title's reading and what a guest
// types: compatibility forms folded (full-width letters and digits, half-width kana), katakana as
// hiragana, case folded, without spaces, and long vowels written one way, whichever way a guest types
// or leaves them out: without long vowel marks (ー, ～), and without a vowel kana that only lengthens
// the one before it (らあ, とう and とお, けい as ら, と and け).
QString foldForSearch(QStringView text);

// The kana a folded text spells in romaji (Hepburn or kunrei: "sakura", "shinbun" or "shimbun",
// "tokyo", "matcha", "ra-men"), with its kana and other letters as they are, so that it can be
// searched again; nullopt when it holds no latin letters, or letters that are not romaji ("love").
// Letters at its end that are not yet a syllable, as when a guest is still typing, are left out,
// and so is a last "n", which may yet be ん or the beginning of な.
std::optional<QString> kanaFromRomaji(QStringView folded);

} // namespace tarv
