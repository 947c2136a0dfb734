#pragma once

#include <QString>

namespace tarv {

// The display form of a list entry: key, " | ", value ("100001 | 夜明けの歌", "07:30 | 001001").
inline QString displayForm(const QString& key, const QString& value)
{
    return key + QStringLiteral(" | ") + value;
}

} // namespace tarv
