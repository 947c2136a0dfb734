#pragma once

#include "common/apppaths.h"
#include "web/addressreport.h"
#include "web/qrcode.h"
#include "web/webserver.h"

#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarv {

class HostAccess;

// The web address as a QR code, drawn with whole pixels per module so it stays sharp at any size.
class QrCodeView : public QWidget
{
    Q_OBJECT

public:
    explicit QrCodeView(QWidget* parent = nullptr);
    void setText(const QString& text);
    QSize sizeHint() const override { return {220, 220}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QrMatrix m_matrix;
};

// Form6 "接続IP": this PC's addresses, the web address guests open (also as a QR code), copying both,
// and "Send", which publishes the chosen address once per opening of the window. Below them, the host's
// PIN for the host's phone, with a button that makes a new one.
class ConnectionWindow : public QWidget
{
    Q_OBJECT

public:
    // addresses lists the PC's IPv4 addresses (localIpv4Addresses() in the program); guestPort is the
    // port of the guests' web server.
    ConnectionWindow(const AppPaths& paths, const std::function<QStringList()>& addresses,
                     int guestPort = DefaultGuestPort, QWidget* parent = nullptr, HostAccess* host = nullptr);

private:
    void lstIpAddress_Click();
    void cmd_ipcopy_Click();
    void cmd_urlcopy_Click();
    void cmd_Tmpsend_Click();
    void cmd_newpin_Click();
    void showPin();
    void showBox(QMessageBox::Icon icon, const QString& title, const QString& text);
    QString selectedAddress() const;

    AddressPublisher m_publisher;
    int m_guestPort;
    QString m_caption;
    QListWidget* lstIpAddress;
    QLineEdit* txt_web;
    QPushButton* cmd_ipcopy;
    QPushButton* cmd_urlcopy;
    QPushButton* cmd_Tmpsend;
    QrCodeView* m_qr;
    HostAccess* m_host;
    QLabel* lbl_hostpin = nullptr;
    QPushButton* cmd_newpin = nullptr;
};

} // namespace tarv
