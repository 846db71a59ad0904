#include "progress.h"

#include <limits>

namespace {

constexpr qint64 kibibyte = 1024;
constexpr qint64 mebibyte = 1024 * 1024;
constexpr float speedMebibyteThreshold = 1024.0f;

} // namespace

QString ProgressText(int filesLeft, qint64 bytesLeft, float downloadSpeed)
{
    QString text = QStringLiteral("剩余%1个文件 ").arg(filesLeft);
    if (bytesLeft > mebibyte)
        text += QStringLiteral("(%1 MB) ").arg(bytesLeft / mebibyte);
    else
        text += QStringLiteral("(%1 KB) ").arg(bytesLeft / kibibyte);

    if (downloadSpeed > speedMebibyteThreshold)
        text += QStringLiteral("速度 %1 MB/s").arg(double(downloadSpeed * (1.0f / 1024.0f)), 0, 'f', 2);
    else
        text += QStringLiteral("速度 %1 KB/s").arg(double(downloadSpeed), 0, 'f', 2);
    return text;
}

qint64 ProgressBarDivisor(qint64 totalBytes)
{
    constexpr qint64 largest = std::numeric_limits<int>::max();
    return totalBytes > largest ? totalBytes / largest + 1 : 1;
}

int ProgressBarValue(qint64 bytes, qint64 divisor)
{
    constexpr qint64 largest = std::numeric_limits<int>::max();
    return int(qBound(-largest, bytes / divisor, largest));
}
