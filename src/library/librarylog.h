#pragma once

#include "library/songlist.h"

#include <QLoggingCategory>
#include <QString>

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcLibrary)

// The library window's log: the newest line on top, lines joined with CR LF. It lives as long as
// the window and is never saved.
class LibraryLog
{
public:
    // Puts a line on top.
    void addLine(const QString& line);

    // Puts the summary line and "File(s) Drop Here!" on top, in one step, the summary line first.
    void addSummaryBlock(const LibraryTotals& totals);

    const QString& text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

    // Changes on every addition, so a window can tell whether to show the text again.
    quint64 revision() const { return m_revision; }

private:
    QString m_text;
    quint64 m_revision = 0;
};

inline const QString DropHereLine = QStringLiteral("File(s) Drop Here!");
inline const QString StartProcessLine = QStringLiteral("--- Start Process ---");
inline const QString CancelLine = QStringLiteral("--- Cancel ---");

} // namespace tarv
