#ifndef TRANSFERSPEED_H
#define TRANSFERSPEED_H

#include <QtGlobal>

// Speed in KiB per second of `bytes` written in `elapsedMs` milliseconds. The window prints it as
// KB/s or MB/s. An interval that measured no time gives 0 rather than infinity.
float TransferSpeed(qint64 bytes, qint64 elapsedMs);

#endif // TRANSFERSPEED_H
