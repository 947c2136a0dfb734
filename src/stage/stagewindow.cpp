#include "stage/stagewindow.h"

#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace tarv {
namespace {

// The classic layout in twips (15 to a pixel) on an 800 x 600 screen.
constexpr double TwipsPerPixel = 15.0;
constexpr double ReferenceWidth = 800.0;
constexpr double ReferenceHeight = 600.0;
constexpr int StripHeight = 2400;
constexpr int StatusHeight = 525;
constexpr int ListTop = 1560;
constexpr int ListWidth = 2655;
constexpr int ListHeight = 780;
constexpr int IdLeft = 3240;
constexpr int TitleLeft = 6000;
constexpr int UserLeft = 8760;
constexpr int CaptionLeft = 240;
// The small now-playing picture at the right of the status line.
constexpr int NowTitleLeft = 11160;
constexpr int NowTitleTop = 120;
constexpr int NowTitleSide = 135;
constexpr int BottomMargin = StripHeight - ListTop - ListHeight;
// Font sizes in pixels on the reference screen: the status line's 26.25 pt, the lists' 11.25 pt.
constexpr double StatusFontPixels = 35.0;
constexpr double ListFontPixels = 15.0;

const QColor Background(16, 16, 24);
const QColor ListText(235, 235, 235);
const QColor CaptionText(0, 255, 255);
const QColor HeldText(150, 150, 150);
const QString HeldMark = QStringLiteral("保留 ");

QFont japaneseGothic(int pixels)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(std::max(pixels, 8));
    font.setWeight(QFont::Normal);
    return font;
}

QListWidget* makeList(QWidget* parent, const char* name)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setFocusPolicy(Qt::NoFocus);
    list->setFrameShape(QFrame::NoFrame);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Whole rows only: the list scrolls by items and is exactly as high as its rows.
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setTextElideMode(Qt::ElideRight);
    // Clicks go through to the strip, where they repeat the last action.
    list->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, Background);
    palette.setColor(QPalette::Text, ListText);
    palette.setColor(QPalette::Highlight, QColor(0, 110, 110));
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    list->setPalette(palette);
    return list;
}

} // namespace

StageWindow::StageWindow(Stage& stage, QWidget* parent) : QWidget(parent), m_stage(stage)
{
    setObjectName(QStringLiteral("Form3"));
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Background);
    setPalette(palette);

    lbl_title = new QLabel(this);
    lbl_title->setObjectName(QStringLiteral("lbl_title"));
    lbl_title->setTextFormat(Qt::PlainText);
    lbl_title->setWordWrap(false);
    lbl_title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // The now-playing record is held here rather than displayed.
    lbl_nowtitle = new QLabel(this);
    lbl_nowtitle->setObjectName(QStringLiteral("lbl_nowtitle"));
    lbl_nowtitle->hide();

    lbl_next = new QLabel(this);
    lbl_next->setObjectName(QStringLiteral("lbl_next"));
    lbl_next->setTextFormat(Qt::PlainText);
    lbl_next->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QPalette captionPalette = lbl_next->palette();
    captionPalette.setColor(QPalette::WindowText, CaptionText);
    lbl_next->setPalette(captionPalette);

    // The song's key and tempo stay on screen while it plays, also once the strip has hidden itself:
    // a label of the karaoke window beside the strip, not of the strip.
    lbl_keytempo = new QLabel(parent ? parent : this);
    lbl_keytempo->setObjectName(QStringLiteral("lbl_keytempo"));
    lbl_keytempo->setTextFormat(Qt::PlainText);
    lbl_keytempo->setAlignment(Qt::AlignCenter);
    lbl_keytempo->setFocusPolicy(Qt::NoFocus);
    lbl_keytempo->setAttribute(Qt::WA_TransparentForMouseEvents);
    const Rgb yellow = statusRgb(StatusColour::Yellow);
    lbl_keytempo->setStyleSheet(QStringLiteral("QLabel { color: rgb(%1, %2, %3); background: rgba(16, 16, 24, 210);"
                                               " border: 2px solid rgb(%1, %2, %3); border-radius: 8px; }")
                                    .arg(yellow.red)
                                    .arg(yellow.green)
                                    .arg(yellow.blue));
    lbl_keytempo->hide();

    lst_nextid = makeList(this, "lst_nextid");
    lst_nexttitle = makeList(this, "lst_nexttitle");
    lst_nextuser = makeList(this, "lst_nextuser");

    hide();
    fitToParent();
    showStatus(m_stage.statusColour());
    showNowPlaying();
    connect(&m_stage, &Stage::visibilityChanged, this, &StageWindow::setShowing);
    connect(&m_stage, &Stage::statusChanged, this, [this](const QString&, StatusColour colour) { showStatus(colour); });
    connect(&m_stage, &Stage::queueChanged, this, &StageWindow::showQueue);
    connect(&m_stage, &Stage::nowPlayingChanged, this, &StageWindow::showNowPlaying);
    connect(&m_stage, &Stage::keyTempoChanged, this, &StageWindow::showKeyTempo);
}

StageWindow::~StageWindow()
{
    if (lbl_keytempo && lbl_keytempo->parent() != this)
        delete lbl_keytempo.data();
}

