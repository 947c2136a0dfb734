// The guest server over a small application folder made in DIR, with a karaoke session behind it (on
// fake players: サクラ咲く, reserved by 太郎, plays and never ends; every song is 4 minutes long), for
// the browser test: prints "port N" once it listens, and serves until its standard input closes.
// The songs that play are logged in DIR's play log and counted for the phones' history and rankings,
// as karaoke mode does; the names' favourites are kept in DIR/db.
// Lines on its standard input, each answered by "done" and the line once carried out:
//   keypad NNNNNN   the number typed at the stage's keypad
//   next            the song playing ends (the next one starts)
//   restart         the server stops, dropping every connection, and listens again on its port
#include "common/cp932.h"
#include "common/savefile.h"
#include "control/karaokesession.h"
#include "exchange/exchange.h"
#include "history/favourites.h"
#include "history/playhistory.h"
#include "stage/guestdesk.h"
#include "stage/queuerecord.h"
#include "stage/stage.h"
#include "support/fakeclock.h"
#include "support/fakeplayer.h"
#include "web/guestservice.h"
#include "web/hostaccess.h"
#include "web/webserver.h"

#include <QCoreApplication>
#include <QDir>

#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <utility>

using namespace tarv;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: guestpages_fixture DIR\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
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
    QDir().mkpath(paths.srcDir());
    for (const auto& song : songs) {
        if (error.isEmpty())
            error = saveFile(paths.video(QString::number(song.first)), QByteArray("video"));
    }
    if (!error.isEmpty()) {
        std::cerr << error.toStdString() << '\n';
        return 1;
    }

    test::FakePlayer main, second;
    test::FakeClock clock;
    AppState state;
    QueueRecord record(paths.queueRecord());
    GuestDesk desk;
    KaraokeSession session(main, second, state, paths, clock);
    PlayHistory history(paths, clock);
    Favourites favourites(Favourites::file(paths));
    history.setSessionStart(clock.now());
    quint64 playId = 0;
    QObject::connect(&session.stage(), &Stage::songStarted, [&](const Reservation& entry) {
        playId = history.songStarted({entry.number, entry.user, entry.device, entry.keyTempo});
    });
    QObject::connect(&session.stage(), &Stage::songEnded, [&](int seconds, KeyTempo endedAt) {
        if (const quint64 id = std::exchange(playId, 0))
            history.songEnded(id, seconds, endedAt);
    });
    session.setQueueRecord(&record);
    session.setGuestDesk(&desk);
    session.start();
    session.stage().catchUp();
    desk.submit(Cmd::Reserve{SongNumber(100002), QStringLiteral("太郎")});
    session.tmr_webcheck_Timer();
    session.stage().catchUp();
    main.finish(); // the intro ends and サクラ咲く follows
    session.tmr_sf_Timer();
    session.stage().catchUp();

    GuestServiceOptions options;
    options.durationSeconds = [](const SongNumber&) { return std::optional(240.0); };
    GuestService service(paths, std::make_shared<std::atomic<bool>>(true), options);
    service.setQueueRecord(&record);
    service.setGuestDesk(&desk);
    service.setHistory(&history, &favourites);
    HostAccess host(paths);
    host.pin(); // made now and kept in db/hostpin.txt, as the connection window shows it
    service.setHostAccess(&host);
    std::unique_ptr<WebServer> server;
    const auto serve = [&](quint16 port) {
        server = std::make_unique<WebServer>([&](const HttpRequest& request) { return service.handle(request); },
                                             [&] { service.pump(); });
        server->setBackground(isSearch, [&](const HttpRequest& request) { return service.searchDevice(request); });
        return server->start(QStringLiteral("127.0.0.1"), port);
    };
    error = serve(0);
    if (!error.isEmpty()) {
        std::cerr << error.toStdString() << '\n';
        return 1;
    }
    std::cout << "port " << server->port() << std::endl;
    const auto command = [&](const std::string& line) {
        if (line.starts_with("keypad ")) {
            session.entry().setText(QString::fromStdString(line.substr(7)));
            session.entry().DoCommand();
            session.stage().catchUp();
        } else if (line == "next") {
            main.finish();
            session.tmr_sf_Timer();
            session.stage().catchUp();
        } else if (line == "restart") {
            const quint16 port = server->port();
            server.reset();
            if (const QString problem = serve(port); !problem.isEmpty())
                std::cerr << problem.toStdString() << '\n';
        }
        std::cout << "done " << line << std::endl;
    };
    std::thread input([&] {
        std::string line;
        while (std::getline(std::cin, line))
            QMetaObject::invokeMethod(
                &app, [&command, line] { command(line); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    input.join();
    server.reset();
    return 0;
}
