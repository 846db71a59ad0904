#include "transferspeed.h"

float TransferSpeed(qint64 bytes, qint64 elapsedMs)
{
    if (elapsedMs <= 0)
        return 0.0f;
    const double kibibytes = static_cast<float>(bytes) / 1024.0;
    const double seconds = static_cast<float>(elapsedMs) / 1000.0;
    return static_cast<float>(kibibytes / seconds);
}
