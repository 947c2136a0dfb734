#pragma once

#include "common/apppaths.h"
#include "web/guestservice.h"
#include "web/routes.h"

#include <QJsonObject>

#include <atomic>
#include <memory>
#include <optional>

namespace tarv {

class GuestDesk;
class HostAccess;
class QueueRecord;

// The host's phone: its page, the PIN's login, and the host's controls of the room. Every control is a
// typed command of the stage, handed over through the guest desk as a phone's reservation is, so the
// strip shows what the host did. The guests' service hands it the host's routes once the route table
// has checked the host cookie of those that need it.
class HostService
{
public:
    HostService(const AppPaths& paths, HostAccess& access, std::shared_ptr<const std::atomic<bool>> karaokeRunning);

    void setGuestDesk(GuestDesk* desk) { m_desk = desk; }
    void setQueueRecord(QueueRecord* record) { m_record = record; }

    HttpResponse handle(const HttpRequest& request, const Route& route, const QString& device);

private:
    std::optional<HttpResponse> admit(const HttpRequest& request, QJsonObject* body) const;
    HttpResponse login(const HttpRequest& request, const QString& device);
    HttpResponse queue() const;
    HttpResponse remove(quint64 id);
    HttpResponse block(quint64 id);
    // The order of the waiting songs and the closing time, as the operator's menu sets them.
    HttpResponse settings(const QJsonObject& body);
    QJsonObject settingsShown() const;

    AppPaths m_paths;
    HostAccess& m_access;
    std::shared_ptr<const std::atomic<bool>> m_karaokeRunning;
    GuestDesk* m_desk = nullptr;
    QueueRecord* m_record = nullptr;
};

} // namespace tarv
