#include "testrelease.h"

#include "app/updaterfiles.h"
#include "tools/publishing/manifestwriter.h"
#include "tools/publishing/releasesigning.h"
#include "testsupport.h"
#include "updater/programstarter.h"

#include <QDebug>
#include <QDir>

namespace TestSupport {

const QString TestRelease::installerTrace = QStringLiteral("installer-ran.txt");
const QString TestRelease::applicationTrace = QStringLiteral("application-started.txt");

TestRelease TestRelease::sample()
{
    TestRelease release;
    const QByteArray traceProgram = readFile(QStringLiteral(TRACE_PROGRAM));
    release.addFile(Programs::prerequisitesInstaller, traceProgram);
    release.addFile(Programs::application, traceProgram);
    QByteArray pak(300 * 1024, '\0');
    for (int i = 0; i < pak.size(); ++i)
        pak[i] = char((uint(i) * 7919u) >> 3);
    release.addFile(QStringLiteral("App/Content/Paks/QOR-Windows.pak"), pak);
    release.addFile(QStringLiteral("App/Content/Movies/Intro.mp4"), QByteArray(4096, 'm'));
    release.addFile(QStringLiteral("App/Binaries/Win64/QOR-Win64-Shipping.exe"), "binary");
    release.addFile(QStringLiteral("Readme.txt"), "Read me first.\n");
    // Files of the application, named like the updater's documents.
    release.addFile(QStringLiteral("App/ReleaseNotes.xml"), "<Credits/>");
    release.addFile(QStringLiteral("App/Content/GameManifest.xml"), "<Levels/>");
    release.setNotes("<ReleaseNotes><Version>2.0</Version><Date>081226</Date>"
                     "<Notes>*What is new*\nEverything.</Notes></ReleaseNotes>");
    return release;
}

void TestRelease::addFile(const QString &path, const QByteArray &content)
{
    files.insert(path, content);
}

void TestRelease::setNotes(const QByteArray &releaseNotes)
{
    notes = releaseNotes;
}

bool TestRelease::publish(const QString &serverFolder) const
{
    QList<ManifestFile> listed;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        const QString md5 = md5Hex(file.value());
        listed.append({file.key(), listedSizes.value(file.key(), file.value().size()),
                       bUpperCaseDigests ? md5.toUpper() : md5});
    }
    const QDir server(serverFolder);
    const QByteArray manifest = WriteManifest(listed);
    QByteArray servedNotes = notes;
    if (!secretKey.isEmpty()) {
        const SignedDocuments documents =
            SignRelease(notes, manifest, releaseNumber, expires, secretKey);
        if (documents.problem) {
            qWarning() << "cannot sign the release:" << *documents.problem;
            return false;
        }
        servedNotes = documents.notes;
        if (!writeFile(server.filePath(DocumentFiles::manifestSignature),
                       documents.manifestSignature)
            || !writeFile(server.filePath(DocumentFiles::releaseNotesSignature),
                          documents.notesSignature))
            return false;
    }
    return install(serverFolder) && writeFile(server.filePath(DocumentFiles::manifest), manifest)
           && writeFile(server.filePath(DocumentFiles::releaseNotes), servedNotes);
}

bool TestRelease::install(const QString &installFolder) const
{
    const QDir folder(installFolder);
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        if (!writeFile(folder.filePath(file.key()), file.value()))
            return false;
    }
    return true;
}

} // namespace TestSupport
