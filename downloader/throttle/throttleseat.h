#ifndef THROTTLESEAT_H
#define THROTTLESEAT_H

#include "downloader/throttle/ratecontroller.h"

#include <QElapsedTimer>

#include <functional>
#include <utility>

// One transfer's place at the RateController: what it may read now, a wake once there is more for
// what it could not, a request that waits for the pause to end, and how long since the limit last
// held it back, which the stall watch asks.
class ThrottleSeat : private RateController::Waiter
{
public:
    // woken runs once the controller has something for this transfer after it was held back.
    ThrottleSeat(RateController *controller, std::function<void()> woken);
    ~ThrottleSeat();
    ThrottleSeat(const ThrottleSeat &) = delete;
    ThrottleSeat &operator=(const ThrottleSeat &) = delete;

    RateController *Controller() const { return controller; }
    // Up to wanted bytes that may be read now; for the rest, a wake comes.
    qint64 Grant(qint64 wanted);
    // While paused, a request must wait: true if it does, and a wake comes when the pause ends.
    bool HoldsRequest();
    // Whether the wake is for a held request, which is then sent.
    bool TakeHeldRequest() { return std::exchange(bRequestHeld, false); }
    // Milliseconds since the limit last held back what had come; 0 while paused.
    qint64 SinceHeldBack() const;
    // The limit or the pause changed: a pause held everything back until its end.
    void NoteChange();

private:
    void Refilled() override { woken(); }

    RateController *const controller;
    const std::function<void()> woken;
    QElapsedTimer heldBack;
    bool bRequestHeld = false;
};

#endif // THROTTLESEAT_H
