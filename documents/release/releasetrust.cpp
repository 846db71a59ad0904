#include "releasetrust.h"

#include "app/updaterfiles.h"
#include "documents/release/installedrelease.h"
#include "documents/release/releasesignature.h"
#include "documents/release/xmldocument.h"

#include <QDateTime>
#include <QDomDocument>
#include <QFile>

ReleaseTrust::ReleaseTrust(const QByteArray &publicKey, qint64 documentBytes)
    : bKeyed(!publicKey.isEmpty())
    , releaseKey(DecodePublicKey(publicKey).key)
    , documentBytes(documentBytes)
{
}

ReleaseTrust::NotesCheck ReleaseTrust::CheckNotes(const QString &path, QDomDocument *notes)
{
    statement.reset();
    QByteArray content;
    if (std::optional<QString> problem = ContentProblem(path, &content))
        return {problem, std::nullopt};
    if (std::optional<QString> problem = XmlProblem(content, notes))
        return {problem, std::nullopt};
    if (!bKeyed)
        return {};
    const StatementReading reading = ReadReleaseStatement(*notes);
    if (!reading.statement)
        return {reading.problem, std::nullopt};
    const ReleaseFloor floor = InstalledReleaseFloor(ConfigFiles::installedRelease,
                                                     QFile::exists(MarkerFiles::installed));
    if (std::optional<QString> problem = StaleReleaseProblem(
            *reading.statement, floor.installedRelease, QDateTime::currentDateTimeUtc()))
        return {problem, floor.notice};
    statement = reading.statement;
    return {std::nullopt, floor.notice};
}

std::optional<QString> ReleaseTrust::ManifestProblem(const QString &path,
                                                     ManifestListing *manifest) const
{
    QByteArray content;
    if (std::optional<QString> problem = ContentProblem(path, &content))
        return problem;
    if (std::optional<QString> problem = ManifestListingProblem(content, QString(), manifest))
        return problem;
    if (!bKeyed)
        return std::nullopt;
    // Only the manifest that the notes were signed with belongs to their release.
    if (!statement)
        return QStringLiteral("no signed release notes came before it");
    return ForeignManifestProblem(*statement, content);
}

std::optional<QString> ReleaseTrust::RecordInstalledProblem() const
{
    if (!statement)
        return std::nullopt;
    return RaiseInstalledReleaseProblem(ConfigFiles::installedRelease, statement->number);
}

std::optional<QString> ReleaseTrust::ContentProblem(const QString &path, QByteArray *content) const
{
    return bKeyed ? SignedDocumentProblem(path, documentBytes, releaseKey, content)
                  : DocumentProblem(path, documentBytes, content);
}
