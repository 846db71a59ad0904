#ifndef STALLWATCH_H
#define STALLWATCH_H

#include "downloader/network/serveractivity.h"
#include "updaterconfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Whether the answer to a request has stopped: nothing has come for the stall interval, or, once
// the server answered, only a trickle (less than slowWindowBytes in a slow window), which would keep
// the request alive for hours. A request that waits for its answer is quiet only while the whole
// line is: it may be waiting its turn behind the answers to others.
class StallWatch : public QObject
{
    Q_OBJECT

public:
    struct Probes
    {
        std::function<bool()> bAnswered;   // the server has answered with a status
        std::function<qint64()> arrived;  // the bytes of the answer so far, body and error page
        // Milliseconds since the player's limit or pause last held the answer back: an answer held
        // back neither stalls nor trickles.
        std::function<qint64()> sinceHeldBack;
    };

    StallWatch(const UpdaterConfig::RunSettings &settings, ServerActivity *server, Probes probes,
               QObject *parent);

    // A request has gone out.
    void Start();
    void Stop();
    // Something of the answer came: the line is alive, and so is this answer.
    void NoteData();
    // The answer moved on without the server: its body is being decoded.
    void NoteProgress() { sinceData.start(); }
    qint64 SinceData() const { return sinceData.elapsed(); }

signals:
    void Stalled();

private:
    void StallTimerFired();
    void SlowWindowEnded();

    const UpdaterConfig::RunSettings settings;
    ServerActivity *const server;
    const Probes probes;
    QTimer stallTimer;  // fires once the stall interval may have passed since sinceData started
    QElapsedTimer sinceData;  // since the request, or the last piece of its answer
    QTimer slowTimer;
    qint64 slowWindowStart = 0;  // bytes arrived when the current slow window began
};

#endif // STALLWATCH_H