void StageWindow::fitToParent()
{
    const QWidget* area = parentWidget();
    const int width = area ? area->width() : 800;
    const int height = area ? area->height() : 600;
    const double scale = std::max(0.5, std::min(width / ReferenceWidth, height / ReferenceHeight));
    const auto px = [scale](int twips) { return int(std::lround(twips * scale / TwipsPerPixel)); };

    const QFont statusFont = japaneseGothic(int(std::lround(StatusFontPixels * scale)));
    lbl_title->setFont(statusFont);
    // Never lower than the font's line, or the glyphs' feet are cut off.
    const int statusHeight = std::max(px(StatusHeight), QFontMetrics(statusFont).height());
    lbl_title->setGeometry(0, 0, width, statusHeight);

    const QFont listFont = japaneseGothic(int(std::lround(ListFontPixels * scale)));
    m_rowHeight = QFontMetrics(listFont).height() + 2;
    m_rows = std::max(1, px(ListHeight) / m_rowHeight);
    const int listTop = std::max(px(ListTop), statusHeight + px(60));
    const int listHeight = m_rows * m_rowHeight;
    for (auto [list, left] : {std::pair{lst_nextid, IdLeft}, {lst_nexttitle, TitleLeft}, {lst_nextuser, UserLeft}}) {
        list->setFont(listFont);
        list->setGeometry(px(left), listTop, px(ListWidth), listHeight);
    }
    lbl_next->setFont(listFont);
    lbl_next->setGeometry(px(CaptionLeft), listTop, px(IdLeft - CaptionLeft - 120), listHeight);
    // As tall as the status line's text, at the right edge just under the strip.
    lbl_keytempo->setFont(japaneseGothic(int(std::lround(StatusFontPixels * 0.8 * scale))));
    const int badgeHeight = QFontMetrics(lbl_keytempo->font()).height() + px(180);
    lbl_nowtitle->setGeometry(px(NowTitleLeft), px(NowTitleTop), px(NowTitleSide), px(NowTitleSide));

    setGeometry(0, 0, width, listTop + listHeight + std::max(px(BottomMargin), 2));
    m_badgeTop = this->height() + px(120);
    m_badgeHeight = badgeHeight;
    m_badgeRight = width - px(240);
    showStatusText();
    showQueue();
    showKeyTempo();
}

void StageWindow::setShowing(bool showing)
{
    if (!showing) {
        hide();
        return;
    }
    show();
    raise();
    if (lbl_keytempo->isVisible())
        lbl_keytempo->raise();
}

void StageWindow::showStatus(StatusColour colour)
{
    const Rgb rgb = statusRgb(colour);
    QPalette palette = lbl_title->palette();
    palette.setColor(QPalette::WindowText, QColor(rgb.red, rgb.green, rgb.blue));
    lbl_title->setPalette(palette);
    showStatusText();
}

void StageWindow::showStatusText()
{
    // A text wider than the screen ends in an ellipsis rather than in half a character.
    const QFontMetrics metrics(lbl_title->font());
    lbl_title->setText(metrics.elidedText(m_stage.statusText(), Qt::ElideRight, lbl_title->width()));
}

void StageWindow::showQueue()
{
    const QList<Reservation>& queue = m_stage.queue();
    for (QListWidget* list : {lst_nextid, lst_nexttitle, lst_nextuser})
        list->clear();
    for (const Reservation& entry : queue) {
        lst_nextid->addItem(entry.number.text());
        // A held song waits for its singer: marked, and dimmed in each column.
        lst_nexttitle->addItem(entry.held ? HeldMark + entry.title : entry.title);
        lst_nextuser->addItem(entry.user);
        if (entry.held) {
            for (QListWidget* list : {lst_nextid, lst_nexttitle, lst_nextuser})
                list->item(list->count() - 1)->setForeground(HeldText);
        }
    }
    const int selected = m_stage.selectedIndex();
    for (QListWidget* list : {lst_nextid, lst_nexttitle, lst_nextuser}) {
        for (int row = 0; row < list->count(); ++row)
            list->item(row)->setSizeHint(QSize(list->width(), m_rowHeight));
        list->setCurrentRow(selected);
        if (selected >= 0)
            list->scrollToItem(list->item(selected));
        else
            list->scrollToTop();
    }
    QString caption;
    if (!queue.isEmpty())
        caption = QStringLiteral("次の予約 %1曲").arg(queue.size());
    const qsizetype unseen = queue.size() - m_rows;
    if (unseen > 0)
        caption += QStringLiteral("\nほか %1曲").arg(unseen);
    lbl_next->setText(caption);
}

void StageWindow::showNowPlaying()
{
    lbl_nowtitle->setText(m_stage.nowPlaying().text());
    lbl_nowtitle->setProperty("user", m_stage.nowPlaying().user);
}

void StageWindow::showKeyTempo()
{
    const QString badge = m_stage.keyTempoBadge();
    lbl_keytempo->setText(badge);
    if (badge.isEmpty()) {
        lbl_keytempo->hide();
        return;
    }
    const int width = QFontMetrics(lbl_keytempo->font()).horizontalAdvance(badge) + m_badgeHeight;
    lbl_keytempo->setGeometry(m_badgeRight - width, m_badgeTop, width, m_badgeHeight);
    lbl_keytempo->show();
    lbl_keytempo->raise();
}

void StageWindow::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    m_stage.Form_Activate();
}

} // namespace tarv
