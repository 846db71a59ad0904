#include "downloadtally.h"

#include "updater/progress.h"

void DownloadTally::AddToFetch(qint64 bytes)
{
    toFetch += bytes;
    divisor = ProgressBarDivisor(toFetch);
}

void DownloadTally::Reestimate(const QString &name, qint64 size, qint64 bytes)
{
    toFetch += bytes - estimates.value(name, size);
    estimates.insert(name, bytes);
    divisor = ProgressBarDivisor(toFetch);
}

void DownloadTally::AddArrived(qint64 bytes, float downloadSpeed)
{
    arrived += bytes;
    speed = downloadSpeed;
}

int DownloadTally::BarMaximum() const
{
    return ProgressBarValue(toFetch, divisor);
}

int DownloadTally::BarValue() const
{
    return ProgressBarValue(arrived, divisor);
}

QString DownloadTally::Text(int filesLeft) const
{
    return ProgressText(filesLeft, BytesLeft(), speed);
}
