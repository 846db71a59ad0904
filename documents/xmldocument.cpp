#include "xmldocument.h"

#include "documents/releasesignature.h"

#include <QDomDocument>
#include <QFile>

namespace {

// Reads the whole file at path into content, or says why it could not.
QString readWhole(const QString &path, qint64 limit, QByteArray *content)
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
    return QString();
}

QString parse(const QByteArray &content, QDomDocument *document)
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
    return QString();
}

} // namespace

QString LoadXmlDocument(const QString &path, qint64 limit, QDomDocument *document)
{
    QByteArray content;
    const QString error = readWhole(path, limit, &content);
    return error.isEmpty() ? parse(content, document) : QStringLiteral("it ") + error;
}

QString LoadSignedXmlDocument(const QString &path, qint64 limit, const QByteArray &publicKey,
                              QDomDocument *document)
{
    QByteArray content;
    QString error = readWhole(path, limit, &content);
    if (!error.isEmpty())
        return QStringLiteral("it ") + error;
    const QString signaturePath = path + QStringLiteral(".sig");
    QByteArray signature;
    error = readWhole(signaturePath, limit, &signature);
    if (!error.isEmpty())
        return QStringLiteral("its signature %1 %2").arg(signaturePath, error);
    error = SignatureProblem(content, signature, publicKey);
    return error.isEmpty() ? parse(content, document) : error;
}
