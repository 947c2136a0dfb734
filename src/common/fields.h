#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace tarv {

// Comma-separated fields as the settings and request files hold them: a field ends at a comma or a
// line end (CR LF, LF or CR); leading blanks are skipped; a field that starts with a double quote
// runs to the closing quote (and may hold commas); otherwise a field runs to the next comma or line
// end without its trailing blanks. A line end after the last field adds no empty field.
QStringList readFields(QStringView text);

// The first field of a line ("" for an empty line).
QString firstField(QStringView line);

} // namespace tarv
