#pragma once

#include "common/apppaths.h"
#include "common/appstate.h"
#include "stage/queuefile.h"
#include "stage/songlookup.h"
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

// What the stage logic asks of the strip that shows it.
class StageView
{
public:
    virtual ~StageView() = default;

    // Show the strip over the videos, without taking the keyboard focus.
    virtual void showStage() = 0;
    virtual void hideStage() = 0;

    virtual void statusChanged(const QString& text, StatusColour colour) = 0;
    // The queue or its selection changed; read Stage::queue() and Stage::selectedIndex().
    virtual void queueChanged() = 0;
    virtual void nowPlayingChanged() = 0;
};

// The stage's two timers, kept by whoever runs karaoke mode: tmr_visible (5 s, single shot, calls
// Stage::tmr_visible_Timer) and tmr_voldown (100 ms, calls Stage::tmr_voldown_Timer).
class StageTimers
{
public:
    virtual ~StageTimers() = default;
    // tmr_visible: restart its 5-second count / start it only when it is not already counting.
    virtual void restartHideTimer() = 0;
    virtual void startHideTimer() = 0;
    // tmr_voldown: start the fade ticks (they run until karaoke mode ends).
    virtual void startFade() = 0;
};

// The stage of karaoke mode: every action of karaoke mode is a code posted here. It holds the
// status line, the reservation queue, the song now playing and the pending count, drives the main
// and second players, and publishes the queue for the web pages.
//
// A post is a code and the user it is given for. It writes the code slot, shows the stage and
// queues the post; the posts are carried out on the event loop after the poster's handler has
// returned, each exactly once and in the order they were made, however many arrive in one turn.
// A click on the strip runs the slot once more, which repeats the last action (the stage leaves
// "000004" after "000003" and "000007" after "000012").
class Stage : public QObject
{
    Q_OBJECT

public:
    Stage(Player& mainPlayer, Player& secondPlayer, const AppState& state, AppPaths paths, const Clock& clock,
          QObject* parent = nullptr);
    ~Stage() override;

    // The strip and the timers; without them nothing is drawn and nothing is timed.
    void setView(StageView* view);
    void setTimers(StageTimers* timers);
    void setTimeSignalSource(TimeSignalSource* source);
    // The queue record that every change of the queue is written to (none: the queue is not recorded).
    void setQueueRecord(QueueRecord* record) { m_record = record; }
    // Takes the reservations the record holds (those a crash left, when the operator kept them) as the
    // queue, in order with their users, and publishes them. Songs no longer in the list are left out.
    void restoreRecordedQueue();

    // Queue a code for the current user, write the code slot and show the stage.
    void post(QStringView code);
    // Post "000013" for a time item that fired, with the item's file field.
    void postTimeSignal(const QString& field);
    // The last post carries the oldest reservation the guests' pages accepted: once it is carried out
    // the record lets go of that reservation in the same write that queues it.
    void handOverLastPost();
    // Posts made and not carried out yet.
    qsizetype pendingPosts() const { return m_posts.size(); }
    // Carries out, now, the posts that earlier handlers made. Whoever reads the stage to decide
    // (the interpreter, the heartbeat) calls this first, so that a burst of keys handled in one
    // turn of the event loop sees the queue, the slot and the pending count as each key left them.
    void catchUp();

    // The strip was clicked: show the stage, read the web root and run the code slot again.
    void Form_Activate();
    // tmr_visible fired: the stage hides itself.
    void tmr_visible_Timer();
    // tmr_voldown tick: one step of the farewell fade.
    void tmr_voldown_Timer();

