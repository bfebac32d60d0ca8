#pragma once

#include "fakeclock.h"
#include "fakedesktop.h"
#include "generalstuff.h"
#include "mailcheck.h"
#include "networkaccess.h"
#include "recordingview.h"
#include "temporarystore.h"

// The program's real mail check with everything around it stood in for but
// the network: a profile for alice on 127.0.0.1 at the given port.
struct MailCheckRig
{
    explicit MailCheckRig(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));

    // Forces a check (Refresh) and waits until it has ended one way or the other.
    bool checkOnce();
    // One tick of Timer1 as the event loop would deliver it; true when it
    // started a check, which is then waited for.
    bool tick();

    GeneralStuff run;
    TemporaryStore settings;
    FakeClock clock;
    FakeDesktop desktop;
    RecordingView view;
    NetworkAccess network;
    MailCheck check;
};

// Answers the password prompt: types the text and presses Enter.
FakeDesktop::DialogAction typePassword(const QString& password);
