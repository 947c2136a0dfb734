#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace tarv {

// The Japanese ANSI code page of the data files, through glibc's iconv.
// Decoding never fails: a byte sequence that is not CP932 becomes U+FFFD.
// Encoding never fails: a character that CP932 lacks becomes "?".
QString decodeCp932(QByteArrayView bytes);
QByteArray encodeCp932(QStringView text);

// True when every character of the text has a CP932 form, that is when encodeCp932() writes no "?"
// for it. Lone surrogates and tag characters have none.
bool encodableInCp932(QStringView text);

} // namespace tarv
