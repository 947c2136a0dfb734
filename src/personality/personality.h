#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tarv {

// The five personalities in list order.
QStringList personalityNames();

// The description shown for a personality: heading, a blank line, then its lines (CR LF between lines).
// nullopt for a name that is none of the five.
std::optional<QString> personalityDescription(const QString& name);

} // namespace tarv
