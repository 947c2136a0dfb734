#include "control/controlwindow.h"

#include "player/playerview.h"
#include "stage/stagewindow.h"
#include "web/connectionwindow.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace tarv {
namespace {

// The command box sits 300 twips above the window (15 twips to a pixel), out of sight.
constexpr int TwipsPerPixel = 15;
constexpr int CommandBoxTopTwips = -300;

const QColor IdleBlue(8, 12, 40);
const QColor CardFrame(0, 255, 255);
const QColor ClosingText(255, 255, 0);

// The side of the guests' invitation in the bottom right corner, and its distance from the edges.
int inviteSide(const QWidget* window)
{
    return std::max(160, std::min(window->width(), window->height()) / 4);
}

QFont cardFont(const QFont& base, int pixels)
{
    QFont font = base;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

} // namespace

// The card that calls the next singer, drawn like the idle picture: white on dark blue in a cyan
// frame, the next song on its first line and the minutes to closing, in yellow, under it.
class NextSingerCardView : public QWidget
{
public:
    explicit NextSingerCardView(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("nextSingerCard"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    const NextSingerCard& card() const { return m_card; }
    void setCard(const NextSingerCard& card)
    {
        m_card = card;
        update();
    }
    QStringList lines() const
    {
        QStringList out;
        for (const QString& line : {m_card.next, m_card.closing}) {
            if (!line.isEmpty())
                out << line;
        }
        return out;
    }
    // Its size for lines in that font, at most maxWidth wide.
    QSize sizeFor(const QFont& font, int maxWidth) const
    {
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QString& line : lines())
            widest = std::max(widest, metrics.horizontalAdvance(line));
        const int pad = font.pixelSize() / 2;
        return {std::min(maxWidth, widest + 4 * pad), int(lines().size()) * metrics.height() + 2 * pad};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), IdleBlue);
        const int frame = std::max(2, font().pixelSize() / 10);
        painter.fillRect(QRect(0, 0, width(), frame), CardFrame);
        painter.fillRect(QRect(0, height() - frame, width(), frame), CardFrame);
        painter.fillRect(QRect(0, 0, frame, height()), CardFrame);
        painter.fillRect(QRect(width() - frame, 0, frame, height()), CardFrame);
        painter.setFont(font());
        const QFontMetrics metrics(font());
        const int pad = font().pixelSize() / 2;
        int top = pad;
        for (const QString& line : lines()) {
            painter.setPen(line == m_card.closing ? ClosingText : QColor(Qt::white));
            const QRect row(2 * pad, top, width() - 4 * pad, metrics.height());
            painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter,
                             metrics.elidedText(line, Qt::ElideRight, row.width()));
            top += metrics.height();
        }
    }

private:
    NextSingerCard m_card;
};

// The idle screen of a library without an intro video (src/000000): the program's name on dark blue,
// and where guests can reserve from their phones, a line that points at the code in the corner.
class IdlePicture : public QWidget
{
public:
    explicit IdlePicture(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("idlePicture"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void setInvitation(bool invite)
    {
        m_invite = invite;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), IdleBlue);
        painter.setPen(Qt::white);
        QFont font = this->font();
        font.setPixelSize(std::max(24, height() / 5));
        font.setBold(true);
        painter.setFont(font);
        // The name and the line below it stay above the invitation's corner (its top is at about 2/3).
        const QRect name(0, height() / 6, width(), height() / 3);
        painter.drawText(name, Qt::AlignCenter, QStringLiteral("Tarv"));
        if (!m_invite)
            return;
        font.setPixelSize(std::max(12, height() / 24));
        font.setBold(false);
        painter.setFont(font);
        painter.drawText(QRect(0, name.bottom(), width(), height() / 10), Qt::AlignCenter,
                         QStringLiteral("スマホで右下のコードを読み取ると、曲を予約できます"));
    }

private:
    bool m_invite = false;
};

