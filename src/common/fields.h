#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace tarv {

// Comma-separated fields as the settings and request files hold them: leading blanks are skipped,
// a field that starts with a double quote runs to the closing quote (and may hold commas),
// otherwise a field runs to the next comma or the line end without its trailing blanks.
QStringList readFields(QStringView line);

// The first field of a line ("" for an empty line).
QString firstField(QStringView line);

} // namespace tarv
