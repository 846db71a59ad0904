#ifndef TESTRELEASE_H
#define TESTRELEASE_H

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <optional>

namespace TestSupport {

// A release as a publisher lays it out in the folder that a TestHttpServer serves: the files, the
// GameManifest.xml that lists them, and the ReleaseNotes.xml. The prerequisites installer and the
// application are the trace program (traceprogram.cpp), built for the platform under test.
class TestRelease
{
public:
    static const QString installerTrace; // one line per start of the installer
    static const QString applicationTrace;

    // A few files in nested folders, the installer and the application, and notes with a version.
    static TestRelease sample();

    void addFile(const QString &path, const QByteArray &content);
    void setNotes(const QByteArray &notes);

    // Writes the files, the manifest and the notes (and their signatures) below serverFolder.
    bool publish(const QString &serverFolder) const;
    // Writes the files alone below installFolder, as a finished update leaves them.
    bool install(const QString &installFolder) const;

    QMap<QString, QByteArray> files;
    QByteArray notes;
    // If set, publish() signs the release with it, as make-manifest --sign does: the served notes
    // carry the statement of releaseNumber and expires (documents/releasesigning.h).
    QByteArray secretKey;
    qint64 releaseNumber = 1;
    std::optional<QDateTime> expires;
    bool bUpperCaseDigests = false; // the manifest's digests as some tools print them
    QMap<QString, qint64> listedSizes; // what the manifest says of these files' sizes instead
};

} // namespace TestSupport

#endif // TESTRELEASE_H
