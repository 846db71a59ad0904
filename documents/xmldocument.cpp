#include "xmldocument.h"

#include "documents/releasesignature.h"

#include <QDomDocument>
#include <QFile>

namespace {

// Reads the whole file at path into content, or says why it could not.
QString readWhole(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("did not arrive from the server");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: ") + file.errorString();
    *content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot be read: ") + file.errorString();
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

QString LoadXmlDocument(const QString &path, QDomDocument *document)
{
    QByteArray content;
    const QString error = readWhole(path, &content);
    return error.isEmpty() ? parse(content, document) : QStringLiteral("it ") + error;
}

QString LoadSignedXmlDocument(const QString &path, const QByteArray &publicKey,
                              QDomDocument *document)
{
    QByteArray content;
    QString error = readWhole(path, &content);
    if (!error.isEmpty())
        return QStringLiteral("it ") + error;
    const QString signaturePath = path + QStringLiteral(".sig");
    QByteArray signature;
    error = readWhole(signaturePath, &signature);
    if (!error.isEmpty())
        return QStringLiteral("its signature %1 %2").arg(signaturePath, error);
    error = SignatureProblem(content, signature, publicKey);
    return error.isEmpty() ? parse(content, document) : error;
}
