#ifndef RECEIVEBUFFERS_H
#define RECEIVEBUFFERS_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Keeps what the system takes in for the updater's connections, before the updater reads it, in
// step with the speed limit. Linux grows a connection's buffer to megabytes even while the updater
// reads it slowly: the line then carries a limited transfer in bursts of that size, and falls
// silent at its end while the updater reads what the buffer holds. Under a limit each buffer starts
// at a 24th of a second's worth, which Linux turns into a window that keeps up with the limit over
// round trips of some 70 ms; where the transfers fall short of the limit for want of data, the
// buffers double, up to three times.
// Qt keeps its sockets to itself, so the connections are found among the process's own; elsewhere
// the system's buffers are left as they are.
class ReceiveBuffers : public QObject
{
    Q_OBJECT

public:
    explicit ReceiveBuffers(QObject *parent = nullptr);

    // Sizes every connection for bytesPerSecond (0 for none: as large as the system allows).
    void SetLimit(qint64 bytesPerSecond);
    // An answer has begun, perhaps on a connection that is new: it is sized within a moment.
    void NoteAnswer();
    // bytes were granted to a read: the transfers are measured against the limit as they read.
    void NoteGranted(qint64 bytes);
    // A pause is no shortfall: what comes after it is measured afresh.
    void Remeasure() { measuring.invalidate(); }

private:
    void SizeConnections();

    qint64 limit = 0;
    int growths = 0;  // each doubles the buffers under the limit
    QTimer nextSizing{this};  // a child, so that it moves to the worker thread with the controller
    QElapsedTimer sinceSized;
    QElapsedTimer measuring;  // since the first read after the buffers were last sized, or idled
    QElapsedTimer sinceGranted;
    qint64 measuredBytes = 0;
};

#endif // RECEIVEBUFFERS_H
