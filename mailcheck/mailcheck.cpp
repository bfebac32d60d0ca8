#include "mailcheck.h"

#include "arrivedmail.h"
#include "blanks.h"
#include "clock.h"
#include "desktop.h"
#include "generalstuff.h"
#include "mailcheckview.h"
#include "mailports.h"
#include "oauthflow.h"
#include "passwordentry.h"
#include "programinfo.h"
#include "settingsstore.h"
#include "statuscolors.h"
#include "tokenrefresher.h"

#include <utility>

#include <QNetworkInformation>

MailCheck::MailCheck(GeneralStuff& run, SettingsStore& store, NetworkAccess& network, Clock& clock,
                     Desktop& desktop, MailCheckView& view, QObject* parent)
    : QObject(parent), m_run(run), m_store(store), m_network(network), m_clock(clock), m_desktop(desktop),
      m_view(view), m_notification(run, clock, desktop, view), m_utcClock(clock), m_imap(m_utcClock)
{
    Timer1.setInterval(5000);
    connect(&Timer1, &QTimer::timeout, this, &MailCheck::Timer1_Timer);
    // Queued: the end of a check can open modal windows (the reader question,
    // the error box), and a socket does not deliver its data again while one of
    // its own signals is still being handled. From inside readyRead, a check
    // started while the question is open would never hear its server.
    connect(&m_conversation, &Pop3Conversation::ended, this, &MailCheck::conversationEnded,
            Qt::QueuedConnection);
    connect(&m_conversation, &Pop3Conversation::dialogue, this, &MailCheck::dialogue);
    // Queued for the same reason: the watcher tells from inside readyRead.
    connect(&m_imap, &ImapWatcher::counted, this, &MailCheck::imapCounted, Qt::QueuedConnection);
    connect(&m_imap, &ImapWatcher::failed, this, &MailCheck::imapFailed, Qt::QueuedConnection);
    connect(&m_imap, &ImapWatcher::idlingChanged, this,
            [this](bool idling) { m_run.AwaitingNotice = idling; });
    connect(&m_imap, &ImapWatcher::dialogue, this, &MailCheck::dialogue);
}

MailCheck::~MailCheck() = default;

void MailCheck::start()
{
    m_started = true;
    Timer1.setInterval(100);
    Timer1.start();
}

void MailCheck::stop()
{
    m_started = false;
    Timer1.stop();
    m_imap.stop();
}

void MailCheck::pause()
{
    Timer1.stop();
    // What the watched folder counts meanwhile waits until the dialog is closed.
    m_imap.hold(true);
}

void MailCheck::resume()
{
    m_imap.hold(false);
    // Watching another server, folder or account than the profile now names:
    // connect anew. Anything else that was applied is read at the next count.
    if (m_imap.isWatching() &&
        (!isImap() || !sameConnection(m_imap.options(), imapOptions()) ||
         m_imap.conversation().connection().security() != m_run.ProfileSettings.Security)) {
        m_imap.stop();
        m_run.AwaitingNotice = false;
        if (m_started && !m_checking && isImap()) {
            startCheck();
            return;
        }
    }
    // A check under way resumes the timer itself when it ends.
    if (m_started && !m_checking)
        Timer1.start();
}

bool MailCheck::sameConnection(const ImapSession::Options& a, const ImapSession::Options& b)
{
    // A refreshed token is no reason to reconnect; signing in another way is.
    return a.userName == b.userName && a.password == b.password &&
           a.bearerToken.isEmpty() == b.bearerToken.isEmpty() && a.host == b.host && a.port == b.port &&
           a.folder == b.folder && a.startTls == b.startTls && a.fetchHeaders == b.fetchHeaders;
}

bool MailCheck::isImap() const
{
    return m_run.ProfileSettings.Protocol == 1;
}

qint64 MailCheck::minutesBetween(const QDateTime& from, const QDateTime& to)
{
    auto wallMinutes = [](const QDateTime& moment) {
        return moment.date().toJulianDay() * 24 * 60 + moment.time().hour() * 60 + moment.time().minute();
    };
    return wallMinutes(to) - wallMinutes(from);
}

void MailCheck::Timer1_Timer()
{
    if (isImap())
        m_imap.checkClock();
    if (!m_run.LastCheckTime.isNull() && !checkIsDue())
        return;
    if (m_checking)
        return;
    // The passwords are still on their way from the desktop keyring; a later
    // tick starts the check once they are here (or the keyring has failed).
    if (m_run.PasswordsPending)
        return;
    // A watched folder tells of its mail itself; a lost connection is retried
    // by the watcher.
    if (isImap() && m_imap.isWatching())
        return;
    startCheck();
}

