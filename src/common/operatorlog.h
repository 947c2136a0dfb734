#pragma once

#include <QString>

namespace tarv {

// The log of an operator window (the library's, the time signals'): the newest line on top, lines
// joined with CR LF. It lives as long as its window and is never saved.
class OperatorLog
{
public:
    // Puts a line on top.
    void addLine(const QString& line);

    // Puts the summary line and "File(s) Drop Here!" on top, in one step, the summary line first.
    void addSummaryBlock(const QString& summaryLine);

    const QString& text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

private:
    QString m_text;
};

inline const QString DropHereLine = QStringLiteral("File(s) Drop Here!");
inline const QString StartProcessLine = QStringLiteral("--- Start Process ---");
inline const QString CancelLine = QStringLiteral("--- Cancel ---");

} // namespace tarv
