// The connection window on the real widgets: addresses, web address, QR code, clipboard, "Send"
// against a report server on the loopback interface.
#include "common/cp932.h"
#include "common/savefile.h"
#include "common/textfile.h"
#include "support/wait.h"
#include "web/connectionwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarv;
using namespace tarv::test;
using namespace Qt::StringLiterals;

namespace {

// Answers every HTTP request with the given body and remembers the request lines.
class ReportServer : public QObject
{
public:
    explicit ReportServer(QByteArray body) : m_body(std::move(body))
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_buffer += socket->readAll();
                if (!m_buffer.contains("\r\n\r\n"))
                    return;
                requests << QString::fromLatin1(m_buffer.left(m_buffer.indexOf("\r\n")));
                m_buffer.clear();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                              QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
                socket->disconnectFromHost();
            });
        });
        server.listen(QHostAddress::LocalHost);
    }
    QTcpServer server;
    QStringList requests;

private:
    QByteArray m_body;
    QByteArray m_buffer;
};

class ConnectionWindowTest : public ::testing::Test
{
protected:
    ConnectionWindowTest()
    {
        QDir().mkpath(paths.dbDir());
        QDir().mkpath(dir.filePath(u"www/cgi-bin/tarv"_s));
        saveFile(paths.webRootFile(), encodeCp932(dir.filePath(u"www"_s)) + "\r\n");
    }

    std::unique_ptr<ConnectionWindow> open(int port = 80)
    {
        auto window = std::make_unique<ConnectionWindow>(
            paths,
            [] {
                return QStringList{u"192.168.0.10"_s, u"10.0.0.5"_s};
            },
            port);
        window->show();
        return window;
    }
    template <typename T> static T* child(QWidget& w, const char* name)
    {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    // The texts of the message boxes the window shows; closes them.
    static QStringList takeBoxes(QWidget& w)
    {
        QStringList texts;
        for (QMessageBox* box : w.findChildren<QMessageBox*>()) {
            texts << box->text();
            box->close();
        }
        QApplication::processEvents();
        return texts;
    }
    // What a phone's scanner reads from the window's QR code.
    QString scanQr(QWidget& w)
    {
        const QString png = dir.filePath(u"qr.png"_s);
        EXPECT_TRUE(child<QWidget>(w, "qr_web")->grab().save(png));
        QProcess zbar;
        zbar.start(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, png});
        zbar.waitForFinished();
        return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
    }
    QString addressFile() const { return dir.filePath(u"www/cgi-bin/tarv/ipset.txt"_s); }
    void setReportHost(const QString& host) { saveFile(paths.file(u"db/reporthost.txt"_s), host.toLatin1() + "\r\n"); }

    QTemporaryDir dir;
    AppPaths paths{dir.path()};
};

} // namespace

TEST_F(ConnectionWindowTest, AddressesWebAddressQrCodeAndClipboard)
{
    auto window = open();
    auto* list = child<QListWidget>(*window, "lstIpAddress");
    auto* web = child<QLineEdit>(*window, "txt_web");
    EXPECT_EQ(window->windowTitle(), u"接続IP"_s);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(web->text(), u"http://192.168.0.10/"_s);
    EXPECT_EQ(scanQr(*window), u"http://192.168.0.10/"_s);

    list->setCurrentRow(1);
    EXPECT_EQ(web->text(), u"http://10.0.0.5/"_s);
    EXPECT_EQ(scanQr(*window), u"http://10.0.0.5/"_s);
    child<QPushButton>(*window, "cmd_ipcopy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"10.0.0.5"_s);

    // The operator's edit is what is copied and shown as the code.
    web->setText(u"http://10.0.0.5/karaoke/"_s);
    child<QPushButton>(*window, "cmd_urlcopy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"http://10.0.0.5/karaoke/"_s);
    EXPECT_EQ(scanQr(*window), u"http://10.0.0.5/karaoke/"_s);

    EXPECT_EQ(child<QLineEdit>(*open(8080), "txt_web")->text(), u"http://192.168.0.10:8080/"_s);
}

TEST_F(ConnectionWindowTest, SendWritesTheAddressFileAndReportsWithoutBlocking)
{
    struct Case
    {
        QByteArray reply;
        QStringList boxes;
    };
    const Case cases[] = {
        {"change:10.0.0.5", {u"Change:10.0.0.5"_s}},
        {"change:10.0.0.5\r\n", {}},
        {"error", {}},
    };
    for (const Case& c : cases) {
        ReportServer server(c.reply);
        setReportHost(u"127.0.0.1:"_s + QString::number(server.server.serverPort()));
        auto window = open();
        child<QListWidget>(*window, "lstIpAddress")->setCurrentRow(1);
        auto* send = child<QPushButton>(*window, "cmd_Tmpsend");
        send->click();
        EXPECT_EQ(window->windowTitle(), u"送信しています..."_s); // the click has returned before the reply
        EXPECT_FALSE(send->isEnabled());
        EXPECT_EQ(readFileBytes(addressFile(), 64 << 20), QByteArray("10.0.0.5"));
        ASSERT_TRUE(waitFor([&] { return window->windowTitle() == u"接続IP"_s; }));
        EXPECT_EQ(server.requests,
                  QStringList{u"GET /cgi-bin/qvo/act.cgi?mode=tarv_ip_change&set_ip=10.0.0.5 HTTP/1.1"_s});
        for (const QMessageBox* box : window->findChildren<QMessageBox*>())
            EXPECT_EQ(box->windowTitle(), u"接続IP"_s) << "titled with the caption, not the sending one";
        EXPECT_EQ(takeBoxes(*window), c.boxes) << c.reply.toStdString();
        EXPECT_FALSE(send->isEnabled()); // once per opening
    }

    // No server listening: nothing is said, the caption comes back.
    quint16 closedPort;
    {
        ReportServer gone("");
        closedPort = gone.server.serverPort();
    }
    setReportHost(u"127.0.0.1:"_s + QString::number(closedPort));
    auto window = open();
    child<QPushButton>(*window, "cmd_Tmpsend")->click();
    ASSERT_TRUE(waitFor([&] { return window->windowTitle() == u"接続IP"_s; }));
    EXPECT_EQ(takeBoxes(*window), QStringList());
    EXPECT_EQ(readFileBytes(addressFile(), 64 << 20), QByteArray("192.168.0.10"));
}

TEST_F(ConnectionWindowTest, WrongWebRootSaysSoAndWritesNothing)
{
    ReportServer server("change:192.168.0.10");
    setReportHost(u"127.0.0.1:"_s + QString::number(server.server.serverPort()));
    saveFile(paths.webRootFile(), encodeCp932(dir.filePath(u"nowhere"_s)) + "\r\n");
    auto window = open();
    child<QPushButton>(*window, "cmd_Tmpsend")->click();
    EXPECT_EQ(takeBoxes(*window), QStringList{u"Pathの設定が正しくありません"_s});
    EXPECT_EQ(window->windowTitle(), u"接続IP"_s);
    QTest::qWait(100);
    EXPECT_TRUE(server.requests.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(addressFile()));
}
