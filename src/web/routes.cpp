#include "web/routes.h"

#include <algorithm>
#include <array>

namespace tarv {
namespace {

constexpr std::array Routes{
    Route{"GET", "/", RouteAccess::Guest},
    Route{"GET", "/api/songs", RouteAccess::Guest},
    Route{"GET", "/api/queue", RouteAccess::Guest},
    Route{"GET", "/api/keytempo", RouteAccess::Guest},
    Route{"GET", "/api/live", RouteAccess::Guest}, // a WebSocket: the phone's queue at every change
    Route{"POST", "/api/reserve", RouteAccess::Guest},
    Route{"POST", "/api/login", RouteAccess::Guest},
    Route{"POST", "/api/cancel", RouteAccess::Guest},
    Route{"POST", "/api/hold", RouteAccess::Guest}, // "あとで歌う" and "戻る" of one's own song
    // The room's memory: the phone's and its name's songs, the rankings, new songs, songs by first sound.
    Route{"GET", "/api/history", RouteAccess::Guest},
    Route{"GET", "/api/ranking", RouteAccess::Guest},
    Route{"GET", "/api/new", RouteAccess::Guest},
    Route{"GET", "/api/initial", RouteAccess::Guest},
    Route{"GET", "/api/favourites", RouteAccess::Guest},
    Route{"POST", "/api/favourite", RouteAccess::Guest},
    // The host's page is the login form until the PIN is given; logging in is open to every phone.
    Route{"GET", "/host", RouteAccess::Guest},
    Route{"POST", "/api/host/login", RouteAccess::Guest},
    Route{"GET", "/api/host/queue", RouteAccess::Host},
    Route{"POST", "/api/host/stop", RouteAccess::Host},
    Route{"POST", "/api/host/skip", RouteAccess::Host},
    Route{"POST", "/api/host/pause", RouteAccess::Host},
    Route{"POST", "/api/host/again", RouteAccess::Host},
    Route{"POST", "/api/host/volume", RouteAccess::Host},
    Route{"POST", "/api/host/move", RouteAccess::Host},
    Route{"POST", "/api/host/remove", RouteAccess::Host},
    Route{"POST", "/api/host/block", RouteAccess::Host},
    Route{"POST", "/api/host/settings", RouteAccess::Host},
};

} // namespace

std::span<const Route> routeTable()
{
    return Routes;
}

const Route* findRoute(std::string_view path)
{
    const auto found = std::find_if(Routes.begin(), Routes.end(), [path](const Route& r) { return r.path == path; });
    return found == Routes.end() ? nullptr : &*found;
}

} // namespace tarv