ControlWindow::ControlWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Tarv"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    GomX1 = new PlayerView(this);
    GomX1->setObjectName(QStringLiteral("GomX1"));
    m_idlePicture = new IdlePicture(this);
    m_idlePicture->hide();
    GomX2 = new PlayerView(this);
    GomX2->setObjectName(QStringLiteral("GomX2"));
    GomX2->hide();
    m_card = new NextSingerCardView(this);
    m_card->hide();
    for (PlayerView* view : {GomX1, GomX2})
        connect(view, &PlayerView::clicked, this, &ControlWindow::focusCommandBox);

    // Above the visible area, where it keeps the keyboard focus without being seen.
    txt_input = new QLineEdit(this);
    txt_input->setObjectName(QStringLiteral("txt_input"));
    txt_input->setGeometry(0, CommandBoxTopTwips / TwipsPerPixel, 200, 20);
    txt_input->installEventFilter(this);
    // Keypad digits go straight in; a Japanese input method must not hold them for conversion.
    txt_input->setAttribute(Qt::WA_InputMethodEnabled, false);

    m_invite = new QWidget(this);
    m_invite->setObjectName(QStringLiteral("guestInvite"));
    m_invite->setAutoFillBackground(true);
    QPalette invitePalette = m_invite->palette();
    invitePalette.setColor(QPalette::Window, Qt::white);
    invitePalette.setColor(QPalette::WindowText, Qt::black);
    m_invite->setPalette(invitePalette);
    auto* inviteLayout = new QVBoxLayout(m_invite);
    auto* inviteTitle = new QLabel(QStringLiteral("スマホで予約"), m_invite);
    m_inviteCode = new QrCodeView(m_invite);
    m_inviteUrl = new QLabel(m_invite);
    for (QLabel* label : {inviteTitle, m_inviteUrl}) {
        label->setAlignment(Qt::AlignHCenter);
        label->setTextFormat(Qt::PlainText);
    }
    inviteLayout->addWidget(inviteTitle);
    inviteLayout->addWidget(m_inviteCode, 1);
    inviteLayout->addWidget(m_inviteUrl);
    m_invite->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_invite->hide();

    tmr_active = new QTimer(this);
    tmr_active->setObjectName(QStringLiteral("tmr_active"));
    tmr_active->setInterval(1);
    tmr_active->setSingleShot(true);
    connect(tmr_active, &QTimer::timeout, this, &ControlWindow::tmr_active_Timer);
}

ControlWindow::~ControlWindow()
{
    setSession(nullptr);
}

void ControlWindow::setPlayers(MpvPlayer* main, MpvPlayer* second)
{
    GomX1->setPlayer(main);
    GomX2->setPlayer(second);
}

Player& ControlWindow::mainPlayer()
{
    return GomX1->player();
}

Player& ControlWindow::secondPlayer()
{
    return GomX2->player();
}

void ControlWindow::setSession(KaraokeSession* session)
{
    if (m_session)
        m_session->setView(nullptr);
    delete m_stage;
    m_stage = nullptr;
    m_session = session;
    if (!m_session)
        return;
    m_session->setView(this);
    m_stage = new StageWindow(m_session->stage(), this);
    m_stage->fitToParent();
}

void ControlWindow::coverScreen()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->geometry());
}

void ControlWindow::start()
{
    coverScreen();
    tmr_active->start();
}

void ControlWindow::tmr_active_Timer()
{
    // The window covers the screen; the players fill it and the time-signal player waits hidden.
    showNormal();
    coverScreen(); // the children follow through resizeEvent
    GomX2->hide();
    focusCommandBox();
}

void ControlWindow::setGuestUrl(const QString& url)
{
    m_inviteCode->setText(url);
    m_inviteUrl->setText(url);
    m_idlePicture->setInvitation(!url.isEmpty());
    if (url.isEmpty())
        m_invite->hide();
}

