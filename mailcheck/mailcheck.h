#pragma once

#include "checkoutcome.h"
#include "clock.h"
#include "imapwatcher.h"
#include "newmailnotification.h"
#include "nextcheckdue.h"
#include "pop3conversation.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class Clock;
class NetworkAccess;
class OAuthFlow;
class TokenRefresher;
struct OAuthConfig;
struct OAuthTokens;
class Desktop;
class MailCheckView;
class SettingsStore;
struct GeneralStuff;
struct ProfileSettings;

// Paces the checks and runs one at a time: Timer1 ticks every five seconds,
// and once Interval minutes have passed since the last completed check (or
// none has completed yet) a tick starts the next POP3 conversation.
class MailCheck : public QObject
{
    Q_OBJECT

public:
    // A certificate the user chooses to trust during a check is kept in the store at once.
    // The network carries the sign-in with the provider, for a profile that uses it.
    MailCheck(GeneralStuff& run, SettingsStore& store, NetworkAccess& network, Clock& clock, Desktop& desktop,
              MailCheckView& view, QObject* parent = nullptr);
    ~MailCheck() override;

    // First tick 100 ms from now, then every five seconds.
    void start();
    // Ends the run's checking for good: no tick, no resume.
    void stop();
    // No new check starts until resume(); one already under way still ends
    // and then ticks again by itself.
    void pause();
    // Ticks again once checking has begun (start(), or a check run now);
    // before that it does nothing, so closing a dialog can never start checks
    // the run did not ask for.
    void resume();
    // Refresh: forgets the last check and ticks at once.
    void checkNow();
    // One tick of Timer1: starts a check when one is due.
    void Timer1_Timer();

    bool isChecking() const { return m_checking; }
    Pop3Session::State Pop3State() const { return m_conversation.Pop3State(); }
    bool isTicking() const { return Timer1.isActive(); }
    int tickInterval() const { return Timer1.interval(); }
    // Replace the profile's port, for trials; 0 goes back to the profile's.
    void setPort(quint16 port) { m_portOverride = port; }
    void setImapPort(quint16 port) { m_imapPortOverride = port; }
    // The watcher of an IMAP profile's folder.
    ImapWatcher& imapWatcher() { return m_imap; }
    // The profile's port, or the standard one of its security.
    static quint16 profilePort(const ProfileSettings& settings);
    void setStallTimeout(int milliseconds) { m_conversation.connection().setStallTimeout(milliseconds); }
    void setDeadline(int milliseconds) { m_conversation.connection().setDeadline(milliseconds); }
    // Certificate authorities trusted besides the system's, for tests.
    void addCaCertificates(const QList<QSslCertificate>& certificates) { m_extraCas += certificates; }

    // Whole minute boundaries crossed from one moment to the other, on the wall clock.
    static qint64 minutesBetween(const QDateTime& from, const QDateTime& to);
    // "aa:bb:…" in lines of 16 pairs, as the trust question shows it.
    static QString fingerprintLines(const QString& fingerprint);
    static constexpr int FingerprintPairsPerLine = 16;

    // Runs the provider's sign-in in the user's browser; done gets the empty
    // text on success, else why not, for the user.
    void signIn(const OAuthConfig& config, std::function<void(const QString& error)> done);

signals:
    // The provider handed out a new refresh token: the keyring keeps it.
    void refreshTokenChanged(const QString& refreshToken);
    // A check has ended, counted or failed, and its result is shown.
    void checkEnded();
    // Each command sent (the password masked), each reply line received, and
    // the TLS protocol and certificate errors once known.
    void dialogue(const QString& line);

private:
    void startCheck();
    void connectToServer();
    bool signsInWithProvider() const;
    OAuthConfig oauthConfig() const;
    TokenRefresher& tokens();
    OAuthFlow& signInFlow();
    void askToSignIn();
    void signInFailed(const QString& message);
    void tokenWorked();
    bool checkIsDue();
    void conversationEnded(const CheckOutcome& outcome);
    void keepGreeting(const CheckOutcome& outcome);
    bool isImap() const;
    void configure(MailConnection& connection) const;
    ImapSession::Options imapOptions() const;
    static bool sameConnection(const ImapSession::Options& a, const ImapSession::Options& b);
    void watchNetwork();
    void imapCounted(const CheckOutcome& outcome);
    // The desktop notification's lines naming what arrived; empty when the
    // profile does not show them.
    QString sendersOf(const CheckOutcome& outcome) const;
    void imapFailed(const CheckOutcome& outcome, bool willRetry);
    // Asks whether to trust the certificate the conversation refused; true on Yes.
    bool askToTrustCertificate(const CheckOutcome& outcome);
    void endConversation();

    QTimer Timer1;
    Pop3Conversation m_conversation;
    GeneralStuff& m_run;
    SettingsStore& m_store;
    NetworkAccess& m_network;
    Clock& m_clock;
    Desktop& m_desktop;
    MailCheckView& m_view;
    NewMailNotification m_notification;
    NextCheckDue m_nextCheck;
    UtcClock m_utcClock; // the watcher only measures time between ticks
    ImapWatcher m_imap;
    quint16 m_portOverride = 0;
    quint16 m_imapPortOverride = 0;
    QList<QSslCertificate> m_extraCas;
    bool m_networkWatched = false;
    // Signing in with the provider, made for a profile that does.
    std::unique_ptr<TokenRefresher> m_tokens;
    std::unique_ptr<OAuthFlow> m_signIn;
    std::function<void(const QString&)> m_signedInThen;
    QString m_accessToken;        // in memory only
    bool m_awaitingToken = false; // a check waits for the token
    bool m_tokenRetried = false;  // refused once, refreshed and tried again
    // The certificate the user last refused to trust, and when.
    QString m_declinedFingerprint;
    QDateTime m_declinedAt;
    bool m_checking = false;
    bool m_started = false;
};
