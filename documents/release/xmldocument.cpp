#include "xmldocument.h"

#include "documents/release/releasesignature.h"

#include <QDomDocument>
#include <QFile>

namespace {

// Reads the whole file at path into content; why it could not, if it could not.
std::optional<QString> ReadProblem(const QString &path, qint64 limit, QByteArray *content)
{
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("did not arrive from the server");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: ") + file.errorString();
    // Never more than one byte past the limit, whatever the file holds by the time it is read.
    *content = file.read(qMin(file.size(), limit) + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot be read: ") + file.errorString();
    if (content->size() > limit) {
        content->clear();
        return QStringLiteral("holds more than %1 bytes").arg(limit);
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> XmlProblem(const QByteArray &content, QDomDocument *document)
{
    QString error;
    int line = 0;
    int column = 0;
    if (!document->setContent(content, &error, &line, &column)) {
        return QStringLiteral("it is not XML (line %1, column %2: %3)")
            .arg(line)
            .arg(column)
            .arg(error);
    }
    return std::nullopt;
}

std::optional<QString> XmlDocumentProblem(const QString &path, qint64 limit, QDomDocument *document)
{
    QByteArray content;
    if (const std::optional<QString> problem = ReadProblem(path, limit, &content))
        return QStringLiteral("it ") + *problem;
    return XmlProblem(content, document);
}

std::optional<QString> SignedXmlDocumentProblem(const QString &path, qint64 limit,
                                                const QByteArray &publicKey, QDomDocument *document,
                                                QByteArray *signedContent)
{
    QByteArray content;
    if (const std::optional<QString> problem = ReadProblem(path, limit, &content))
        return QStringLiteral("it ") + *problem;
    const QString signaturePath = path + QStringLiteral(".sig");
    QByteArray signature;
    if (const std::optional<QString> problem = ReadProblem(signaturePath, limit, &signature))
        return QStringLiteral("its signature %1 %2").arg(signaturePath, *problem);
    if (std::optional<QString> problem = SignatureProblem(content, signature, publicKey))
        return problem;
    if (signedContent)
        *signedContent = content;
    return XmlProblem(content, document);
}
