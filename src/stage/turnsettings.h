#pragma once

#include "common/apppaths.h"
#include "stage/turnorder.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

namespace tarv {

// The order of the waiting songs, in db/queueorder.txt: its first line is "fifo" or "rotation".
// A missing or unreadable file, or any other line, is Fifo; reading never writes the file.
QueueOrder readQueueOrder(const AppPaths& paths);
QueueOrder queueOrderFromContent(const QByteArray& content);
// Replaces the file atomically. Returns why it could not be written, otherwise an empty text.
QString saveQueueOrder(const AppPaths& paths, QueueOrder order);

// The closing time, in db/closing.txt: its first line is "hh:mm", or "none" for no closing time.
// A missing or unreadable file, or any other line, is no closing time.
std::optional<QTime> readClosingTime(const AppPaths& paths);
std::optional<QTime> closingTimeFromContent(const QByteArray& content);
QString saveClosingTime(const AppPaths& paths, std::optional<QTime> closing);

// How long before closing the phones and the next singer's card count the minutes down.
inline constexpr int ClosingNoticeMinutes = 15;
inline const QString ClosingRefusalText = QStringLiteral("閉店時刻までに歌い終わらないため予約できません");
// "閉店まであと N 分".
QString closingNoticeText(int minutes);

// The closing that the party of now runs to: the closing time's next moment, or the last one while
// it passed less than 6 hours ago (a party past its closing is still closed, also after midnight).
QDateTime closingMoment(const QDateTime& now, QTime closing);
// The minutes left before closing, rounded up, from ClosingNoticeMinutes before it; none earlier,
// from closing on, and without a closing time.
std::optional<int> minutesToClosing(const QDateTime& now, std::optional<QTime> closing);
// Whether a phone's reservation is refused because, by the wait estimate, its song would end after
// closing (songEnd: when it would end; none when the estimate does not know). Past closing every
// reservation is refused; an unknown end before closing is not.
bool endsAfterClosing(const QDateTime& now, std::optional<QTime> closing, const std::optional<QDateTime>& songEnd);

} // namespace tarv