void ControlWindow::setIdlePictureVisible(bool visible)
{
    if (visible == m_idlePicture->isVisible())
        return;
    m_idlePicture->setVisible(visible);
    if (!visible)
        return;
    // Over the song player, under the next singer's card, the invitation and the strip.
    m_idlePicture->raise();
    m_card->raise();
    m_invite->raise();
    if (m_stage)
        m_stage->raise();
}

QWidget* ControlWindow::nextSingerCard() const
{
    return m_card;
}

void ControlWindow::setNextSingerCard(const NextSingerCard& card)
{
    if (card == m_card->card())
        return;
    m_card->setCard(card);
    if (card.isEmpty()) {
        m_card->hide();
        return;
    }
    placeNextSingerCard();
    m_card->show();
    // Over the players and the idle picture, under the strip.
    m_card->raise();
    if (m_stage)
        m_stage->raise();
}

void ControlWindow::placeNextSingerCard()
{
    // Bottom left, clear of the invitation's corner, in letters to be read across the room.
    const int side = inviteSide(this);
    const int margin = side / 10;
    m_card->setFont(cardFont(font(), std::max(16, height() / 18)));
    const QSize size = m_card->sizeFor(m_card->font(), std::max(1, width() - side - 3 * margin));
    m_card->setGeometry(margin, height() - margin - size.height(), size.width(), size.height());
}

void ControlWindow::setGuestInviteVisible(bool visible)
{
    const bool show = visible && !m_inviteUrl->text().isEmpty();
    if (show == m_invite->isVisible())
        return;
    m_invite->setVisible(show);
    if (show)
        m_invite->raise();
}

void ControlWindow::layoutChildren()
{
    GomX1->setGeometry(rect());
    m_idlePicture->setGeometry(rect());
    GomX2->setGeometry(rect());
    // A corner of the screen, clear of the strip along the top: big enough for a phone across the room.
    const int side = inviteSide(this);
    QFont font = m_invite->font();
    font.setPixelSize(std::max(12, side / 12));
    m_invite->setFont(font);
    m_invite->setGeometry(width() - side - side / 10, height() - side * 5 / 4 - side / 10, side, side * 5 / 4);
    placeNextSingerCard();
    if (m_stage) {
        m_stage->fitToParent();
        m_stage->raise();
    }
}

void ControlWindow::resizeEvent(QResizeEvent* event)
{
    layoutChildren();
    QWidget::resizeEvent(event);
}

void ControlWindow::focusCommandBox()
{
    if (!isVisible())
        return;
    activateWindow();
    txt_input->setFocus(Qt::OtherFocusReason);
}

void ControlWindow::setMainPlayerVisible(bool visible)
{
    GomX1->setVisible(visible);
}

void ControlWindow::setSecondPlayerVisible(bool visible)
{
    GomX2->setVisible(visible);
    if (visible)
        GomX2->raise();
    // The strip stays above whichever player shows.
    if (m_stage)
        m_stage->raise();
}

bool ControlWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != txt_input || !m_session)
        return QWidget::eventFilter(watched, event);

    CommandEntry& entry = m_session->entry();
    const auto runKey = [this, &entry](auto handler) {
        entry.setText(txt_input->text());
        handler();
        if (txt_input->text() != entry.text())
            txt_input->setText(entry.text());
    };
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Right || CommandEntry::isSingerKey(key->key())) {
            runKey([&entry, key] { entry.txt_input_KeyDown(key->key()); });
            return true;
        }
        break;
    }
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat())
            runKey([&entry, key] { entry.txt_input_KeyUp(key->key()); });
        break;
    }
    case QEvent::FocusOut:
        entry.txt_input_LostFocus();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void ControlWindow::closeEvent(QCloseEvent* event)
{
    // Closed from the desktop (Alt+F4): karaoke mode ends at once instead of running on unseen.
    event->ignore();
    emit closeRequested();
}

} // namespace tarv
