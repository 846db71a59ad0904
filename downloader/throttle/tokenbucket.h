#ifndef TOKENBUCKET_H
#define TOKENBUCKET_H

#include <QtGlobal>

// The bytes that may be read at a rate: the bucket fills at the rate, from the moment it is set, and
// holds at most a tenth of a second's worth, so that a reader that paused for a while does not
// burst beyond the rate when it goes on. Times are in nanoseconds of one clock, given by the
// caller, so that the arithmetic stands on its own.
class TokenBucket
{
public:
    static constexpr qint64 burstDivisor = 10;

    // bytesPerSecond 0 for no limit. A change keeps what filled at the previous rate, up to the
    // new bucket's size.
    void SetRate(qint64 bytesPerSecond, qint64 now);
    qint64 Rate() const { return rate; }

    // Up to wanted bytes that may be read at now, taken from the bucket.
    qint64 Take(qint64 wanted, qint64 now);
    // Takes bytes that were read without asking, such as an answer's headers: the bucket may owe
    // them, and grants nothing until it has filled them up.
    void Charge(qint64 bytes, qint64 now);
    // What may be read at now, without taking it.
    qint64 Held(qint64 now);
    // The nanoseconds from now until the bucket holds bytes (or is full, if that is less).
    qint64 NanosecondsUntil(qint64 bytes, qint64 now);

private:
    qint64 Capacity() const { return qMax<qint64>(1, rate / burstDivisor); }
    void Fill(qint64 now);

    qint64 rate = 0;
    double tokens = 0;
    qint64 filledAt = 0;
};

#endif // TOKENBUCKET_H
