#include "web/connectionwindow.h"

#include "common/webroot.h"
#include "dialogs/windows.h"
#include "web/hostaccess.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

namespace tarv {

QrCodeView::QrCodeView(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(120, 120);
}

void QrCodeView::setText(const QString& text)
{
    m_matrix = encodeQr(text.toUtf8());
    update();
}

void QrCodeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_matrix.size == 0)
        return;
    // Four modules of white around the code, as scanners expect.
    const int modules = m_matrix.size + 8;
    const int module = qMax(1, qMin(width(), height()) / modules);
    const int left = (width() - module * m_matrix.size) / 2;
    const int top = (height() - module * m_matrix.size) / 2;
    for (int y = 0; y < m_matrix.size; ++y)
        for (int x = 0; x < m_matrix.size; ++x)
            if (m_matrix.isDark(x, y))
                painter.fillRect(left + x * module, top + y * module, module, module, Qt::black);
}

ConnectionWindow::ConnectionWindow(const AppPaths& paths, const std::function<QStringList()>& addresses, int guestPort,
                                   QWidget* parent, HostAccess* host)
    : QWidget(parent, Qt::Window), m_publisher(paths), m_guestPort(guestPort), m_host(host)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("接続IP"));

    lstIpAddress = new QListWidget(this);
    lstIpAddress->setObjectName(QStringLiteral("lstIpAddress"));
    txt_web = new QLineEdit(QStringLiteral("127.0.0.0"), this);
    txt_web->setObjectName(QStringLiteral("txt_web"));
    cmd_ipcopy = new QPushButton(QStringLiteral("IP > Clipboard"), this);
    cmd_ipcopy->setObjectName(QStringLiteral("cmd_ipcopy"));
    cmd_urlcopy = new QPushButton(QStringLiteral("URL > Clipboard"), this);
    cmd_urlcopy->setObjectName(QStringLiteral("cmd_urlcopy"));
    cmd_Tmpsend = new QPushButton(QStringLiteral("Send"), this);
    cmd_Tmpsend->setObjectName(QStringLiteral("cmd_Tmpsend"));
    m_qr = new QrCodeView(this);
    m_qr->setObjectName(QStringLiteral("qr_web"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("接続："), this), 0, 0, Qt::AlignTop);
    grid->addWidget(lstIpAddress, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Web："), this), 1, 0);
    grid->addWidget(txt_web, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmd_ipcopy);
    buttons->addWidget(cmd_urlcopy);
    buttons->addWidget(cmd_Tmpsend);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->addWidget(m_qr, 0, 2, m_host ? 4 : 3, 1);
    if (m_host) {
        // The host logs in on a phone with it; guests never see it.
        lbl_hostpin = new QLabel(this);
        lbl_hostpin->setObjectName(QStringLiteral("lbl_hostpin"));
        lbl_hostpin->setTextInteractionFlags(Qt::TextSelectableByMouse);
        cmd_newpin = new QPushButton(QStringLiteral("新しいPIN"), this);
        cmd_newpin->setObjectName(QStringLiteral("cmd_newpin"));
        auto* pinRow = new QHBoxLayout;
        pinRow->addWidget(lbl_hostpin, 1);
        pinRow->addWidget(cmd_newpin);
        grid->addWidget(new QLabel(QStringLiteral("ホストPIN："), this), 3, 0);
        grid->addLayout(pinRow, 3, 1);
        connect(cmd_newpin, &QPushButton::clicked, this, &ConnectionWindow::cmd_newpin_Click);
        showPin();
    }
    grid->setColumnStretch(2, 1);
    resize(620, 260);

    connect(lstIpAddress, &QListWidget::currentRowChanged, this, &ConnectionWindow::lstIpAddress_Click);
    connect(txt_web, &QLineEdit::textChanged, m_qr, &QrCodeView::setText);
    connect(cmd_ipcopy, &QPushButton::clicked, this, &ConnectionWindow::cmd_ipcopy_Click);
    connect(cmd_urlcopy, &QPushButton::clicked, this, &ConnectionWindow::cmd_urlcopy_Click);
    connect(cmd_Tmpsend, &QPushButton::clicked, this, &ConnectionWindow::cmd_Tmpsend_Click);
    connect(&m_publisher, &AddressPublisher::reported, this, [this](const QString& address, bool changed) {
        // The caption comes back first: the box is titled with it, not with "送信しています...".
        setWindowTitle(m_caption);
        if (changed)
            showBox(QMessageBox::NoIcon, m_caption, QStringLiteral("Change:") + address);
    });

    // Form_Load
    lstIpAddress->addItems(addresses());
    const bool any = lstIpAddress->count() > 0;
    if (any)
        lstIpAddress->setCurrentRow(0);
    else
        txt_web->clear();
    // With no address there is nothing to copy or publish.
    cmd_ipcopy->setEnabled(any);
    cmd_Tmpsend->setEnabled(any);
}

void ConnectionWindow::showPin()
{
    const QString problem = m_host->problem();
    lbl_hostpin->setText(
        QStringLiteral("<b style=\"font-size:16pt\">%1</b>%2")
            .arg(m_host->pin(), problem.isEmpty() ? QString() : QStringLiteral("<br>") + problem.toHtmlEscaped()));
}

void ConnectionWindow::cmd_newpin_Click()
{
    // Every host phone logged in with the old PIN must log in again.
    m_host->renewPin();
    showPin();
}

QString ConnectionWindow::selectedAddress() const
{
    const QListWidgetItem* item = lstIpAddress->currentItem();
    return item ? item->text() : QString();
}

void ConnectionWindow::lstIpAddress_Click()
{
    txt_web->setText(guestUrl(selectedAddress(), m_guestPort));
}

void ConnectionWindow::cmd_ipcopy_Click()
{
    QGuiApplication::clipboard()->setText(selectedAddress());
}

void ConnectionWindow::cmd_urlcopy_Click()
{
    QGuiApplication::clipboard()->setText(txt_web->text());
}

void ConnectionWindow::cmd_Tmpsend_Click()
{
    // Published once per opening of the window.
    cmd_Tmpsend->setEnabled(false);
    m_caption = windowTitle();
    setWindowTitle(QStringLiteral("送信しています..."));
    switch (m_publisher.publish(selectedAddress())) {
    case AddressPublisher::Start::Reporting:
        return; // finished when the report ends
    case AddressPublisher::Start::Written:
        break;
    case AddressPublisher::Start::PathError:
        showBox(QMessageBox::Critical, QStringLiteral("エラー"), WebRootErrorText);
        break;
    case AddressPublisher::Start::WriteFailed:
        showBox(QMessageBox::Warning, QStringLiteral("エラー"),
                QStringLiteral("アドレスファイルを書き込めません: ") + m_publisher.error());
        break;
    }
    setWindowTitle(m_caption);
}

void ConnectionWindow::showBox(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    showMessage(this, icon, title, text);
}

} // namespace tarv
