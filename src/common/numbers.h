#pragma once

#include <QString>
#include <QStringView>

namespace tarv {

// Lenient numeric value of a text: blanks are ignored, the leading number counts
// (an optional sign, digits, one decimal point), text that does not begin with a number is 0.
double leadingNumber(QStringView text);

// True when the text, blanks aside, begins with a digit (or a sign or point followed by one).
bool beginsWithNumber(QStringView text);

// The shortest plain decimal text of a value: whole values without a decimal point or
// separators ("100001", "-1"), others in their shortest round-trip form ("0.5", "73.5").
QString decimalText(double value);

} // namespace tarv
