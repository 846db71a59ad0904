#include "ratecontroller.h"

#include <utility>

namespace {

// A waiter is woken once this much may be read, or the bucket is full: fewer, larger reads cost
// less than many small ones, and a tenth of a second's worth is always within the limit.
constexpr qint64 wakeBytes = 16 * 1024;
// Qt's timers are not finer than this, and waking more often only costs time.
constexpr qint64 shortestWakeNs = 5'000'000;

} // namespace

RateController::RateController(QObject *parent)
    : QObject(parent)
{
    clock.start();
    wakeTimer.setSingleShot(true);
    wakeTimer.setTimerType(Qt::PreciseTimer);
    connect(&wakeTimer, &QTimer::timeout, this, &RateController::WakeWaiters);
}

void RateController::SetLimit(qint64 bytesPerSecond)
{
    if (bytesPerSecond == Limit())
        return;
    bucket.SetRate(bytesPerSecond, clock.nsecsElapsed());
    receiveBuffers.SetLimit(Limit());
    emit Changed();
    ArmWake();
}

void RateController::SetPaused(bool bPause)
{
    if (bPause == bPaused)
        return;
    bPaused = bPause;
    receiveBuffers.Remeasure();
    emit Changed();
    ArmWake();
}

qint64 RateController::Grant(qint64 wanted)
{
    if (bPaused || wanted <= 0)
        return 0;
    const qint64 now = clock.nsecsElapsed();
    // Within a round of wakes, what the bucket holds is shared among those still to be woken.
    if (sharesLeft > 1 && Limit() > 0)
        wanted = qMin(wanted, qMax<qint64>(1, bucket.Held(now) / sharesLeft));
    const qint64 granted = bucket.Take(wanted, now);
    receiveBuffers.NoteGranted(granted);
    return granted;
}

void RateController::WakeWhenRefilled(Waiter *waiter)
{
    if (!waiters.contains(waiter))
        waiters.append(waiter);
    ArmWake();
}

void RateController::Forget(Waiter *waiter)
{
    waiters.removeAll(waiter);
}

void RateController::WakeWaiters()
{
    const QList<Waiter *> woken = std::exchange(waiters, {});
    sharesLeft = woken.size();
    for (Waiter *waiter : woken) {
        waiter->Refilled();
        --sharesLeft;
    }
    sharesLeft = 0;
    ArmWake();
}

void RateController::ArmWake()
{
    if (waiters.isEmpty() || bPaused) {
        wakeTimer.stop();
        return;
    }
    if (wakeTimer.isActive())
        return;
    const qint64 ns =
        qMax(shortestWakeNs, bucket.NanosecondsUntil(wakeBytes, clock.nsecsElapsed()));
    wakeTimer.start(int((ns + 999'999) / 1'000'000));
}
