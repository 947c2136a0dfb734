#include "library/librarylog.h"

namespace tarv {

Q_LOGGING_CATEGORY(lcLibrary, "tarv.library")

void LibraryLog::addLine(const QString& line)
{
    m_text.prepend(line + QStringLiteral("\r\n"));
    ++m_revision;
}

void LibraryLog::addSummaryBlock(const LibraryTotals& totals)
{
    addLine(summaryLine(totals) + QStringLiteral("\r\n") + DropHereLine);
}

} // namespace tarv
