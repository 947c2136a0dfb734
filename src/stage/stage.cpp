#include "stage/stage.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "common/webroot.h"
#include "player/player.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace tarv {
namespace {

class NullStageView : public StageView
{
public:
    void showStage() override {}
    void hideStage() override {}
    void restartHideTimer() override {}
    void startHideTimer() override {}
    void startFade() override {}
    void statusChanged(const QString&, StatusColour) override {}
    void queueChanged() override {}
    void nowPlayingChanged() override {}
};

// The sing-again limit and the fast-forward step, in seconds of the song.
constexpr double SingAgainLimit = 15.0;
constexpr double FastForwardStep = 5.0;

QString twoDigits(double value)
{
    return QString::number(qint64(value)).rightJustified(2, u'0');
}

// A queue number in plain decimal: its numeric value without leading zeros or blanks.
QString plainNumber(const QString& number)
{
    return decimalText(leadingNumber(number));
}

} // namespace

QString userPart(const QString& user)
{
    if (user == u"Guest")
        return {};
    return user + QStringLiteral(" - ");
}

Stage::Stage(Player& mainPlayer, Player& secondPlayer, const StageEnvironment& environment, AppPaths paths,
             const Clock& clock, QObject* parent)
    : QObject(parent), m_main(mainPlayer), m_second(secondPlayer), m_environment(environment),
      m_paths(std::move(paths)), m_clock(clock), m_songs(m_paths.songList())
{
}

Stage::~Stage() = default;

void Stage::setView(StageView* view)
{
    m_view = view;
}

void Stage::setTimeSignalSource(TimeSignalSource* source)
{
    m_timeSignals = source;
}

StageView& Stage::view()
{
    static NullStageView none;
    return m_view ? *m_view : none;
}

void Stage::post(const QString& code)
{
    m_codeSlot = code;
    view().showStage();
    m_showing = true;
    QMetaObject::invokeMethod(this, &Stage::Form_Activate, Qt::QueuedConnection);
}

void Stage::Form_Activate()
{
    view().showStage();
    m_showing = true;
    m_webRoot = readWebRoot(m_paths);
    dispatch(m_codeSlot);
}

void Stage::dispatch(const QString& code)
{
    if (code == u"000000")
        start();
    else if (code == u"000001")
        message(StatusColour::Yellow, QStringLiteral("Code Error!"));
    else if (code == u"000002")
        quit();
    else if (code == u"000017")
        message(StatusColour::Yellow, m_currentUser + QStringLiteral("さんがログインしました"));
    else if (code == u"000016")
        singAgain(true);
    else if (code == u"000003")
        playNext();
    else if (code == u"000004")
        setColour(StatusColour::White);
    else if (code == u"000005")
        noReservations();
    else if (code == u"000006")
        message(StatusColour::Red, QStringLiteral("この曲の再生を終了しますか？Y:44 N:NoTouch"));
    else if (code == u"000009")
        stopSong();
    else if (code == u"000007")
        reviewNext();
    else if (code == u"000012")
        reviewStart();
    else if (code == u"000008")
        cancelReviewed();
    else if (code == u"000010") {
        if (!m_queue.isEmpty())
            moveToFront(m_queue.size() - 1, false);
    } else if (code == u"000011") {
        if (m_selected >= 1)
            moveToFront(m_selected, true);
    } else if (code == u"000013")
        timeSignal();
    else if (code == u"000014")
        fastForward();
    else if (code == u"000015")
        singAgain(false);
    else if (code == u"10" || code.size() == 1)
        setVolume(code);
    else
        reserve(code);
}

// --- Status line and timers -------------------------------------------------------------------

void Stage::showStatus(StatusColour colour, const QString& text)
{
    m_statusColour = colour;
    m_statusText = text;
    view().statusChanged(m_statusText, m_statusColour);
}

void Stage::message(StatusColour colour, const QString& text)
{
    showStatus(colour, text);
    restartHideTimer();
}

void Stage::setColour(StatusColour colour)
{
    showStatus(colour, m_statusText);
}

void Stage::restartHideTimer()
{
    view().restartHideTimer();
}

void Stage::tmr_visible_Timer()
{
    m_showing = false;
    view().hideStage();
}

void Stage::tmr_voldown_Timer()
{
    const double volume = std::round(m_main.volume());
    if (volume > 0)
        m_main.setVolume(std::max(0.0, volume - m_fadeFrom / 50.0));
}

// --- Playback ---------------------------------------------------------------------------------

void Stage::startPlayback(const QString& number)
{
    m_main.stop();
    // The video is named by the number's plain decimal, whatever else the reserved text held.
    m_main.setMediaPath(m_paths.video(plainNumber(number)));
    m_main.play();
}

