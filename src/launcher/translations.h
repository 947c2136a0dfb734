#pragma once

class QTranslator;

namespace tarv {

// Qt's own texts (the buttons of message and input boxes: OK / キャンセル / はい / いいえ) in Japanese,
// like the rest of the interface, whatever the desktop's language. Returns the translator installed
// (owned by the application), or nullptr when Qt's Japanese translation (Debian's
// qt6-translations-l10n) is missing; the English texts stay then.
QTranslator* installJapaneseTranslations();

} // namespace tarv
