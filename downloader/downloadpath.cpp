#include "downloadpath.h"

#include <QDir>

namespace {

bool StartsWithDriveLetter(const QString &component)
{
    return component.size() >= 2 && component.at(1) == QLatin1Char(':')
           && component.at(0).unicode() < 128 && component.at(0).isLetter();
}

bool StaysInside(const QString &path)
{
    // QDir also counts ":/..." (Qt resources) and, on Windows, "C:/..." and "//host" as absolute.
    if (path.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(path))
        return false;
    if (path.contains(QLatin1Char('\\')))
        return false;
    for (const QChar character : path) {
        if (character.category() == QChar::Other_Control)
            return false;
    }
    const QStringList components = path.split(QLatin1Char('/'));
    for (const QString &component : components) {
        if (component == QLatin1String("..") || StartsWithDriveLetter(component))
            return false;
    }
    return true;
}

} // namespace

bool IsSafeDownloadPath(const QString &dir, const QString &file)
{
    // Joined, "." and "./x" would make "../x".
    return StaysInside(dir) && StaysInside(file) && StaysInside(dir + file);
}
