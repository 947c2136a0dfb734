#pragma once

#include <QString>
#include <QStringView>

#include <memory>

namespace tarv {

// The reading of a title in katakana, as MeCab with its IPA dictionary gives it (桜並木の約束 →
// サクラナミキノヤクソク): each word's reading, or the word as written when the dictionary has no
// reading for it (latin letters, digits, unknown words). One reader serves one thread at a time.
class TitleReader
{
public:
    // A reader with the system's MeCab dictionary; nullptr (with the reason in *error) without one.
    static std::unique_ptr<TitleReader> create(QString* error);
    ~TitleReader();
    TitleReader(const TitleReader&) = delete;
    TitleReader& operator=(const TitleReader&) = delete;

    QString reading(QStringView title);

private:
    struct Private;
    explicit TitleReader(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace tarv
