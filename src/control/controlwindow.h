#pragma once

#include "control/karaokesession.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QTimer;

namespace tarv {

class IdlePicture;
class MpvPlayer;
class NextSingerCardView;
class PlayerView;
class Player;
class QrCodeView;
class StageWindow;

// Form2: the one full-screen window of karaoke mode. It holds the song player GomX1, the
// time-signal player GomX2 laid over it, the stage strip Form3 above both, and the command box
// txt_input above the visible area, which keeps the keyboard focus for the whole of karaoke mode.
// Its keys go to the session's command entry; the session's logic never lives here.
class ControlWindow : public QWidget, public KaraokeView
{
    Q_OBJECT

public:
    explicit ControlWindow(QWidget* parent = nullptr);
    ~ControlWindow() override;

    // The players whose frames GomX1 and GomX2 show; they are not owned.
    void setPlayers(MpvPlayer* main, MpvPlayer* second);
    // The attached players; only once setPlayers() has given them.
    Player& mainPlayer();
    Player& secondPlayer();
    PlayerView* mainPlayerView() const { return GomX1; }
    PlayerView* secondPlayerView() const { return GomX2; }
    QLineEdit* commandBox() const { return txt_input; }
    StageWindow* stageWindow() const { return m_stage; }

    // The session the window shows and drives (its stage goes on the strip); nullptr detaches it.
    void setSession(KaraokeSession* session);

    // Covers the screen; tmr_active then lays the players out and gives the command box the focus.
    void start();
    // Covers its screen (setScreen() chooses which) whole.
    void coverScreen();

    // The address guests open on their phones, shown with its QR code over the idle screen; empty
    // when there is none (no guest pages, no network).
    void setGuestUrl(const QString& url);
    QWidget* guestInvite() const { return m_invite; }
    // The card that calls the next singer, over the players at the bottom left; hidden while empty.
    QWidget* nextSingerCard() const;

    // KaraokeView
    void focusCommandBox() override;
    void setMainPlayerVisible(bool visible) override;
    void setSecondPlayerVisible(bool visible) override;
    void setGuestInviteVisible(bool visible) override;
    void setIdlePictureVisible(bool visible) override;
    void setNextSingerCard(const NextSingerCard& card) override;

signals:
    // Closed from the desktop: karaoke mode ends at once.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void tmr_active_Timer();
    void layoutChildren();
    void placeNextSingerCard();

    KaraokeSession* m_session = nullptr;
    PlayerView* GomX1 = nullptr;
    PlayerView* GomX2 = nullptr;
    StageWindow* m_stage = nullptr;       // Form3
    IdlePicture* m_idlePicture = nullptr; // the program's name, where no intro video gives a picture
    NextSingerCardView* m_card = nullptr;
    QWidget* m_invite = nullptr; // the guests' address and QR code, bottom right
    QrCodeView* m_inviteCode = nullptr;
    QLabel* m_inviteUrl = nullptr;
    QLineEdit* txt_input = nullptr;
    QTimer* tmr_active = nullptr;
};

} // namespace tarv
