#include "manifestpath.h"

#include "app/updaterfiles.h"

#include <QStringList>

namespace {

// Windows opens these names as devices in every folder, whatever follows the first dot and with
// blanks before it ignored: "nul", "Aux.txt", "CON .txt" and "com1.tar.gz" are all devices.
bool isDeviceName(const QString &component)
{
    QString base = component.left(component.indexOf(QLatin1Char('.')));
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    static const QStringList fixedNames = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                           QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                           QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (fixedNames.contains(base, Qt::CaseInsensitive))
        return true;
    // The ports take one digit, and Windows counts the superscripts as digits too.
    return base.size() == 4
        && (base.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)
            || base.startsWith(QLatin1String("LPT"), Qt::CaseInsensitive))
        && QStringLiteral("0123456789\u00b9\u00b2\u00b3").contains(base.at(3));
}

} // namespace

bool IsSafeManifestPath(const QString &path)
{
    // No system takes a path this long below an installation folder, and a manifest's folders
    // would otherwise let each level cost what all the names above it do.
    if (path.size() > longestManifestPath)
        return false;
    for (const QChar c : path) {
        // A ":" makes a drive letter, an alternate data stream or a Qt resource path.
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c.category() == QChar::Other_Control)
            return false;
    }
    const QStringList components = path.split(QLatin1Char('/'));
    for (const QString &component : components) {
        // An empty component is what a leading "/", "//" or an empty name leave behind. Windows
        // strips trailing dots and blanks, so "..." climbs like ".." and "x." would overwrite "x".
        // "." goes too; the walk drops a FolderName of "." before it composes a path.
        if (component.isEmpty() || component.endsWith(QLatin1Char('.'))
            || component.endsWith(QLatin1Char(' ')) || isDeviceName(component))
            return false;
    }
    return true;
}

bool IsUpdaterOwnPath(const QString &path)
{
    const QString top = path.section(QLatin1Char('/'), 0, 0);
    if (top.compare(MarkerFiles::configFolder, Qt::CaseInsensitive) == 0)
        return true;
    if (top != path)
        return false;
    for (const QString &document :
         {DocumentFiles::releaseNotes, DocumentFiles::releaseNotesSignature,
          DocumentFiles::previousReleaseNotes, DocumentFiles::manifest,
          DocumentFiles::manifestSignature}) {
        if (path.compare(document, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
