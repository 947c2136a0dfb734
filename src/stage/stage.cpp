#include "stage/stage.h"

#include "common/clock.h"
#include "common/numbers.h"
#include "common/webroot.h"
#include "player/player.h"
#include "stage/singerkeys.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarv {

Q_LOGGING_CATEGORY(lcStage, "tarv.stage")

namespace {

template <typename... Ts> struct Overloaded : Ts...
{
    using Ts::operator()...;
};
// clang 14 does not deduce an aggregate's template arguments by itself.
template <typename... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

// The sing-again limit and the fast-forward step, in seconds of the song.
constexpr double SingAgainLimit = 15.0;
constexpr double FastForwardStep = 5.0;
// How long a message about a missing video stays before the next song or the idle message.
constexpr qint64 MissingVideoHoldMs = 3000;
// The singer's keys have rested this long: their key and tempo are written down.
constexpr qint64 KeyTempoRestMs = 3000;

QString twoDigits(double value)
{
    return QString::number(qint64(value)).rightJustified(2, u'0');
}

QString keyText(int key)
{
    return (key > 0 ? QStringLiteral("♯") : QStringLiteral("♭")) + QString::number(std::abs(key));
}

QString tempoText(int tempo)
{
    return (tempo > 0 ? QStringLiteral("+") : QString()) + QString::number(tempo) + u'%';
}

} // namespace

QString userPart(const QString& user)
{
    if (user == GuestUser)
        return {};
    return user + QStringLiteral(" - ");
}

Stage::Stage(Player& mainPlayer, Player& secondPlayer, const AppState& state, AppPaths paths, const Clock& clock,
             QObject* parent)
    : QObject(parent), m_main(mainPlayer), m_second(secondPlayer), m_state(state), m_paths(std::move(paths)),
      m_clock(clock), m_songs(m_paths.songList())
{
}

Stage::~Stage()
{
    // The singer's last change is kept; the queue record is the session's to empty at the end.
    m_record = nullptr;
    saveKeyTempo();
}

bool Stage::holdsMessage() const
{
    return m_holdUntil.isValid() && m_clock.now() < m_holdUntil;
}

void Stage::setTimeSignalSource(TimeSignalSource* source)
{
    m_timeSignals = source;
}

void Stage::post(Command command)
{
    // Posters read the slot and the showing flag right after posting (a question and its
    // confirmation), so both change now; the command itself runs once the poster has returned.
    m_last = command;
    m_posts.enqueue(Post{std::move(command)});
    show();
    QMetaObject::invokeMethod(this, &Stage::runNextPost, Qt::QueuedConnection);
}

void Stage::catchUp()
{
    while (!m_posts.isEmpty())
        runNextPost();
}

void Stage::handOverLastPost()
{
    if (!m_posts.isEmpty())
        m_posts.last().handOver = true;
}

void Stage::runNextPost()
{
    if (m_posts.isEmpty())
        return;
    Post post = m_posts.dequeue();
    m_last = std::move(post.command);
    m_handOver = post.handOver;
    activate();
    if (m_handOver) // not queued (played at once, or not found): the record still lets go of it
        recordQueue();
}

void Stage::Form_Activate()
{
    // A time signal asked for again picks its video as the keypad's would.
    if (auto* signal = std::get_if<Cmd::TimeSignal>(&m_last))
        signal->field.clear();
    activate();
}

void Stage::show()
{
    m_showing = true;
    emit visibilityChanged(true);
}

void Stage::activate()
{
    show();
    m_webRoot = readWebRoot(m_paths);
    dispatch(Command(m_last)); // a copy: the stage may leave another command in the slot
}

void Stage::dispatch(const Command& command)
{
    using namespace Cmd;
    const auto yellow = [this](const QString& text) { message(StatusColour::Yellow, text); };
    std::visit(Overloaded{
                   [&](const Start&) { start(); },
                   [&](const CodeError&) { yellow(QStringLiteral("Code Error!")); },
                   [&](const Quit&) { quit(); },
                   [&](const PlayNext&) { playNext(); },
                   [&](const Playing&) { setColour(StatusColour::White); },
                   [&](const NoReservations&) { noReservations(); },
                   [&](const AskStop&) {
                       message(StatusColour::Red, QStringLiteral("この曲の再生を終了しますか？Y:44 N:NoTouch"));
                   },
                   [&](const ReviewNext&) { reviewNext(); },
                   [&](const CancelReviewed&) { cancelReviewed(); },
                   [&](const Stop&) { stopSong(); },
                   [&](const NewestToFront&) {
                       if (!m_queue.isEmpty())
                           moveToFront(newestIndex(), false);
                   },
                   [&](const ReviewedToFront&) {
                       // The first song is the next one already, unless it is held.
                       if (m_selected >= 1 || (m_selected == 0 && m_queue.constFirst().held))
                           moveToFront(m_selected, true);
                   },
                   [&](const ReviewStart&) { reviewStart(); },
                   [&](const TimeSignal& signal) { timeSignal(signal.field); },
                   [&](const FastForward&) { fastForward(); },
                   [&](const AskSingAgain&) { singAgain(false); },
                   [&](const SingAgain&) { singAgain(true); },
                   [&](const Login& login) { yellow(login.user + QStringLiteral("さんがログインしました")); },
                   [&](const Volume& volume) { setVolume(volume.level); },
                   [&](const Reserve& reservation) { reserve(reservation); },
                   [&](const CancelReservation& cancel) { cancelReservation(cancel.id); },
                   [&](const Hold& hold) { this->hold(hold.id, hold.held); },
                   [&](const Key& key) { changeKey(key.semitones); },
                   [&](const Tempo& tempo) { changeTempo(tempo.percent); },
                   [&](const GuideVocal& guide) { switchGuideVocal(guide.on); },
                   [&](const Skip&) { skip(); },
                   [&](const Pause&) { pauseOrResume(); },
                   [&](const Move& move) { moveReservation(move.id, move.to); },
               },
               command);
}

