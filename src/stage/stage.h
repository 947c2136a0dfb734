#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"
#include "stage/command.h"
#include "stage/queuefile.h"
#include "stage/songlookup.h"
#include "stage/turnorder.h"
#include "timesignal/timesignalsource.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>

#include <optional>

namespace tarv {

class Clock;
class Player;
class QueueRecord;

// Colours of the status line, by the kind of message.
enum class StatusColour { White, Yellow, PaleYellow, Red, Cyan };

struct Rgb
{
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb statusRgb(StatusColour colour)
{
    switch (colour) {
    case StatusColour::White:
        return {255, 255, 255};
    case StatusColour::Yellow:
        return {255, 255, 0};
    case StatusColour::PaleYellow:
        return {255, 255, 192};
    case StatusColour::Red:
        return {255, 0, 0};
    case StatusColour::Cyan:
        return {0, 255, 255};
    }
    return {255, 255, 255};
}

// The stage of karaoke mode: every action of karaoke mode is a command posted here. It holds the
// status line, the reservation queue, the song now playing and the pending count, drives the main
// and second players, and publishes the queue for the web pages. It announces its changes with
// signals; the strip and the timers of karaoke mode connect to them.
//
// The waiting songs stand in the order the operator chose (first come, first served, or turns by
// singer): after every change the stage orders them again with its TurnOrder, so that every view of
// the queue shows them in the order they will be sung. The first one is the next song, locked: it
// stays first until it is taken, cancelled or held, or the operator moves another song to the front.
//
// A post is a command, with the user it is given for inside it. Posting writes the code slot,
// shows the stage and queues the command; the commands are carried out on the event loop after the
// poster's handler has returned, each exactly once and in the order they were posted, however many
// arrive in one turn. A click on the strip runs the last command once more (the stage leaves
// "000004" after "000003" and "000007" after "000012").
class Stage : public QObject
{
    Q_OBJECT

public:
    Stage(Player& mainPlayer, Player& secondPlayer, const AppState& state, AppPaths paths, const Clock& clock,
          QObject* parent = nullptr);
    ~Stage() override;

    void setTimeSignalSource(TimeSignalSource* source);
    // The queue record that every change of the queue is written to (none: the queue is not recorded).
    void setQueueRecord(QueueRecord* record) { m_record = record; }
    // Takes the reservations the record holds (those a crash left, when the operator kept them) as the
    // queue, in order with their users, keys, tempos, phones and ids, and publishes them. Songs no
    // longer in the list are left out.
    void restoreRecordedQueue();

    // Queue a command, write the code slot and show the stage.
    void post(Command command);
    // The last post carries the oldest reservation the guests' pages accepted: once it is carried out
    // the record lets go of that reservation in the same write that queues it.
    void handOverLastPost();
    // Posts made and not carried out yet.
    qsizetype pendingPosts() const { return m_posts.size(); }
    // Carries out, now, the posts that earlier handlers made. Whoever reads the stage to decide
    // (the interpreter, the heartbeat) calls this first, so that a burst of keys handled in one
    // turn of the event loop sees the queue, the slot and the pending count as each key left them.
    void catchUp();

    // The strip was clicked: show the stage, read the web root and run the last command again.
    void Form_Activate();
    // tmr_visible fired: the stage hides itself.
    void tmr_visible_Timer();
    // Remembers the singer's key and tempo once they have rested a moment (the session's heartbeat
    // calls it); a song's end or the next song remembers them at once.
    void saveRestedKeyTempo();
    // tmr_voldown tick: one step of the farewell fade.
    void tmr_voldown_Timer();

    // The last command posted, or the one the stage left in its place (Playing, ReviewNext).
    const Command& lastCommand() const { return m_last; }
    // lbl_title's Tag: the code slot's record of the last command.
    QString codeSlot() const { return tarv::codeSlot(m_last); }
    // The stage window is on screen (from a post until tmr_visible hides it).
    bool isShowing() const { return m_showing; }
    // Reservations waiting: the queue length, or, while nothing in it can be sung next (it is empty,
    // or every song in it is held), 0 and -1 once the idle screen was shown (until the queue changes).
    int pendingCount() const
    {
        if (!m_lockedNext)
            return m_idleShown ? -1 : 0;
        return int(m_queue.size());
    }
    // The song that plays next: the first of the queue, unless every song waiting is held.
    const Reservation* nextSong() const { return m_lockedNext ? &m_queue.constFirst() : nullptr; }

    // The order of the waiting songs; a change orders them again from now on, the next song staying.
    QueueOrder queueOrder() const { return m_turns.order(); }
    void setQueueOrder(QueueOrder order);
    // The singers of this karaoke mode's songs that played for TurnMinimumSeconds (read from the
    // player's position as the song ends), oldest first.
    const QList<SungSong>& turnsSung() const { return m_sung; }

    const NowPlaying& nowPlaying() const { return m_nowPlaying; }
    // The reservation of the song playing; none over the idle screen.
    const std::optional<Reservation>& playing() const { return m_playing; }
    const QList<Reservation>& queue() const { return m_queue; }
    // The entry shown by the review (0-based), -1 for none.
    int selectedIndex() const { return m_selected; }

    QString statusText() const { return m_statusText; }
    StatusColour statusColour() const { return m_statusColour; }

    // tmr_voldown's Tag: the volume the fade started from (50 until the farewell).
    int fadeFrom() const { return m_fadeFrom; }

    Player& mainPlayer() { return m_main; }
    Player& secondPlayer() { return m_second; }

    // The host paused the song playing: it waits where it is, and the next song waits for it.
    bool songPaused() const { return m_paused; }
    // A song is playing (not the idle video, not under a time signal): the singer's keys act now.
    bool songPlaying() const;
    // The key and tempo of the song now playing, in short beside the queue: "♯2 / +10%"; empty
    // when both are the original or no song plays.
    QString keyTempoBadge() const;

