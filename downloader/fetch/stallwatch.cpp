#include "stallwatch.h"

StallWatch::StallWatch(const UpdaterConfig::RunSettings &settings, ServerActivity *server,
                       Probes probes, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , server(server)
    , probes(std::move(probes))
{
    stallTimer.setSingleShot(true);
    slowTimer.setSingleShot(true);
    slowTimer.setInterval(settings.slowWindow);
    connect(&stallTimer, &QTimer::timeout, this, &StallWatch::StallTimerFired);
    connect(&slowTimer, &QTimer::timeout, this, &StallWatch::SlowWindowEnded);
}

void StallWatch::Start()
{
    sinceData.start();
    slowWindowStart = 0;
    stallTimer.start(settings.stallInterval);
    slowTimer.start();
}

void StallWatch::Stop()
{
    stallTimer.stop();
    slowTimer.stop();
}

void StallWatch::NoteData()
{
    sinceData.start();
    server->Note();
}

void StallWatch::StallTimerFired()
{
    // Data that came meanwhile moved the watch on. Restarting the timer at every piece that arrives
    // instead took a fifth more of the updater's CPU time over a slow link (bench/link/run).
    const qint64 quiet =
        qMin(probes.sinceHeldBack(), probes.bAnswered()
                                         ? sinceData.elapsed()
                                         : qMin(sinceData.elapsed(), server->QuietFor()));
    if (quiet < settings.stallInterval) {
        stallTimer.start(int(settings.stallInterval - quiet));
        return;
    }
    emit Stalled();
}

void StallWatch::SlowWindowEnded()
{
    // Waiting for the answer is not trickling.
    const qint64 arrived = probes.arrived();
    if (probes.bAnswered() && probes.sinceHeldBack() >= settings.slowWindow
        && arrived - slowWindowStart < settings.slowWindowBytes) {
        emit Stalled();
        return;
    }
    slowWindowStart = arrived;
    slowTimer.start();
}
