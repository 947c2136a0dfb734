#include "control/nextsinger.h"

#include "common/keytempo.h"
#include "stage/turnorder.h"

#include <algorithm>

namespace tarv {

QString nextSingerText(const Reservation& next)
{
    if (isAnonymousSinger(next.user))
        return QStringLiteral("次は ") + next.title;
    return QStringLiteral("次は ") + next.user + QStringLiteral("さん　") + next.title;
}

std::optional<double> secondsLeft(double position, double duration, int tempo)
{
    if (duration < 0)
        return std::nullopt;
    return std::max(0.0, duration - position) * 100.0 / (100 + KeyTempo::clampTempo(tempo));
}

} // namespace tarv
