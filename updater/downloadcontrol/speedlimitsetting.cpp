#include "speedlimitsetting.h"

#include <QSettings>

namespace {

const QString speedLimitKey = QStringLiteral("Download/SpeedLimit");

// Beyond what any line carries, and far from an overflow once turned into bytes.
constexpr qint64 largestKibPerSecond = qint64(1) << 40;

} // namespace

SpeedLimitSetting ReadSpeedLimit(const QString &path)
{
    const QSettings settings(path, QSettings::IniFormat);
    const QVariant value = settings.value(speedLimitKey);
    if (!value.isValid())
        return {};
    const QString text = value.toString().trimmed();
    bool bNumber = false;
    const qint64 kib = text.toLongLong(&bNumber);
    if (!bNumber || kib < 0 || kib > largestKibPerSecond) {
        return {0, QStringLiteral("Ignoring %1=%2 in %3: not a number of KiB per second")
                       .arg(speedLimitKey, text, path)};
    }
    return {kib, std::nullopt};
}

std::optional<QString> WriteSpeedLimit(const QString &path, qint64 kibPerSecond)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(speedLimitKey, kibPerSecond);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("Cannot write the speed limit to %1").arg(path);
    return std::nullopt;
}
