#pragma once

#include <span>
#include <string_view>

namespace tarv {

// Who may use a route: any guest's phone, or the host's phone only (with a valid host cookie).
enum class RouteAccess { Guest, Host };

struct Route
{
    std::string_view method; // "GET" or "POST"
    std::string_view path;
    RouteAccess access;
};

// Every route the guests' server answers, each once. A request for any other path is not found;
// a host route answers nothing without the host cookie, whatever the route does.
std::span<const Route> routeTable();

// The route of a path; nullptr when the server has none.
const Route* findRoute(std::string_view path);

} // namespace tarv