bool MailCheck::checkIsDue()
{
    // Most ticks end here, without allocating or reading anything.
    const int interval = m_run.ProfileSettings.Interval;
    if (!m_nextCheck.mayHaveCome(m_run.LastCheckTime, interval, m_clock.msecsSinceEpoch()))
        return false;
    const QDateTime now = m_clock.now();
    if (minutesBetween(m_run.LastCheckTime, now) >= interval)
        return true;
    m_nextCheck.workOut(m_run.LastCheckTime, interval, now);
    return false;
}

void MailCheck::startCheck()
{
    m_checking = true;
    // A check run by hand starts the pacing too.
    m_started = true;
    Timer1.stop();
    Timer1.setInterval(5000);
    m_view.setStatusColor(StatusColors::checking());
    m_view.setStatusText(QStringLiteral("Starting"));

    if (signsInWithProvider()) {
        // The check goes on once the token is here (connectToServer).
        m_awaitingToken = true;
        tokens().setConfig(oauthConfig());
        tokens().requestAccessToken();
        return;
    }
    if (trimBlanks(m_run.ProfileSettings.Password).isEmpty()) {
        // Typed passwords live for this run only; the prompt never stores them.
        PasswordEntry prompt(m_run.ProfileSettings);
        m_desktop.execDialog(prompt);
    }
    connectToServer();
}

void MailCheck::connectToServer()
{
    m_view.setStatusText(QStringLiteral("Checking Mail"));
    // The record is read as it is now: the prompt may just have filled it.
    if (isImap()) {
        configure(m_imap.conversation().connection());
        m_imap.start(imapOptions());
        return;
    }
    configure(m_conversation.connection());
    const ProfileSettings& settings = m_run.ProfileSettings;
    m_conversation.connectToServer(
        {settings.UserName, settings.Password, m_accessToken, settings.ServerName, profilePort(settings)});
}

void MailCheck::configure(MailConnection& connection) const
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    const quint16 overridePort = isImap() ? m_imapPortOverride : m_portOverride;
    connection.setRemote(settings.ServerName, overridePort ? overridePort : profilePort(settings));
    connection.setSecurity(settings.Security, settings.TrustedCertificate);
    connection.addCaCertificates(m_extraCas);
}

ImapSession::Options MailCheck::imapOptions() const
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    ImapSession::Options options;
    options.userName = settings.UserName;
    options.password = settings.Password;
    options.host = settings.ServerName;
    options.port = profilePort(settings);
    options.folder = settings.Folder.isEmpty() ? QStringLiteral("INBOX") : settings.Folder;
    options.startTls = settings.Security == MailConnection::StartTls;
    options.tlsRequired = options.startTls;
    options.bearerToken = m_accessToken;
    options.fetchHeaders = settings.ShowSenders == 1;
    return options;
}

bool MailCheck::signsInWithProvider() const
{
    return m_run.ProfileSettings.Auth == 1;
}

OAuthConfig MailCheck::oauthConfig() const
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    OAuthConfig config;
    config.clientId = settings.OAuthClientId;
    config.clientSecret = m_run.OAuthSecret;
    config.authorizeUrl = QUrl(settings.OAuthAuthorizeUrl);
    config.tokenUrl = QUrl(settings.OAuthTokenUrl);
    config.scope = settings.OAuthScope;
    return config;
}

TokenRefresher& MailCheck::tokens()
{
    // Made for a profile that signs in with the provider only.
    if (m_tokens)
        return *m_tokens;
    m_tokens = std::make_unique<TokenRefresher>(m_network);
    m_tokens->setClock([this] { return m_clock.now(); });
    m_tokens->setRefreshToken(m_run.OAuthRefreshToken);
    m_tokens->setStoreRefreshToken([this](const QString& refreshToken) {
        // Every new refresh token replaces the stored one.
        m_run.OAuthRefreshToken = refreshToken;
        emit refreshTokenChanged(refreshToken);
    });
    connect(m_tokens.get(), &TokenRefresher::accessTokenReady, this, [this](const QString& token) {
        m_accessToken = token;
        if (std::exchange(m_awaitingToken, false))
            connectToServer();
    });
    connect(m_tokens.get(), &TokenRefresher::signInRequired, this, [this](const QString&) {
        if (m_awaitingToken)
            askToSignIn();
    });
    connect(m_tokens.get(), &TokenRefresher::failed, this, [this](const QString& message) {
        if (std::exchange(m_awaitingToken, false))
            signInFailed(message);
    });
    return *m_tokens;
}

