#pragma once

#include <QStringView>

namespace tarv {

// The command codes posted to the stage. The code slot holds one of these, a volume step ("1" to
// "10") or a song number to reserve.
namespace Code {
inline constexpr QStringView Start = u"000000";
inline constexpr QStringView CodeError = u"000001";
inline constexpr QStringView Quit = u"000002";
inline constexpr QStringView PlayNext = u"000003";
inline constexpr QStringView Playing = u"000004"; // left in the slot by PlayNext
inline constexpr QStringView NoReservations = u"000005";
inline constexpr QStringView AskStop = u"000006";
inline constexpr QStringView ReviewNext = u"000007"; // also left in the slot by ReviewStart
inline constexpr QStringView CancelReviewed = u"000008";
inline constexpr QStringView Stop = u"000009";
inline constexpr QStringView NewestToFront = u"000010";
inline constexpr QStringView ReviewedToFront = u"000011";
inline constexpr QStringView ReviewStart = u"000012";
inline constexpr QStringView TimeSignal = u"000013";
inline constexpr QStringView FastForward = u"000014";
inline constexpr QStringView AskSingAgain = u"000015";
inline constexpr QStringView SingAgain = u"000016";
inline constexpr QStringView Login = u"000017";
} // namespace Code

} // namespace tarv