// --- Status line and timers -------------------------------------------------------------------

void Stage::showStatus(StatusColour colour, const QString& text)
{
    m_statusColour = colour;
    m_statusText = text;
    emit statusChanged(m_statusText, m_statusColour);
}

void Stage::message(StatusColour colour, const QString& text)
{
    showStatus(colour, text);
    emit hideCountRestarted();
}

void Stage::setColour(StatusColour colour)
{
    showStatus(colour, m_statusText);
}

void Stage::tmr_visible_Timer()
{
    m_showing = false;
    emit visibilityChanged(false);
}

void Stage::tmr_voldown_Timer()
{
    const double volume = std::round(m_main.volume());
    if (volume > 0)
        m_main.setVolume(std::max(0.0, volume - m_fadeFrom / 50.0));
}

// --- Playback ---------------------------------------------------------------------------------

bool Stage::startPlayback(const Reservation& entry)
{
    const QString video = m_paths.video(entry.number.text());
    if (!QFileInfo(video).isFile()) {
        qCWarning(lcStage) << "no video for song" << entry.number.text() << "at" << video;
        sayUnplayable(entry.number.text());
        return false;
    }
    saveKeyTempo(); // the song before's
    endTurn();      // the song before's, while it is still loaded
    m_main.stop();
    m_main.setMediaPath(video);
    m_main.setKey(entry.keyTempo.key);
    m_main.setTempo(entry.keyTempo.tempo);
    emit playbackStarting();
    m_main.play();
    m_playing = entry;
    m_turnEnded = false;
    m_playEnded = false;
    m_paused = false;
    m_songKeyTempo = {};
    setSongKeyTempo({m_main.key(), m_main.tempo()});
    emit songStarted(entry);
    return true;
}

bool Stage::songPlaying() const
{
    return m_main.isPlaying() && !m_second.isPlaying() && m_main.mediaPath() != m_paths.introVideo();
}

QString Stage::keyTempoBadge() const
{
    QStringList parts;
    if (m_songKeyTempo.key != 0)
        parts << keyText(m_songKeyTempo.key);
    if (m_songKeyTempo.tempo != 0)
        parts << tempoText(m_songKeyTempo.tempo);
    return parts.join(QStringLiteral(" / "));
}

void Stage::setSongKeyTempo(KeyTempo value)
{
    m_songKeyTempo = value;
    emit keyTempoChanged();
    if (!m_playing)
        return;
    // Sung again after a crash, the song starts where the singer has it now. Both records are
    // written once the keys rest or the song ends, not at every press.
    m_playing->keyTempo = value;
    m_unsavedKeyTempo = UnsavedKeyTempo{m_playing->user, m_playing->number, value, m_clock.now()};
}

void Stage::saveRestedKeyTempo()
{
    if (m_unsavedKeyTempo && m_clock.now() >= m_unsavedKeyTempo->changedAt.addMSecs(KeyTempoRestMs))
        saveKeyTempo();
}

void Stage::saveKeyTempo()
{
    if (!m_unsavedKeyTempo)
        return;
    const UnsavedKeyTempo unsaved = *std::exchange(m_unsavedKeyTempo, std::nullopt);
    recordQueue();
    const QString error = rememberKeyTempo(m_paths.singerKeys(), unsaved.user, unsaved.number, unsaved.value);
    if (!error.isEmpty()) {
        qCWarning(lcStage).noquote() << error;
        sayProblem(QStringLiteral("キーとテンポを記録できませんでした：") + error);
    }
}

void Stage::changeKey(int semitones)
{
    if (!songPlaying())
        return;
    m_main.setKey(semitones);
    const int key = m_main.key();
    message(StatusColour::Yellow, QStringLiteral("キー：") + (key == 0 ? QStringLiteral("原曲キー") : keyText(key)));
    setSongKeyTempo({key, m_songKeyTempo.tempo});
}

void Stage::changeTempo(int percent)
{
    if (!songPlaying())
        return;
    m_main.setTempo(percent);
    const int tempo = m_main.tempo();
    message(StatusColour::Yellow,
            QStringLiteral("テンポ：") + (tempo == 0 ? QStringLiteral("原曲テンポ") : tempoText(tempo)));
    setSongKeyTempo({m_songKeyTempo.key, tempo});
}