OAuthFlow& MailCheck::signInFlow()
{
    if (m_signIn)
        return *m_signIn;
    m_signIn = std::make_unique<OAuthFlow>(m_network, m_desktop);
    connect(m_signIn.get(), &OAuthFlow::signedIn, this, [this](const OAuthTokens& signedIn) {
        tokens().takeTokens(signedIn);
        if (auto done = std::exchange(m_signedInThen, {}))
            done(QString());
    });
    connect(m_signIn.get(), &OAuthFlow::failed, this, [this](const QString& message) {
        if (auto done = std::exchange(m_signedInThen, {}))
            done(message);
    });
    return *m_signIn;
}

void MailCheck::signIn(const OAuthConfig& config, std::function<void(const QString& error)> done)
{
    m_signedInThen = std::move(done);
    tokens().setConfig(config);
    signInFlow().start(config);
}

void MailCheck::askToSignIn()
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    const auto answer = m_desktop.message(m_view.dialogParent(), QMessageBox::Question, ProgramInfo::title(),
                                          QStringLiteral("Sign in to ") + settings.ServerName +
                                              QStringLiteral(" in your web browser?"),
                                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        signInFailed(QString());
        return;
    }
    // The check goes on with the token the sign-in brings.
    signIn(oauthConfig(), [this](const QString& error) {
        if (!error.isEmpty()) {
            signInFailed(error);
            return;
        }
        m_awaitingToken = true;
        tokens().requestAccessToken();
    });
}

void MailCheck::signInFailed(const QString& message)
{
    m_awaitingToken = false;
    // The provider's own words are for the user, never only for a log.
    if (!message.isEmpty())
        m_desktop.message(m_view.dialogParent(), QMessageBox::Warning, ProgramInfo::title(), message);
    m_view.setStatusColor(StatusColors::failure());
    m_view.setStatusText(QStringLiteral("Cannot logon"));
    endConversation();
    emit checkEnded();
}

void MailCheck::watchNetwork()
{
    // Loaded only once a kept connection has been lost: the watcher then waits
    // to retry, and the network coming back cuts the wait short. Loading it
    // costs a bus connection, a thread and some megabytes, for nothing while
    // the connection holds. A backend that cannot tell, or none at all, never
    // stops the checks: the watcher's own retries go on regardless.
    if (m_networkWatched)
        return;
    m_networkWatched = true;
    // GLib's network monitor first: it reads the kernel's routes itself, where
    // NetworkManager's backend asks over the system bus.
    if (!QNetworkInformation::loadBackendByName(QStringLiteral("glib")) &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    m_imap.networkBack();
            });
}

void MailCheck::checkNow()
{
    m_run.LastCheckTime = QDateTime();
    // Refresh is the user asking again: a certificate refused earlier is asked about anew.
    m_declinedFingerprint.clear();
    if (isImap() && m_imap.isWatching()) {
        m_imap.countNow();
        return;
    }
    Timer1_Timer();
}

void MailCheck::keepGreeting(const CheckOutcome& outcome)
{
    // What the About box shows: the latest greeting, also of a check that failed after it.
    if (outcome.greeted) {
        m_run.ServerGreeting = outcome.greeting;
        m_run.ServerTransport = outcome.transport;
    }
}

void MailCheck::imapCounted(const CheckOutcome& outcome)
{
    keepGreeting(outcome);
    m_run.ConnectionNote.clear();
    tokenWorked();
    endConversation();
    m_notification.handleCount(outcome.count, outcome.arrived, sendersOf(outcome));
    emit checkEnded();
}

QString MailCheck::sendersOf(const CheckOutcome& outcome) const
{
    // Headers fetched before the box was cleared are not shown any more.
    if (m_run.ProfileSettings.ShowSenders != 1 || outcome.arrivedHeaders.isEmpty())
        return QString();
    QList<ArrivedMail> mails;
    for (const QByteArray& header : outcome.arrivedHeaders)
        mails.append(ArrivedMail::fromHeader(header));
    return ArrivedMail::notificationBody(mails, qMax(outcome.arrivals, int(mails.size())));
}

void MailCheck::imapFailed(const CheckOutcome& outcome, bool willRetry)
{
    if (!willRetry) {
        m_run.ConnectionNote.clear();
        conversationEnded(outcome);
        return;
    }
    watchNetwork();
    keepGreeting(outcome);
    // No box: the watcher reconnects by itself. A count already shown stays
    // while it does; the tooltip and the About box say why.
    m_run.ConnectionNote = QStringLiteral("Reconnecting: ") + outcome.description;
    emit dialogue(m_run.ConnectionNote);
    if (m_run.LastCheckTime.isNull() || m_checking) {
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Problem."));
    }
    m_view.UpdateTrayIcon();
    endConversation();
    emit checkEnded();
}

