#include "stage/stage.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "common/webroot.h"
#include "player/player.h"
#include "stage/codes.h"
#include "stage/queuerecord.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarv {

Q_LOGGING_CATEGORY(lcStage, "tarv.stage")

namespace {

class NullStageView : public StageView, public StageTimers
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

NullStageView& nothing()
{
    static NullStageView none;
    return none;
}

// The sing-again limit and the fast-forward step, in seconds of the song.
constexpr double SingAgainLimit = 15.0;
constexpr double FastForwardStep = 5.0;
// How long a message about a missing video stays before the next song or the idle message.
constexpr qint64 MissingVideoHoldMs = 3000;

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

Stage::Stage(Player& mainPlayer, Player& secondPlayer, const AppState& state, AppPaths paths, const Clock& clock,
             QObject* parent)
    : QObject(parent), m_main(mainPlayer), m_second(secondPlayer), m_state(state), m_paths(std::move(paths)),
      m_clock(clock), m_songs(m_paths.songList())
{
}

Stage::~Stage() = default;

void Stage::setView(StageView* view)
{
    m_view = view;
}

bool Stage::holdsMessage() const
{
    return m_holdUntil.isValid() && m_clock.now() < m_holdUntil;
}

void Stage::setTimers(StageTimers* timers)
{
    m_timers = timers;
}

void Stage::setTimeSignalSource(TimeSignalSource* source)
{
    m_timeSignals = source;
}

StageView& Stage::view()
{
    return m_view ? *m_view : nothing();
}

StageTimers& Stage::timers()
{
    return m_timers ? *m_timers : nothing();
}

void Stage::post(QStringView code)
{
    m_posts.enqueue(Post{code.toString(), m_currentUser, {}});
    // Posters read the slot and the showing flag right after posting (a question and its
    // confirmation), so both change now; the action itself runs once the poster has returned.
    m_codeSlot = code.toString();
    view().showStage();
    m_showing = true;
    QMetaObject::invokeMethod(this, &Stage::runNextPost, Qt::QueuedConnection);
}

void Stage::catchUp()
{
    while (!m_posts.isEmpty())
        runNextPost();
}

void Stage::postTimeSignal(const QString& field)
{
    post(Code::TimeSignal);
    m_posts.last().field = field;
}

void Stage::handOverLastPost()
{
    if (!m_posts.isEmpty())
        m_posts.last().handOver = true;
}

void Stage::setCurrentUser(const QString& user)
{
    catchUp();
    m_currentUser = user;
}

void Stage::runNextPost()
{
    if (m_posts.isEmpty())
        return;
    const Post post = m_posts.dequeue();
    m_codeSlot = post.code;
    m_actionField = post.field;
    m_handOver = post.handOver;
    activate(post.user);
    if (m_handOver) // not queued (played at once, or not found): the record still lets go of it
        recordQueue();
}

void Stage::Form_Activate()
{
    m_actionField.clear();
    activate(m_currentUser);
}

void Stage::activate(const QString& user)
{
    view().showStage();
    m_showing = true;
    m_webRoot = readWebRoot(m_paths);
    m_actionUser = user;
    dispatch(m_codeSlot);
}

void Stage::dispatch(const QString& code)
{
    if (code == Code::Start)
        start();
    else if (code == Code::CodeError)
        message(StatusColour::Yellow, QStringLiteral("Code Error!"));
    else if (code == Code::Quit)
        quit();
    else if (code == Code::Login)
        message(StatusColour::Yellow, m_actionUser + QStringLiteral("さんがログインしました"));
    else if (code == Code::SingAgain)
        singAgain(true);
    else if (code == Code::PlayNext)
        playNext();
    else if (code == Code::Playing)
        setColour(StatusColour::White);
    else if (code == Code::NoReservations)
        noReservations();
    else if (code == Code::AskStop)
        message(StatusColour::Red, QStringLiteral("この曲の再生を終了しますか？Y:44 N:NoTouch"));
    else if (code == Code::Stop)
        stopSong();
    else if (code == Code::ReviewNext)
        reviewNext();
    else if (code == Code::ReviewStart)
        reviewStart();
    else if (code == Code::CancelReviewed)
        cancelReviewed();
    else if (code == Code::NewestToFront) {
        if (!m_queue.isEmpty())
            moveToFront(m_queue.size() - 1, false);
    } else if (code == Code::ReviewedToFront) {
        if (m_selected >= 1)
            moveToFront(m_selected, true);
    } else if (code == Code::TimeSignal)
        timeSignal();
    else if (code == Code::FastForward)
        fastForward();
    else if (code == Code::AskSingAgain)
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
    timers().restartHideTimer();
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

bool Stage::startPlayback(const QString& number)
{
    // The video is named by the number's plain decimal, whatever else the reserved text held.
    const QString video = m_paths.video(plainNumber(number));
    if (!QFileInfo(video).isFile()) {
        // Said on the strip, so that nobody waits for a song that cannot come.
        qCWarning(lcStage) << "no video for song" << number << "at" << video;
        message(StatusColour::Red, QStringLiteral("動画ファイルがありません：(") + number + u')');
        m_holdUntil = m_clock.now().addMSecs(MissingVideoHoldMs);
        return false;
    }
    m_main.stop();
    m_main.setMediaPath(video);
    m_main.play();
    return true;
}

void Stage::showIdleScreen()
{
    // The intro's first frame, stopped. When the intro is already there it is only rewound: the
    // idle message comes back after every other message, and loading the file each time would
    // hold up the keypad.
    if (m_main.mediaPath() != m_paths.introVideo()) {
        m_main.setMediaPath(m_paths.introVideo());
        m_main.play();
    }
    m_main.stop();
}

void Stage::start()
{
    setColour(StatusColour::White);
    const QString count = QString::number(m_songs.count());
    const QString version = m_state.systemVersion();
    const QString mode = m_state.connectionMode();
    const bool local = m_state.isLocal();
    QString banner;
    if (local) {
        banner = QStringLiteral("Tarv Active... System Version:") + version + QStringLiteral(" MovieCount:") + count;
        if (m_state.timeSignalsOn())
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
    timers().startHideTimer();
}

void Stage::quit()
{
    showStatus(StatusColour::PaleYellow,
               QStringLiteral("Tarv終了します。お疲れ様でした！5秒後に終了します(´・ω・`)ﾉｼ"));
    m_fadeFrom = int(std::round(m_main.volume()));
    timers().startFade();
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
    if (!m_state.timeSignalsOn() || !m_timeSignals)
        return;
    const std::optional<QString> name = m_timeSignals->chooseVideo(m_actionField);
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
    recordQueue();
    view().queueChanged();
}

void Stage::recordQueue()
{
    const bool handOver = std::exchange(m_handOver, false);
    if (!m_record)
        return;
    QList<RecordedReservation> waiting;
    waiting.reserve(m_queue.size());
    for (const QueueEntry& entry : m_queue)
        waiting.append({entry.number, entry.user});
    m_record->setQueue(waiting, handOver);
}

void Stage::restoreRecordedQueue()
{
    if (!m_record)
        return;
    for (const RecordedReservation& kept : m_record->queue()) {
        const std::optional<Song> song = m_songs.find(leadingNumber(kept.number));
        if (!song) {
            qCWarning(lcStage) << "a kept reservation is no longer in the song list:" << kept.number;
            continue;
        }
        m_queue.append({kept.number, song->title(), song->rawTitle, kept.user});
    }
    setPendingCount(int(m_queue.size()));
    queueChanged();
    if (!m_queue.isEmpty()) {
        m_webRoot = readWebRoot(m_paths);
        publishFull();
    }
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
    const QueueEntry entry{number, song->title(), song->rawTitle, m_actionUser};
    if (!m_main.isPlaying() && m_queue.isEmpty()) {
        if (!startPlayback(song->numberText()))
            return;
        showStatus(StatusColour::White, QStringLiteral("再生：") + entryText(entry));
        setNowPlaying(NowPlaying{entry.number, entry.title, entry.rawTitle, entry.user});
        publishFull();
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
    m_actionUser.clear();
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
    m_codeSlot = Code::Playing.toString();
    if (!startPlayback(entry.number)) {
        // The song is gone from the queue and the file says so; the next one follows.
        publishFull();
        return;
    }
    showStatus(StatusColour::White, QStringLiteral("再生：") + entryText(entry));
    setNowPlaying(NowPlaying{entry.number, entry.title, entry.rawTitle, entry.user});
    restartHideTimer();
    publishFull();
}

void Stage::reviewStart()
{
    if (m_queue.isEmpty())
        return;
    showReview(0);
    m_codeSlot = Code::ReviewNext.toString();
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
    if (!m_publishError.isEmpty())
        qCWarning(lcStage).noquote() << m_publishError;
}

void Stage::publishEmpty()
{
    m_publishError = writeQueueFile(m_webRoot, QByteArray());
    if (!m_publishError.isEmpty())
        qCWarning(lcStage).noquote() << m_publishError;
}

} // namespace tarv