void Stage::showIdleScreen()
{
    m_main.setMediaPath(m_paths.introVideo());
    m_main.play();
    m_main.stop();
}

void Stage::start()
{
    setColour(StatusColour::White);
    const QString count = QString::number(m_songs.count());
    const QString version = m_environment.systemVersion();
    const QString mode = m_environment.connectionMode();
    const bool local = mode == u"act";
    QString banner;
    if (local) {
        banner = QStringLiteral("Tarv Active... System Version:") + version + QStringLiteral(" MovieCount:") + count;
        if (m_environment.timeSignalsOn())
            banner += QStringLiteral(" -時報有効");
    } else {
        banner = QStringLiteral("WirelessMode Active... System Version:") + version + QStringLiteral(" MovieCount:") +
                 count + QStringLiteral(" ConnectionIP:") + mode;
    }
    showStatus(StatusColour::White, banner);
    // A wireless start skips the intro video: the player goes on with whatever it holds (nothing at
    // the first start), and the idle screen follows from the control window's next-song trigger.
    if (local)
        m_main.setMediaPath(m_paths.introVideo());
    m_main.play();
    view().startHideTimer();
}

void Stage::quit()
{
    showStatus(StatusColour::PaleYellow,
               QStringLiteral("Tarv終了します。お疲れ様でした！5秒後に終了します(´・ω・`)ﾉｼ"));
    m_fadeFrom = int(std::round(m_main.volume()));
    view().startFade();
    restartHideTimer();
}

void Stage::noReservations()
{
    showStatus(StatusColour::White, QStringLiteral("予約曲がありません  ゆっくりえらんでね！！！"));
    if (!m_main.isPlaying()) {
        showIdleScreen();
        setPendingCount(-1);
    }
    publishEmpty();
    restartHideTimer();
}

void Stage::stopSong()
{
    setColour(StatusColour::Red);
    publishFull();
    showStatus(StatusColour::Red, QStringLiteral("この曲の再生を終了します"));
    showIdleScreen();
    restartHideTimer();
    if (!m_queue.isEmpty())
        return; // the control window sees the stopped player and posts "000003"
    showStatus(StatusColour::White, QStringLiteral("予約曲がありません(´・ω:;.:...  ゆっくりえらんでね！！！"));
    if (!m_main.isPlaying()) {
        showIdleScreen();
        setPendingCount(-1);
    }
    publishEmpty();
    restartHideTimer();
}

void Stage::singAgain(bool really)
{
    setColour(StatusColour::Yellow);
    if (m_main.position() > SingAgainLimit) {
        showStatus(StatusColour::Yellow, QStringLiteral("歌直：指定時間を過ぎています"));
    } else if (!really) {
        showStatus(StatusColour::Yellow, QStringLiteral("歌直：歌いなおししますか？Y:55 N:NoTouch"));
    } else {
        showStatus(StatusColour::Yellow, QStringLiteral("歌直：歌い直ししました"));
        m_main.setPosition(0);
    }
    restartHideTimer();
}

void Stage::fastForward()
{
    setColour(StatusColour::White);
    const double p = m_main.position() + FastForwardStep;
    const double h = std::floor(p / 3600);
    const double m = std::floor((p - 3600 * h) / 60);
    const double s = std::floor(p - 3600 * h - 60 * m);
    showStatus(StatusColour::White, QStringLiteral("早送：+5sec ") + twoDigits(h) + u':' + twoDigits(m) + u':' +
                                        twoDigits(s) + QStringLiteral(" / ") + m_main.durationText());
    m_main.setPosition(p);
    restartHideTimer();
}

void Stage::setVolume(const QString& step)
{
    const double volume = leadingNumber(step) * 10;
    m_main.setVolume(volume);
    m_second.setVolume(volume);
    showStatus(StatusColour::Yellow, QStringLiteral("音量：") + decimalText(volume) + u'%');
    restartHideTimer();
}

void Stage::timeSignal()
{
    // Without the switch, or with no video enabled, a time signal changes nothing on the stage.
    if (!m_environment.timeSignalsOn() || !m_timeSignals)
        return;
    const std::optional<QString> name = m_timeSignals->chooseVideo();
    if (!name)
        return;
    setColour(StatusColour::Yellow);
    // The control window's switch lays the second player over the paused main player.
    m_main.pause();
    m_second.setMediaPath(m_paths.video(*name));
    m_second.play();
    showStatus(StatusColour::Yellow, QStringLiteral("時報 NowTime=") + m_clock.now().toString(QStringLiteral("HH:mm")) +
                                         QStringLiteral(" 動画の時間と実際の時間は違う場合があります"));
    restartHideTimer();
}

