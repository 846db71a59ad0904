#include "xmldocument.h"

#include <QDomDocument>
#include <QFile>

QString LoadXmlDocument(const QString &path, QDomDocument *document)
{
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("it did not arrive from the server");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read: ") + file.errorString();
    QString error;
    int line = 0;
    int column = 0;
    if (!document->setContent(&file, &error, &line, &column)) {
        return QStringLiteral("it is not XML (line %1, column %2: %3)")
            .arg(line)
            .arg(column)
            .arg(error);
    }
    return QString();
}
