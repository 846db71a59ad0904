#ifndef RATECONTROLLER_H
#define RATECONTROLLER_H

#include "downloader/throttle/receivebuffers.h"
#include "downloader/throttle/tokenbucket.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// How fast every transfer together may read from the server, and whether they may read at all: the
// player's speed limit and pause. Each transfer takes what it reads from here; what it may not read
// yet stays in its reply, whose bounded buffer makes TCP slow the server down, so nothing arrives
// that is thrown away. A transfer that is held back waits in line and is woken in turn once there
// is something to hand out, so that one transfer does not take every share.
class RateController : public QObject
{
    Q_OBJECT

public:
    class Waiter
    {
    public:
        // The controller has something to hand out: take it, or wait again.
        virtual void Refilled() = 0;

    protected:
        ~Waiter() = default;
    };

    explicit RateController(QObject *parent = nullptr);

    // Bytes per second for every transfer together; 0 for no limit.
    void SetLimit(qint64 bytesPerSecond);
    qint64 Limit() const { return bucket.Rate(); }
    // While paused nothing is handed out, and no request goes out.
    void SetPaused(bool bPause);
    bool IsPaused() const { return bPaused; }
    // A limit or a pause holds reading back.
    bool IsHolding() const { return bPaused || Limit() > 0; }

    // Up to wanted bytes that may be read now.
    qint64 Grant(qint64 wanted);
    // Bytes that came without being granted: the headers of an answer, which cross the line too.
    void Charge(qint64 bytes) { bucket.Charge(bytes, clock.nsecsElapsed()); }
    // Wakes waiter, once, when there is something to hand out. It must Forget itself before it goes.
    void WakeWhenRefilled(Waiter *waiter);
    void Forget(Waiter *waiter);
    // An answer has begun to arrive, perhaps on a new connection, whose buffer the limit sizes.
    void NoteAnswer() { receiveBuffers.NoteAnswer(); }

signals:
    // The limit or the pause has changed.
    void Changed();

private:
    void WakeWaiters();
    void ArmWake();

    TokenBucket bucket;
    QElapsedTimer clock;
    QTimer wakeTimer{this};  // a child, so that it moves to the worker thread with the controller
    ReceiveBuffers receiveBuffers{this};
    QList<Waiter *> waiters;  // in the order they began to wait
    int sharesLeft = 0;       // of the round of wakes under way: each waiter takes its share
    bool bPaused = false;
};

#endif // RATECONTROLLER_H