    // lbl_title's Tag: the last code posted, or "000004" / "000007" left by the stage itself.
    QString codeSlot() const { return m_codeSlot; }
    // The stage window is on screen (from a post until tmr_visible hides it).
    bool isShowing() const { return m_showing; }
    // Reservations waiting: the queue length after each change, or -1 once the idle screen was shown.
    int pendingCount() const { return m_pendingCount; }
    // lbl_user: the user on whose behalf the next code is given ("Guest" at start and for the
    // keypad). A post takes the name as it is when the post is made.
    QString currentUser() const { return m_currentUser; }
    // Carries out the posts of earlier handlers first: a reservation among them clears the name, and
    // must not clear the one set now for the next code.
    void setCurrentUser(const QString& user);

    const NowPlaying& nowPlaying() const { return m_nowPlaying; }
    const QList<QueueEntry>& queue() const { return m_queue; }
    // The entry shown by the review (0-based), -1 for none.
    int selectedIndex() const { return m_selected; }

    QString statusText() const { return m_statusText; }
    StatusColour statusColour() const { return m_statusColour; }

    // tmr_voldown's Tag: the volume the fade started from (50 until the farewell).
    int fadeFrom() const { return m_fadeFrom; }

    Player& mainPlayer() { return m_main; }
    Player& secondPlayer() { return m_second; }

    // Why the last write of the queue file failed; empty after a successful or skipped write.
    QString lastPublishError() const { return m_publishError; }

    // A message that must stay readable is on screen (a song whose video is missing): the next
    // song and the idle message wait until this is false.
    bool holdsMessage() const;

private:
    struct Post
    {
        QString code;
        QString user;
        QString field; // of the time item that fired a time signal
        bool handOver = false;
    };

    void runNextPost();
    void activate(const QString& user);
    void dispatch(const QString& code);

    void start();                                    // 000000
    void quit();                                     // 000002
    void playNext();                                 // 000003
    void noReservations();                           // 000005
    void stopSong();                                 // 000009
    void reviewStart();                              // 000012
    void reviewNext();                               // 000007
    void showReview(int index);                      // selects an entry and shows it for review
    void cancelReviewed();                           // 000008
    void moveToFront(qsizetype index, bool publish); // 000010, 000011
    void timeSignal();                               // 000013
    void fastForward();                              // 000014
    void singAgain(bool really);                     // 000015, 000016
    void setVolume(const QString& step);
    void reserve(const QString& number);

    void showStatus(StatusColour colour, const QString& text);
    void message(StatusColour colour, const QString& text); // show, then restart the hide timer
    void setColour(StatusColour colour);
    void restartHideTimer();
    bool startPlayback(const QString& number); // false when the song's video is missing
    void showIdleScreen();
    void setPendingCount(int count);
    void clearSelection();
    void queueChanged();
    void recordQueue();
    void setNowPlaying(NowPlaying now);
    void publishFull();
    void publishEmpty();
    QString entryText(const QueueEntry& entry) const;

    StageView& view();
    StageTimers& timers();

    Player& m_main;
    Player& m_second;
    const AppState& m_state;
    AppPaths m_paths;
    const Clock& m_clock;
    StageView* m_view = nullptr;
    StageTimers* m_timers = nullptr;
    TimeSignalSource* m_timeSignals = nullptr;
    QueueRecord* m_record = nullptr;
    SongLookup m_songs;

    QQueue<Post> m_posts;
    QString m_codeSlot;
    bool m_showing = false;
    int m_pendingCount = 0;
    QString m_currentUser = QStringLiteral("Guest");
    QString m_actionUser;  // the user of the action being carried out
    QString m_actionField; // the time item's field of a time signal being carried out
    bool m_handOver = false; // the action being carried out hands over an accepted reservation
    NowPlaying m_nowPlaying;
    QList<QueueEntry> m_queue;
    int m_selected = -1;
    QString m_statusText = QStringLiteral("label");
    StatusColour m_statusColour = StatusColour::White;
    int m_fadeFrom = 50;
    std::optional<QString> m_webRoot;
    QString m_publishError;
    QDateTime m_holdUntil;
};

// The user part of a status text: nothing for "Guest", otherwise the name and " - ".
QString userPart(const QString& user);

} // namespace tarv
