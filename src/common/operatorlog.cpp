#include "common/operatorlog.h"

namespace tarv {

void OperatorLog::addLine(const QString& line)
{
    m_text.prepend(line + QStringLiteral("\r\n"));
}

void OperatorLog::addSummaryBlock(const QString& summaryLine)
{
    addLine(summaryLine + QStringLiteral("\r\n") + DropHereLine);
}

} // namespace tarv
