#include "library/entryrules.h"

#include "common/operatorlog.h"
#include "common/operatorprompts.h"
#include "library/songlist.h"

namespace tarv {

std::optional<qint64> parseSongNumber(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 12)
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < FirstSongNumber || value > LastSongNumber)
        return std::nullopt;
    return value;
}

QString badSongNumberMessage(const QString& typed)
{
    return QStringLiteral("「%1」は曲番号にできません。\r\n曲番号は %2 から %3 までの数字で入力してください。")
        .arg(typed, QString::number(FirstSongNumber), QString::number(LastSongNumber));
}

std::optional<SongTable> loadSongListForRewrite(const QString& path, QString* error)
{
    QString readError;
    const auto list = sharedSongTable(path, &readError);
    if (!list) {
        *error = QStringLiteral("曲目リストを読み込めません: ") + readError;
        return std::nullopt;
    }
    const QStringList warnings = list->warnings() + list->oddNumberLines();
    if (!warnings.isEmpty()) {
        *error = QStringLiteral("曲目リストに読めない行があり、書き換えると失われるか変わるので変更しません。"
                                "曲目リストを直してください: ") +
                 warnings.constFirst();
        if (warnings.size() > 1)
            *error += QStringLiteral("（ほか%1件）").arg(warnings.size() - 1);
        return std::nullopt;
    }
    return *list;
}

void backUpAfterChange(const AppPaths& paths, const QDateTime& now, OperatorLog& log, OperatorPrompts& prompts)
{
    const QString error = backupSongList(paths, now);
    if (error.isEmpty())
        return;
    log.addLine(QStringLiteral("--- Error: バックアップできません: %1 ---").arg(error));
    prompts.message(QStringLiteral("曲目リストのバックアップができません。\r\n") + error, QStringLiteral("エラー"),
                    MessageIcon::Critical);
}

} // namespace tarv
