#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tarv {

// The number lines of the song list, read from their bytes (the song list's own reader and writer use
// these; nothing else should).

// The song number at the start of a number line, read as the lenient reader of numbers reads its
// decoded text; nullopt when the line does not begin with a number or its value has more than ten
// digits.
std::optional<qint64> numberLineValue(QByteArrayView line);

enum class NumberLineForm {
    Written, // " number ", as a rewrite writes it
    Plain,   // blanks, digits and blanks, read as exactly those digits but written otherwise
    Odd,     // anything else read as a number: a rewrite would change it
};
NumberLineForm numberLineForm(QByteArrayView line);

// A line for a message: control characters, a NUL among them, shown as their symbols.
QString visibleLine(QByteArrayView line);

// Writes the number's decimal digits at out and moves out past them.
void appendNumber(char*& out, qint64 number);

} // namespace tarv
