#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that ask a program to end (SIGTERM from a logout or the
// task manager, SIGHUP when the terminal goes, SIGINT from Ctrl+C) into a Qt
// signal on the event loop, so the run ends the orderly way Exit does.
//
// The C handler may only do async-signal-safe things: it writes the signal's
// number into one end of a socket pair; a QSocketNotifier on the other end
// wakes the event loop, which emits received().
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

signals:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
};
