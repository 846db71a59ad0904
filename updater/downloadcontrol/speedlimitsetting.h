#ifndef SPEEDLIMITSETTING_H
#define SPEEDLIMITSETTING_H

#include <QString>

#include <optional>

// The player's download speed limit, kept across starts in an INI file (ConfigFiles::settings) that a
// player or an administrator may also edit by hand: key Download/SpeedLimit, in KiB per second, 0
// or absent for none.
struct SpeedLimitSetting
{
    qint64 kibPerSecond = 0;
    // Why the value in the file was ignored, for the log.
    std::optional<QString> problem;
};

[[nodiscard]] SpeedLimitSetting ReadSpeedLimit(const QString &path);
// Why the limit could not be kept, if it could not.
[[nodiscard]] std::optional<QString> WriteSpeedLimit(const QString &path, qint64 kibPerSecond);

#endif // SPEEDLIMITSETTING_H
