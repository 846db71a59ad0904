#include "commands.h"

#include "documents/installation/manifestlisting.h"
#include "tools/publishing/releasesigning.h"
#include "tools/publishing/signingkeys.h"

#include <QDomDocument>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

// The number as make-manifest takes and writes it: decimal digits, 1 or more.
std::optional<qint64> releaseNumberOf(const QString &text)
{
    bool bNumber = false;
    const qint64 number = text.toLongLong(&bNumber);
    if (!bNumber || number < 1 || QString::number(number) != text)
        return std::nullopt;
    return number;
}

// A date is good through its last second, UTC, the way "valid through 31 December" reads.
std::optional<QDateTime> expiryOf(const QString &text)
{
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid() && date.toString(QStringLiteral("yyyy-MM-dd")) == text)
        return QDateTime(date, QTime(23, 59, 59), Qt::UTC);
    return ParseStatementTime(text);
}

// Writes content to path in one step; why it could not, if it could not.
std::optional<QString> writeWholeProblem(const QString &path, const QByteArray &content)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
    return std::nullopt;
}

// The last release number signed with the key at secretPath: 0 before the first, none (after
// reporting why) if its file cannot be read.
std::optional<qint64> lastReleaseOf(const QString &secretPath)
{
    const QString path = LastReleasePath(secretPath);
    if (!QFileInfo::exists(path))
        return 0;
    const FileContent content = ReadWholeFile(path);
    if (content.problem) {
        ReportError(*content.problem);
        return std::nullopt;
    }
    const std::optional<qint64> number =
        releaseNumberOf(QString::fromLatin1(content.bytes.trimmed()));
    if (!number) {
        ReportError(path + QStringLiteral(": not the number of the last release signed with ")
                    + secretPath + QStringLiteral("; write that number into it"));
    }
    return number;
}

} // namespace

QString LastReleasePath(const QString &secretPath)
{
    return secretPath + QStringLiteral(".last-release");
}

QString DescribeRelease(const ReleaseStatement &statement)
{
    return QStringLiteral("release %1, %2")
        .arg(statement.number)
        .arg(statement.expires ? QStringLiteral("good through ") + StatementTime(*statement.expires)
                               : QStringLiteral("no expiry"));
}

ExitCode SignDocuments(const QString &secretPath, const QString &notesPath,
                       const QString &manifestPath, const std::optional<QString> &releaseText,
                       const std::optional<QString> &expiresText)
{
    std::optional<qint64> release;
    if (releaseText) {
        release = releaseNumberOf(*releaseText);
        if (!release) {
            ReportError(QStringLiteral("--release takes a release number, 1 or more: ") + *releaseText);
            return BadInput;
        }
    }
    std::optional<QDateTime> expires;
    if (expiresText) {
        expires = expiryOf(*expiresText);
        if (!expires) {
            ReportError(QStringLiteral("--expires takes a date such as 2026-12-31 or a UTC time such "
                                       "as 2026-12-31T18:00:00Z: ")
                        + *expiresText);
            return BadInput;
        }
        if (*expires < QDateTime::currentDateTimeUtc()) {
            ReportError(QStringLiteral("--expires %1 is past: every updater would refuse the release")
                            .arg(*expiresText));
            return BadInput;
        }
    }

    const FileContent secretKeyFile = ReadWholeFile(secretPath);
    if (secretKeyFile.problem) {
        ReportError(*secretKeyFile.problem);
        return BadInput;
    }
    const DecodedKey secretKey = DecodeSecretKey(secretKeyFile.bytes);
    if (secretKey.problem) {
        ReportError(secretPath + QStringLiteral(": not a secret key of make-manifest --keygen"));
        return BadInput;
    }
    const FileContent notesFile = ReadWholeFile(notesPath);
    const FileContent manifestFile =
        notesFile.problem ? FileContent() : ReadWholeFile(manifestPath);
    if (const std::optional<QString> problem = notesFile.problem ? notesFile.problem
                                                                 : manifestFile.problem) {
        ReportError(*problem);
        return BadInput;
    }
    const QByteArray &notes = notesFile.bytes;
    const QByteArray &manifest = manifestFile.bytes;
    // The statement would otherwise go into the manifest, whose digest it could then never name.
    QDomDocument notesDocument;
    if (notesDocument.setContent(notes)
        && notesDocument.documentElement().tagName() == QLatin1String("FolderProperties")) {
        ReportError(notesPath + QStringLiteral(": a manifest, not release notes; give NOTES first, "
                                               "then MANIFEST"));
        return BadInput;
    }

    // A signature does not make a manifest that the updaters refuse unread any better.
    ManifestListing listing;
    if (const std::optional<QString> problem = ManifestListingProblem(manifest, QString(), &listing)) {
        ReportError(manifestPath + QStringLiteral(": updaters would not read it: ") + *problem);
        return BadInput;
    }

    const std::optional<qint64> lastRelease = lastReleaseOf(secretPath);
    if (!lastRelease)
        return BadInput;
    if (release && *release <= *lastRelease) {
        ReportError(QStringLiteral("--release %1 is not above %2, the last release signed with %3: "
                                   "updaters that installed it would refuse this one")
                        .arg(*release)
                        .arg(*lastRelease)
                        .arg(secretPath));
        return BadInput;
    }
    const SignedDocuments documents =
        SignRelease(notes, manifest, release.value_or(*lastRelease + 1), expires, secretKey.key);
    if (documents.problem) {
        ReportError(notesPath + QStringLiteral(": ") + *documents.problem);
        return BadInput;
    }
    // The number is used up before anything carries it: a run that fails halfway leaves a gap in the
    // numbers, never two releases with the same one.
    const ReleaseStatement &statement = documents.statement;
    const QList<QPair<QString, QByteArray>> written{
        {LastReleasePath(secretPath), QByteArray::number(statement.number) + '\n'},
        {notesPath, documents.notes},
        {notesPath + QStringLiteral(".sig"), documents.notesSignature},
        {manifestPath + QStringLiteral(".sig"), documents.manifestSignature}};
    for (const auto &file : written) {
        if (const std::optional<QString> problem = writeWholeProblem(file.first, file.second)) {
            ReportError(*problem);
            return BadInput;
        }
    }
    std::printf("signed %s\n", qPrintable(DescribeRelease(statement)));
    return Success;
}