// --- Reservation queue ------------------------------------------------------------------------

QString Stage::entryText(const QueueEntry& entry) const
{
    return u'(' + entry.number + QStringLiteral(") - ") + userPart(entry.user) + entry.title;
}

void Stage::setPendingCount(int count)
{
    m_pendingCount = count;
}

void Stage::clearSelection()
{
    m_selected = -1;
}

void Stage::queueChanged()
{
    view().queueChanged();
}

void Stage::setNowPlaying(NowPlaying now)
{
    m_nowPlaying = std::move(now);
    view().nowPlayingChanged();
}

void Stage::reserve(const QString& number)
{
    setColour(StatusColour::White);
    const std::optional<Song> song = m_songs.find(leadingNumber(number));
    if (!song) {
        showStatus(StatusColour::Yellow, QStringLiteral("Not Found!"));
        restartHideTimer();
        return;
    }
    const QueueEntry entry{number, song->title(), song->rawTitle, m_currentUser};
    if (!m_main.isPlaying() && m_queue.isEmpty()) {
        showStatus(StatusColour::White, QStringLiteral("再生：") + entryText(entry));
        setNowPlaying(NowPlaying{entry.number, entry.title, entry.rawTitle, entry.user});
        publishFull();
        startPlayback(song->numberText());
        restartHideTimer();
        return;
    }
    showStatus(StatusColour::White, QStringLiteral("予受(") + QString::number(m_queue.size() + 1) +
                                        QStringLiteral(")：") + entryText(entry));
    m_queue.append(entry);
    setPendingCount(int(m_queue.size()));
    clearSelection();
    queueChanged();
    publishFull();
    m_currentUser.clear();
    restartHideTimer();
}

void Stage::playNext()
{
    if (m_queue.isEmpty())
        return;
    setColour(StatusColour::White);
    const QueueEntry entry = m_queue.takeFirst();
    clearSelection();
    setPendingCount(int(m_queue.size()));
    queueChanged();
    showStatus(StatusColour::White, QStringLiteral("再生：") + entryText(entry));
    setNowPlaying(NowPlaying{entry.number, entry.title, entry.rawTitle, entry.user});
    startPlayback(entry.number);
    restartHideTimer();
    m_codeSlot = QStringLiteral("000004");
    publishFull();
}

void Stage::reviewStart()
{
    if (m_queue.isEmpty())
        return;
    showReview(0);
    m_codeSlot = QStringLiteral("000007");
    restartHideTimer();
}

void Stage::reviewNext()
{
    if (m_queue.isEmpty())
        return;
    showReview(m_selected + 1 >= m_queue.size() ? 0 : m_selected + 1);
    restartHideTimer();
}

void Stage::showReview(int index)
{
    setColour(StatusColour::Cyan);
    m_selected = index;
    queueChanged();
    showStatus(StatusColour::Cyan, QStringLiteral("予確(") + QString::number(index + 1) + u'/' +
                                       QString::number(m_queue.size()) + QStringLiteral(")：") +
                                       entryText(m_queue[index]));
}

void Stage::cancelReviewed()
{
    if (m_queue.isEmpty() || m_selected < 0 || m_selected >= m_queue.size())
        return;
    setColour(StatusColour::Cyan);
    const QueueEntry entry = m_queue.takeAt(m_selected);
    clearSelection();
    setPendingCount(int(m_queue.size()));
    queueChanged();
    showStatus(StatusColour::Cyan,
               QStringLiteral("予消(N/") + QString::number(m_queue.size()) + QStringLiteral(")：") + entryText(entry));
    publishFull();
    restartHideTimer();
}

void Stage::moveToFront(qsizetype index, bool publish)
{
    setColour(StatusColour::Cyan);
    m_queue.move(index, 0);
    for (QueueEntry& entry : m_queue)
        entry.number = plainNumber(entry.number);
    clearSelection();
    setPendingCount(int(m_queue.size()));
    queueChanged();
    showStatus(StatusColour::Cyan, QStringLiteral("予割(1/") + QString::number(m_queue.size()) + QStringLiteral(")：") +
                                       entryText(m_queue[0]));
    if (publish)
        publishFull();
    restartHideTimer();
}

// --- Published queue file ---------------------------------------------------------------------

void Stage::publishFull()
{
    m_publishError = writeQueueFile(m_webRoot, fullQueueFile(m_nowPlaying, m_queue));
}

void Stage::publishEmpty()
{
    m_publishError = writeQueueFile(m_webRoot, QByteArray());
}

} // namespace tarv
