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

namespace {

// One decimal, in the largest of the window's units that the size reaches.
QString SizeText(qint64 bytes)
{
    constexpr qint64 gibibyte = 1024 * mebibyte;
    if (bytes >= gibibyte)
        return QStringLiteral("%1 GB").arg(double(bytes) / gibibyte, 0, 'f', 1);
    if (bytes >= mebibyte)
        return QStringLiteral("%1 MB").arg(double(bytes) / mebibyte, 0, 'f', 1);
    return QStringLiteral("%1 KB").arg(double(qMax<qint64>(bytes, 0)) / kibibyte, 0, 'f', 1);
}

} // namespace

QString PausedText(qint64 bytesLeft)
{
    return QStringLiteral("已暂停, 剩余 %1").arg(SizeText(bytesLeft));
}

QString DiskSpaceText(qint64 neededBytes, qint64 availableBytes)
{
    return QStringLiteral("磁盘空间不足: 需要 %1, 可用 %2")
        .arg(SizeText(neededBytes), SizeText(availableBytes));
}

QString HeldFileText(const QString &path)
{
    return QStringLiteral("文件 %1 正在使用中, 关闭游戏后更新将自动继续").arg(path);
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