void Stage::switchGuideVocal(bool on)
{
    if (!songPlaying())
        return;
    if (!m_main.hasGuideVocal()) {
        message(StatusColour::Yellow, QStringLiteral("ガイドボーカルがありません"));
        return;
    }
    m_main.setGuideVocal(on);
    message(StatusColour::Yellow,
            QStringLiteral("ガイドボーカル：") + (m_main.guideVocal() ? QStringLiteral("ON") : QStringLiteral("OFF")));
}

void Stage::reportUnplayable()
{
    sayUnplayable(m_nowPlaying.numberText());
}

void Stage::sayProblem(const QString& text)
{
    show();
    message(StatusColour::Red, text);
}

void Stage::sayUnplayable(const QString& number)
{
    // Said on the strip, so that nobody waits for a song that cannot come.
    sayProblem(QStringLiteral("動画ファイルがありません：(") + number + u')');
    m_holdUntil = m_clock.now().addMSecs(MissingVideoHoldMs);
}

void Stage::showIdleScreen()
{
    saveKeyTempo();
    endTurn(); // while the song is still loaded, to read how far it got
    // The intro's first frame, stopped. When the intro is already there it is only rewound: the
    // idle message comes back after every other message, and loading the file each time would
    // hold up the keypad.
    if (m_main.mediaPath() != m_paths.introVideo()) {
        m_main.setMediaPath(m_paths.introVideo());
        m_main.play();
    }
    m_main.stop();
    m_paused = false;
    if (m_playing) {
        m_playing.reset();
        // A song stopped too soon to be a turn gives its singer their place back.
        if (arrangeQueue()) {
            emit queueChanged();
            publishFull();
        }
        recordQueue();
    }
    if (!m_songKeyTempo.isOriginal()) {
        m_songKeyTempo = {};
        emit keyTempoChanged();
    }
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
    emit hideCountStarted();
}

void Stage::quit()
{
    showStatus(StatusColour::PaleYellow,
               QStringLiteral("Tarv終了します。お疲れ様でした！5秒後に終了します(´・ω・`)ﾉｼ"));
    m_fadeFrom = int(std::round(m_main.volume()));
    emit fadeStarted();
    emit hideCountRestarted();
}

void Stage::noReservations()
{
    showStatus(StatusColour::White, QStringLiteral("予約曲がありません  ゆっくりえらんでね！！！"));
    if (!m_main.isPlaying()) {
        showIdleScreen();
        m_idleShown = true;
    }
    publishWaiting();
    emit hideCountRestarted();
}

void Stage::stopSong()
{
    setColour(StatusColour::Red);
    publishFull();
    showStatus(StatusColour::Red, QStringLiteral("この曲の再生を終了します"));
    showIdleScreen();
    emit hideCountRestarted();
    if (m_lockedNext)
        return; // the control window sees the stopped player and posts "000003"
    showStatus(StatusColour::White, QStringLiteral("予約曲がありません(´・ω:;.:...  ゆっくりえらんでね！！！"));
    if (!m_main.isPlaying()) {
        showIdleScreen();
        m_idleShown = true;
    }
    publishWaiting();
    emit hideCountRestarted();
}

void Stage::skip()
{
    if (!m_playing || m_second.isPlaying())
        return;
    message(StatusColour::White, QStringLiteral("スキップ：") + entryText(*m_playing));
    showIdleScreen();
    // As when the song ends: the next one plays, or the idle message comes.
    if (!m_queue.isEmpty())
        playNext();
}

void Stage::pauseOrResume()
{
    if (!m_playing || m_second.isPlaying())
        return;
    m_paused = !m_paused;
    if (m_paused)
        m_main.pause();
    else
        m_main.play();
    message(StatusColour::Yellow, m_paused ? QStringLiteral("一時停止：") + entryText(*m_playing)
                                           : QStringLiteral("再開：") + entryText(*m_playing));
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
    emit hideCountRestarted();
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
    emit hideCountRestarted();
}

void Stage::setVolume(double level)
{
    const double volume = level * 10;
    m_main.setVolume(volume);
    m_second.setVolume(volume);
    showStatus(StatusColour::Yellow, QStringLiteral("音量：") + decimalText(volume) + u'%');
    emit hideCountRestarted();
}

void Stage::timeSignal(const QString& field)
{
    // Without the switch, or with no video enabled, a time signal changes nothing on the stage.
    if (!m_state.timeSignalsOn() || !m_timeSignals)
        return;
    const std::optional<QString> name = m_timeSignals->chooseVideo(field);
    if (!name)
        return;
    setColour(StatusColour::Yellow);
    // The control window's switch lays the second player over the paused main player.
    m_main.pause();
    m_second.setMediaPath(m_paths.video(*name));
    emit playbackStarting();
    m_second.play();
    showStatus(StatusColour::Yellow, QStringLiteral("時報 NowTime=") + m_clock.now().toString(QStringLiteral("HH:mm")) +
                                         QStringLiteral(" 動画の時間と実際の時間は違う場合があります"));
    emit hideCountRestarted();
}

} // namespace tarv