void MailCheck::conversationEnded(const CheckOutcome& outcome)
{
    keepGreeting(outcome);
    if (outcome.end == CheckOutcome::End::TokenRefused && m_tokens && !std::exchange(m_tokenRetried, true)) {
        // Refreshed once, and the check tried again with the new token.
        m_awaitingToken = true;
        m_tokens->tokenRefused();
        return;
    }
    if (outcome.end == CheckOutcome::End::Counted)
        tokenWorked();
    switch (outcome.end) {
    case CheckOutcome::End::Counted:
        endConversation();
        m_notification.handleCount(outcome.count);
        // When the next check falls due is worked out now, with the check's
        // own work, rather than at the first tick of the idle time after it.
        checkIsDue();
        emit checkEnded();
        return;
    case CheckOutcome::End::InvalidUser:
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Invalid UserID"));
        break;
    case CheckOutcome::End::CannotLogon:
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Cannot logon"));
        // In memory only: the next check asks for the password again.
        m_run.ProfileSettings.Password.clear();
        break;
    case CheckOutcome::End::UntrustedCertificate:
        // Nothing has been sent over this connection; it goes before the question.
        m_conversation.close();
        if (askToTrustCertificate(outcome)) {
            // Straight into the next check, which now accepts the certificate.
            m_checking = false;
            m_imap.stop();
            startCheck();
            return;
        }
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Problem."));
        break;
    case CheckOutcome::End::TokenRefused:
        m_tokenRetried = false;
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Cannot logon"));
        break;
    case CheckOutcome::End::ServerClosed:
    case CheckOutcome::End::SocketError:
        // The conversation has already let go of the server while the user reads this.
        if (!isImap())
            m_desktop.message(
                m_view.dialogParent(), QMessageBox::Warning, ProgramInfo::title(),
                QStringLiteral("The following TCP/IP communications error was reported: \r\n\r\n") +
                    outcome.description);
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Problem."));
        break;
    }
    endConversation();
    emit checkEnded();
}

QString MailCheck::fingerprintLines(const QString& fingerprint)
{
    // A SHA-256 fingerprint is 32 pairs: two lines of 16, never broken inside a pair.
    const QStringList pairs = fingerprint.split(QLatin1Char(':'));
    QStringList lines;
    for (qsizetype first = 0; first < pairs.size(); first += FingerprintPairsPerLine)
        lines.append(pairs.mid(first, FingerprintPairsPerLine).join(QLatin1Char(':')));
    return lines.join(QStringLiteral("\r\n"));
}

void MailCheck::tokenWorked()
{
    m_tokenRetried = false;
    if (m_tokens)
        m_tokens->tokenAccepted();
}

bool MailCheck::askToTrustCertificate(const CheckOutcome& outcome)
{
    ProfileSettings& settings = m_run.ProfileSettings;
    // No holds for a while: the same certificate is not asked about again until
    // Interval minutes have passed or the user chooses Refresh.
    if (!m_declinedFingerprint.isEmpty() && m_declinedFingerprint == outcome.certificateFingerprint &&
        minutesBetween(m_declinedAt, m_clock.now()) < settings.Interval)
        return false;
    const QString crlf = QStringLiteral("\r\n");
    QString text;
    if (!settings.TrustedCertificate.isEmpty())
        text += QStringLiteral("The certificate of the POP3 server ") + settings.ServerName +
                QStringLiteral(" has changed.") + crlf;
    text += QStringLiteral("The POP3 server ") + settings.ServerName +
            QStringLiteral(" presented a certificate that cannot be trusted:") + crlf + crlf;
    for (const QString& error : outcome.certificateErrors)
        text += error + crlf;
    text += crlf + QStringLiteral("SHA-256 fingerprint:") + crlf +
            fingerprintLines(outcome.certificateFingerprint) + crlf + crlf +
            QStringLiteral("Trust this certificate for profile ") + settings.ProfileName +
            QStringLiteral(" ?");
    // The check stays under way while the question is open, so no other check
    // can start and ask the same question on top of it.
    const auto answer = m_desktop.message(m_view.dialogParent(), QMessageBox::Question, ProgramInfo::title(),
                                          text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || outcome.certificateFingerprint.isEmpty()) {
        m_declinedFingerprint = outcome.certificateFingerprint;
        m_declinedAt = m_clock.now();
        return false;
    }
    m_declinedFingerprint.clear();
    settings.TrustedCertificate = outcome.certificateFingerprint;
    if (!m_store.saveKey(settings, &ProfileSettings::TrustedCertificate))
        qWarning("PostOwl: the trusted certificate could not be saved");
    return true;
}

void MailCheck::endConversation()
{
    m_conversation.close();
    m_checking = false;
    if (m_started)
        Timer1.start();
}

quint16 MailCheck::profilePort(const ProfileSettings& settings)
{
    return settings.Port != 0 ? settings.Port : standardPort(settings.Protocol, settings.Security);
}