    // Why the last write of the queue file failed; empty after a successful or skipped write.
    QString lastPublishError() const { return m_publishError; }

    // A message that must stay readable is on screen (a song whose video is missing): the next
    // song and the idle message wait until this is false.
    bool holdsMessage() const;

    // The song just started cannot be played (its video is unreadable): said as for a missing video.
    void reportUnplayable();
    // Shows the stage with a problem in red: something the operator must know and that karaoke
    // goes on without.
    void sayProblem(const QString& text);
    // Karaoke mode ends: the song playing, if any, is over (songEnded()).
    void endPlay();

signals:
    // Shown from a post or a click until tmr_visible hides it; shown without taking the focus.
    void visibilityChanged(bool showing);
    void statusChanged(const QString& text, StatusColour colour);
    // The queue or its selection changed; read queue() and selectedIndex().
    void queueChanged();
    void nowPlayingChanged();
    // The room's queue changed: the reservation playing, or the waiting ones or their order; read
    // playing() and queue(). The queue record has it already.
    void roomChanged();
    // keyTempoBadge() changed.
    void keyTempoChanged();
    // tmr_visible: restart its 5-second count / start it only when it is not already counting.
    void hideCountRestarted();
    void hideCountStarted();
    // tmr_voldown: the fade ticks start (they run until karaoke mode ends).
    void fadeStarted();
    // A song or a time signal is about to start playing.
    void playbackStarting();
    // A reserved song began to play (not the intro, not a time signal); songEnded() follows once, when
    // it is over: stopped, played out, passed over or left when karaoke mode ends. seconds is how far
    // it got, endedAt the key and tempo the singer left it at.
    void songStarted(const tarv::Reservation& entry);
    void songEnded(int seconds, tarv::KeyTempo endedAt);

private:
    struct Post
    {
        Command command;
        bool handOver = false;
    };

    void runNextPost();
    void activate();
    void dispatch(const Command& command);

    void start();
    void quit();
    void playNext();
    void noReservations();
    void stopSong();
    void reviewStart();
    void reviewNext();
    void showReview(int index); // selects an entry and shows it for review
    void cancelReviewed();
    void cancelReservation(quint64 id);
    void cancelAt(qsizetype index); // said in cyan as the keypad's cancel
    void hold(quint64 id, bool held);
    qsizetype newestIndex() const; // the song 000010 moves: the queue is not empty
    void moveToFront(qsizetype index, bool publish);
    void moveTo(qsizetype index, qsizetype place, bool publish);
    void moveReservation(quint64 id, int to);
    void skip();
    void pauseOrResume();
    void timeSignal(const QString& field);
    void fastForward();
    void singAgain(bool really);
    void setVolume(double level);
    void reserve(const Cmd::Reserve& reserve);
    void changeKey(int semitones);
    void changeTempo(int percent);
    void switchGuideVocal(bool on);
    void setSongKeyTempo(KeyTempo value); // and remember it for the singer
    void saveKeyTempo();

    void show();
    void showStatus(StatusColour colour, const QString& text);
    void message(StatusColour colour, const QString& text); // show, then restart the hide timer
    void setColour(StatusColour colour);
    void sayUnplayable(const QString& number);
    bool startPlayback(const Reservation& entry); // false when the song's video is missing
    void showIdleScreen();
    void clearSelection();
    bool arrangeQueue(); // true when the order changed
    void endTurn();      // the song playing is over: a turn when it played long enough
    void changeQueue();
    void publishWaiting(); // the queue file as it stands: empty when nothing waits
    void recordQueue();
    void setNowPlaying(const Reservation& entry);
    void publishFull();
    void publishEmpty();
    void publish(const QByteArray& content);
    QString entryText(const Reservation& entry) const;

    Player& m_main;
    Player& m_second;
    const AppState& m_state;
    AppPaths m_paths;
    const Clock& m_clock;
    TimeSignalSource* m_timeSignals = nullptr;
    QueueRecord* m_record = nullptr;
    SongLookup m_songs;

    QQueue<Post> m_posts;
    Command m_last;
    bool m_showing = false;
    bool m_idleShown = false; // the idle screen was shown and the queue has not changed since
    bool m_handOver = false;  // the action being carried out hands over an accepted reservation
    NowPlaying m_nowPlaying;
    QList<Reservation> m_queue;
    quint64 m_lastId = 0;
    int m_selected = -1;
    QString m_statusText = QStringLiteral("label");
    StatusColour m_statusColour = StatusColour::White;
    int m_fadeFrom = 50;
    std::optional<QString> m_webRoot;
    QString m_publishError;
    QDateTime m_holdUntil;
    // The reservation of the song now playing, as the queue record keeps it; none over the idle screen.
    std::optional<Reservation> m_playing;
    bool m_paused = false; // by the host, until it resumes or the song goes
    // The song now playing as the singer has it.
    KeyTempo m_songKeyTempo;
    TurnOrder m_turns;
    std::optional<quint64> m_lockedNext; // the next song, first in the queue; none while none can be
    QList<SungSong> m_sung;              // the turns sung so far
    bool m_turnEnded = true;             // the song playing was counted (or not) already
    bool m_playEnded = true;             // songEnded() was said for the song playing
    struct UnsavedKeyTempo
    {
        QString user;
        SongNumber number;
        KeyTempo value;
        QDateTime changedAt;
    };
    std::optional<UnsavedKeyTempo> m_unsavedKeyTempo; // the singer's last change, not yet in singerkeys.txt
};

// The user part of a status text: nothing for "Guest", otherwise the name and " - ".
QString userPart(const QString& user);

} // namespace tarv
