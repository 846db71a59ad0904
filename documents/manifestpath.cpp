#include "manifestpath.h"

#include <QDir>
#include <QStringList>

namespace {

bool isDriveLetter(const QString &component)
{
    return component.size() >= 2 && component.at(1) == QLatin1Char(':')
        && component.at(0).unicode() < 128 && component.at(0).isLetter();
}

// Windows drops trailing dots and blanks from a name, so "..." or ".. " climbs just like "..".
bool climbs(const QString &component)
{
    if (component.count(QLatin1Char('.')) < 2)
        return false;
    for (const QChar c : component) {
        if (c != QLatin1Char('.') && c != QLatin1Char(' '))
            return false;
    }
    return true;
}

} // namespace

bool IsSafeManifestPath(const QString &path)
{
    // QDir also counts ":/..." (Qt resources) and, on Windows, "C:/..." and "//host" as absolute.
    if (path.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(path))
        return false;
    for (const QChar c : path) {
        if (c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    const QStringList components = path.split(QLatin1Char('/'));
    for (const QString &component : components) {
        if (isDriveLetter(component) || climbs(component))
            return false;
    }
    return true;
}
