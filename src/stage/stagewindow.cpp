#include "stage/stagewindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

namespace tarv {
namespace {

// Layout in twips.
constexpr int StripHeight = 2400;
constexpr int StatusHeight = 525;
constexpr int ListTop = 1560;
constexpr int ListWidth = 2655;
constexpr int ListHeight = 780;
constexpr int IdLeft = 3240;
constexpr int TitleLeft = 6000;
constexpr int UserLeft = 8760;
constexpr int CaptionLeft = 240;

const QColor Background(16, 16, 24);
const QColor ListText(235, 235, 235);

QFont japaneseGothic(double pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

QListWidget* makeList(QWidget* parent, const char* name, int left)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(twipsRect(left, ListTop, ListWidth, ListHeight));
    list->setFocusPolicy(Qt::NoFocus);
    list->setFrameShape(QFrame::NoFrame);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setTextElideMode(Qt::ElideRight);
    // Clicks go through to the strip, where they repeat the last action.
    list->setAttribute(Qt::WA_TransparentForMouseEvents);
    list->setFont(japaneseGothic(10));
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, Background);
    palette.setColor(QPalette::Text, ListText);
    palette.setColor(QPalette::Highlight, QColor(0, 110, 110));
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    list->setPalette(palette);
    return list;
}

} // namespace

StageWindow::StageWindow(Player& mainPlayer, Player& secondPlayer, const StageEnvironment& environment,
                         const AppPaths& paths, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus),
      m_stage(std::make_unique<Stage>(mainPlayer, secondPlayer, environment, paths, clock))
{
    setObjectName(QStringLiteral("Form3"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Background);
    setPalette(palette);

    lbl_title = new QLabel(QStringLiteral("label"), this);
    lbl_title->setObjectName(QStringLiteral("lbl_title"));
    lbl_title->setFont(japaneseGothic(26.25));
    lbl_title->setTextFormat(Qt::PlainText);
    lbl_title->setWordWrap(false);

    // The now-playing record is held here rather than displayed.
    lbl_nowtitle = new QLabel(m_stage->nowPlaying().text(), this);
    lbl_nowtitle->setObjectName(QStringLiteral("lbl_nowtitle"));
    lbl_nowtitle->setGeometry(twipsRect(11160, 120, 135, 135));
    lbl_nowtitle->hide();

    lbl_next = new QLabel(this);
    lbl_next->setObjectName(QStringLiteral("lbl_next"));
    lbl_next->setGeometry(twipsRect(CaptionLeft, ListTop, IdLeft - CaptionLeft - 120, ListHeight));
    lbl_next->setFont(japaneseGothic(12));
    lbl_next->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QPalette captionPalette = lbl_next->palette();
    captionPalette.setColor(QPalette::WindowText, QColor(0, 255, 255));
    lbl_next->setPalette(captionPalette);

    lst_nextid = makeList(this, "lst_nextid", IdLeft);
    lst_nexttitle = makeList(this, "lst_nexttitle", TitleLeft);
    lst_nextuser = makeList(this, "lst_nextuser", UserLeft);

    tmr_visible = new QTimer(this);
    tmr_visible->setObjectName(QStringLiteral("tmr_visible"));
    tmr_visible->setInterval(5000);
    tmr_visible->setSingleShot(true);
    connect(tmr_visible, &QTimer::timeout, this, [this] { m_stage->tmr_visible_Timer(); });

    tmr_voldown = new QTimer(this);
    tmr_voldown->setObjectName(QStringLiteral("tmr_voldown"));
    tmr_voldown->setInterval(100);
    connect(tmr_voldown, &QTimer::timeout, this, [this] { m_stage->tmr_voldown_Timer(); });

    resize(placement(controlGeometry(), twipsToPixels(StripHeight)).size());
    statusChanged(m_stage->statusText(), m_stage->statusColour());
    queueChanged();
    m_stage->setView(this);
}

StageWindow::~StageWindow()
{
    m_stage->setView(nullptr);
}

void StageWindow::setControlWindow(QWidget* control)
{
    m_control = control;
}

QRect StageWindow::placement(const QRect& control, int height)
{
    const int left = twipsToPixels(control.x() * 15 + 10);
    const int top = twipsToPixels(control.y() * 15 + 10);
    const int width = twipsToPixels(control.width() * 15 - 20);
    return QRect(left, top, std::max(width, 1), height);
}

QRect StageWindow::controlGeometry() const
{
    if (m_control)
        return m_control->frameGeometry();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    return QRect(0, 0, 1280, 720);
}

void StageWindow::showStage()
{
    setGeometry(placement(controlGeometry(), height()));
    if (!isVisible())
        show();
    raise();
}

void StageWindow::hideStage()
{
    hide();
}

void StageWindow::restartHideTimer()
{
    tmr_visible->start();
}

void StageWindow::startHideTimer()
{
    if (!tmr_visible->isActive())
        tmr_visible->start();
}

void StageWindow::startFade()
{
    tmr_voldown->start();
}

void StageWindow::statusChanged(const QString& text, StatusColour colour)
{
    const Rgb rgb = statusRgb(colour);
    QPalette palette = lbl_title->palette();
    palette.setColor(QPalette::WindowText, QColor(rgb.red, rgb.green, rgb.blue));
    lbl_title->setPalette(palette);
    lbl_title->setText(text);
}

void StageWindow::queueChanged()
{
    const QList<QueueEntry>& queue = m_stage->queue();
    lst_nextid->clear();
    lst_nexttitle->clear();
    lst_nextuser->clear();
    for (const QueueEntry& entry : queue) {
        lst_nextid->addItem(entry.number);
        lst_nexttitle->addItem(entry.title);
        lst_nextuser->addItem(entry.user);
    }
    const int selected = m_stage->selectedIndex();
    for (QListWidget* list : {lst_nextid, lst_nexttitle, lst_nextuser}) {
        list->setCurrentRow(selected);
        if (selected >= 0)
            list->scrollToItem(list->item(selected));
    }
    lbl_next->setText(queue.isEmpty() ? QString() : QStringLiteral("次の予約 %1曲").arg(queue.size()));
}

void StageWindow::nowPlayingChanged()
{
    lbl_nowtitle->setText(m_stage->nowPlaying().text());
    lbl_nowtitle->setProperty("user", m_stage->nowPlaying().user);
}

void StageWindow::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    m_stage->Form_Activate();
}

void StageWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    lbl_title->setGeometry(0, 0, width(), twipsToPixels(StatusHeight));
}

} // namespace tarv
