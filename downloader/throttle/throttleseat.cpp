#include "throttleseat.h"

#include <limits>

ThrottleSeat::ThrottleSeat(RateController *controller, std::function<void()> woken)
    : controller(controller)
    , woken(std::move(woken))
{
}

ThrottleSeat::~ThrottleSeat()
{
    controller->Forget(this);
}

qint64 ThrottleSeat::Grant(qint64 wanted)
{
    const qint64 granted = controller->Grant(wanted);
    if (granted < wanted) {
        heldBack.start();
        controller->WakeWhenRefilled(this);
    }
    return granted;
}

bool ThrottleSeat::HoldsRequest()
{
    if (!controller->IsPaused())
        return false;
    bRequestHeld = true;
    controller->WakeWhenRefilled(this);
    return true;
}

qint64 ThrottleSeat::SinceHeldBack() const
{
    if (controller->IsPaused() || bRequestHeld)
        return 0;
    return heldBack.isValid() ? heldBack.elapsed() : std::numeric_limits<qint64>::max();
}

void ThrottleSeat::NoteChange()
{
    if (!controller->IsPaused())
        heldBack.start();
}
