// The guest server over a small application folder made in DIR, for the browser test: prints
// "port N" once it listens, and serves until its standard input closes.
#include "common/cp932.h"
#include "common/savefile.h"
#include "exchange/exchange.h"
#include "web/guestservice.h"
#include "web/webserver.h"

#include <QDir>

#include <cstdio>
#include <iostream>

using namespace tarv;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: guestpages_fixture DIR\n";
        return 2;
    }
    const AppPaths paths(QString::fromLocal8Bit(argv[1]));
    const QString webRoot = paths.file(QStringLiteral("www"));
    QDir().mkpath(paths.dbDir());
    QDir().mkpath(webRoot + QStringLiteral("/cgi-bin/tarv"));
    QString error = saveFile(paths.webRootFile(), encodeCp932(webRoot) + "\r\n");
    const QList<std::pair<int, QString>> songs{{100001, QStringLiteral("さくら")},
                                               {100002, QStringLiteral("サクラ咲く")},
                                               {100003, QStringLiteral("<img src=x onerror=window.hacked=1>")},
                                               {100004, QStringLiteral("夜明けの歌")}};
    QByteArray list;
    for (const auto& [number, title] : songs)
        list += ' ' + QByteArray::number(number) + " \r\n" + encodeCp932(title) + "\r\n";
    if (error.isEmpty())
        error = saveFile(paths.songList(), list);
    if (error.isEmpty()) {
        error = saveFile(
            exchangeFile(webRoot, ExchangeFile::Queue),
            exchangeRecord({"100002", encodeCp932(QStringLiteral("サクラ咲く")), encodeCp932(QStringLiteral("太郎"))}) +
                exchangeRecord(
                    {"100001", encodeCp932(QStringLiteral("さくら")), encodeCp932(QStringLiteral("はなこ"))}));
    }
    if (!error.isEmpty()) {
        std::cerr << error.toStdString() << '\n';
        return 1;
    }

    GuestService service(paths, std::make_shared<std::atomic<bool>>(true));
    WebServer server([&](const HttpRequest& request) { return service.handle(request); }, [&] { service.pump(); });
    error = server.start(QStringLiteral("127.0.0.1"), 0);
    if (!error.isEmpty()) {
        std::cerr << error.toStdString() << '\n';
        return 1;
    }
    std::cout << "port " << server.port() << std::endl;
    while (std::getchar() != EOF) {
    }
    return 0;
}
