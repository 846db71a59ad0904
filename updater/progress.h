#ifndef UPDATER_PROGRESS_H
#define UPDATER_PROGRESS_H

#include <QString>

// The status text shown while files arrive, for example "剩余3个文件 (5 MB) 速度 1.50 MB/s":
// files still to fetch, the bytes left (MB above one MiB, else KB, truncated toward zero and negative
// when more arrived than announced) and the speed in KiB per second.
QString ProgressText(int filesLeft, qint64 bytesLeft, float downloadSpeed);

// The status text while the player has paused the downloads: "已暂停, 剩余 1.2 GB".
QString PausedText(qint64 bytesLeft);
// The status text of a disk without room for the update: "磁盘空间不足: 需要 12.4 GB, 可用 3.1 GB".
QString DiskSpaceText(qint64 neededBytes, qint64 availableBytes);
// The status text while a file that is in use holds the update up.
QString HeldFileText(const QString &path);

// A progress bar holds int values. Byte counts are divided by this before they reach it, so that
// installations beyond that range still show the right share.
qint64 ProgressBarDivisor(qint64 totalBytes);

// The bar's value for bytes with that divisor: within the range of an int, and outside the bar's
// range where bytes are (which leaves the bar as it is).
int ProgressBarValue(qint64 bytes, qint64 divisor);

#endif // UPDATER_PROGRESS_H
