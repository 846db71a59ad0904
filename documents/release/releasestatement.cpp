#include "releasestatement.h"

#include "documents/release/xmldocument.h"

#include <QCryptographicHash>
#include <QDomDocument>
#include <QDomElement>

#include <algorithm>

namespace {

const QString numberAttribute = QStringLiteral("Number");
const QString manifestAttribute = QStringLiteral("Manifest");
const QString expiresAttribute = QStringLiteral("Expires");

// Times as a player reads them in the log, beside this computer's clock.
QString readableTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

bool isDigest(const QString &text)
{
    return text.size() == 64 && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                      || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

StatementReading malformed(const QString &reason)
{
    return {std::nullopt, QStringLiteral("its %1 element is malformed: %2")
                              .arg(releaseStatementElement, reason)};
}

StatementReading readElement(const QDomElement &element)
{
    if (element.hasChildNodes())
        return malformed(QStringLiteral("it is not empty"));
    for (const QString &name : {numberAttribute, manifestAttribute}) {
        if (!element.hasAttribute(name))
            return malformed(QStringLiteral("it has no ") + name);
    }
    ReleaseStatement statement;
    const QString number = element.attribute(numberAttribute);
    bool bNumber = false;
    statement.number = number.toLongLong(&bNumber);
    // One spelling per number, so that the signed text says exactly one thing.
    if (!bNumber || statement.number < 1 || QString::number(statement.number) != number)
        return malformed(QStringLiteral("Number=\"%1\" is not a release number").arg(number));
    const QString digest = element.attribute(manifestAttribute);
    if (!isDigest(digest)) {
        return malformed(
            QStringLiteral("Manifest=\"%1\" is not a SHA-256 in lower-case hexadecimal").arg(digest));
    }
    statement.manifestDigest = digest.toLatin1();
    if (element.hasAttribute(expiresAttribute)) {
        const QString expires = element.attribute(expiresAttribute);
        statement.expires = ParseStatementTime(expires);
        if (!statement.expires) {
            return malformed(QStringLiteral("Expires=\"%1\" is not a UTC time such as %2")
                                 .arg(expires, QStringLiteral("2026-12-31T23:59:59Z")));
        }
    }
    return {statement, std::nullopt};
}

} // namespace

bool ReleaseStatement::operator==(const ReleaseStatement &other) const
{
    return number == other.number && manifestDigest == other.manifestDigest
           && expires == other.expires;
}

StatementReading ReadReleaseStatement(const QDomDocument &notes)
{
    const QDomNodeList found = notes.elementsByTagName(releaseStatementElement);
    if (found.isEmpty()) {
        return {std::nullopt,
                QStringLiteral("it does not say which release it is: it has no %1 element")
                    .arg(releaseStatementElement)};
    }
    if (found.size() > 1) {
        return {std::nullopt, QStringLiteral("it has %1 %2 elements, where one says which release it is")
                                  .arg(found.size())
                                  .arg(releaseStatementElement)};
    }
    return readElement(found.at(0).toElement());
}

StatementReading ReadReleaseStatement(const QByteArray &notes)
{
    QDomDocument document;
    if (const std::optional<QString> problem = XmlProblem(notes, &document))
        return {std::nullopt, *problem};
    return ReadReleaseStatement(document);
}

QByteArray ManifestDigest(const QByteArray &manifest)
{
    return QCryptographicHash::hash(manifest, QCryptographicHash::Sha256).toHex();
}

std::optional<QString> ForeignManifestProblem(const ReleaseStatement &statement,
                                              const QByteArray &manifest)
{
    const QByteArray digest = ManifestDigest(manifest);
    if (digest == statement.manifestDigest)
        return std::nullopt;
    return QStringLiteral("it does not belong to the notes of release %1, which were signed with "
                          "another manifest (SHA-256 %2, not %3)")
        .arg(statement.number)
        .arg(QString::fromLatin1(statement.manifestDigest), QString::fromLatin1(digest));
}

std::optional<QString> StaleReleaseProblem(const ReleaseStatement &statement,
                                           std::optional<qint64> installedRelease,
                                           const QDateTime &now)
{
    if (installedRelease && statement.number < *installedRelease) {
        return QStringLiteral("it is release %1, older than the installed release %2")
            .arg(statement.number)
            .arg(*installedRelease);
    }
    // A clock set far ahead makes a current release look expired; the player can only tell which
    // of the two it is from the dates.
    if (statement.expires && now > *statement.expires) {
        return QStringLiteral("it is release %1, which expired on %2; if that date is still to come, "
                              "check this computer's date and time (it reads %3)")
            .arg(statement.number)
            .arg(readableTime(*statement.expires), readableTime(now));
    }
    return std::nullopt;
}

QString StatementTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

std::optional<QDateTime> ParseStatementTime(const QString &text)
{
    // Read as UTC from the start: through local time, an hour that a switch to summer time skips
    // would not exist.
    const QDateTime time(QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd")),
                         QTime::fromString(text.mid(11, 8), QStringLiteral("HH:mm:ss")), Qt::UTC);
    if (!time.isValid() || StatementTime(time) != text)
        return std::nullopt;
    return time;
}
