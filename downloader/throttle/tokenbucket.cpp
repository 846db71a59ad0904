#include "tokenbucket.h"

#include <cmath>

void TokenBucket::SetRate(qint64 bytesPerSecond, qint64 now)
{
    Fill(now);
    rate = qMax<qint64>(0, bytesPerSecond);
    tokens = qMin(tokens, double(Capacity()));
}

qint64 TokenBucket::Take(qint64 wanted, qint64 now)
{
    if (rate == 0)
        return wanted;
    const qint64 taken = qMin(wanted, Held(now));
    tokens -= double(taken);
    return qMax<qint64>(0, taken);
}

void TokenBucket::Charge(qint64 bytes, qint64 now)
{
    if (rate == 0)
        return;
    Fill(now);
    tokens -= double(bytes);
}

qint64 TokenBucket::Held(qint64 now)
{
    Fill(now);
    return qint64(std::floor(tokens));
}

qint64 TokenBucket::NanosecondsUntil(qint64 bytes, qint64 now)
{
    if (rate == 0)
        return 0;
    Fill(now);
    const double missing = double(qMin(bytes, Capacity())) - tokens;
    return missing <= 0 ? 0 : qint64(std::ceil(missing * 1e9 / double(rate)));
}

void TokenBucket::Fill(qint64 now)
{
    if (rate > 0 && now > filledAt)
        tokens = qMin(double(Capacity()), tokens + double(now - filledAt) * double(rate) / 1e9);
    filledAt = now;
}
