#pragma once

#include "web/guestservice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>
#include <string>
#include <string_view>

namespace tarv {

// The answers and checks the guests' and the host's routes share.

inline HttpResponse jsonReply(int status, const QJsonObject& object)
{
    return {status,
            "application/json; charset=utf-8",
            QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
            {}};
}

// A refusal in words for the phone to show.
inline HttpResponse failureReply(int status, const QString& message)
{
    return jsonReply(status, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}});
}

inline HttpResponse doneReply(const QString& message)
{
    return jsonReply(200, QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("message"), message}});
}

// The Origin of a cross-site page differs from the host it posts to; a form post from another site
// is stopped here and by the JSON content type.
inline bool sameOrigin(const HttpRequest& request)
{
    if (request.origin.empty())
        return true;
    const QUrl origin(QString::fromStdString(request.origin));
    const QString host = QString::fromStdString(request.host);
    const QString originHost =
        origin.port() < 0 ? origin.host() : origin.host() + u':' + QString::number(origin.port());
    return originHost.compare(host, Qt::CaseInsensitive) == 0;
}

// The value of a cookie in a Cookie header; none when it is not there.
inline std::optional<QString> cookieValue(const std::string& header, std::string_view name)
{
    for (const QString& pair : QString::fromLatin1(header).split(u';')) {
        const QString trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals > 0 && trimmed.left(equals) == QLatin1StringView(name.data(), qsizetype(name.size())))
            return trimmed.mid(equals + 1);
    }
    return std::nullopt;
}

} // namespace tarv
