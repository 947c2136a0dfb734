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
// Appends the decoded bytes to out, as decodeCp932() decodes them.
void appendCp932(QString& out, QByteArrayView bytes);
// The same decoding done by iconv alone; decodeCp932() takes a table of iconv's answers for speed
// and falls back to this for bad input.
QString decodeCp932WithIconv(QByteArrayView bytes);
QByteArray encodeCp932(QStringView text);

// True when every character of the text has a CP932 form, that is when encodeCp932() writes no "?"
// for it. Lone surrogates and tag characters have none.
bool encodableInCp932(QStringView text);

} // namespace tarv
