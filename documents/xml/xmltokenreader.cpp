#include "xmltokenreader.h"

#include "documents/xml/markupscan.h"

#include <QStringList>

XmlTokenReader::XmlTokenReader(const QByteArray &content)
    : reader(content)
{
    // Entities can only be declared in a document type, which is refused as soon as it is read:
    // only parameter entities inside it could expand before that, and not by more than this.
    reader.setEntityExpansionLimit(1024);
    const MarkupScan scan = ScanMarkup(content);
    unitBytes = scan.unitBytes;
    refusal = scan.problem;
}

bool XmlTokenReader::Next()
{
    if (refusal)
        return false;
    if (reader.isEndElement())
        --openElements;
    switch (reader.readNext()) {
    case QXmlStreamReader::StartDocument:
        // What the scan read must be what the parser reads.
        refusal = EncodingProblem(unitBytes, reader.documentEncoding().toString());
        return !refusal;
    case QXmlStreamReader::DTD: {
        QStringList entities;
        const QXmlStreamEntityDeclarations declared = reader.entityDeclarations();
        for (const QXmlStreamEntityDeclaration &entity : declared)
            entities << entity.name().toString();
        refusal = entities.isEmpty()
                      ? QStringLiteral("it declares a document type, which no release document has")
                      : QStringLiteral("it declares entities (%1), which no release document has")
                            .arg(entities.mid(0, 3).join(QLatin1String(", "))
                                 + (entities.size() > 3 ? QStringLiteral(", ...") : QString()));
        return false;
    }
    case QXmlStreamReader::StartElement:
        if (++openElements > deepestElement) {
            refusal = QStringLiteral("it nests elements more than %1 deep").arg(deepestElement);
            return false;
        }
        return true;
    case QXmlStreamReader::Invalid:
        refusal = QStringLiteral("it is not XML (line %1, column %2: %3)")
                      .arg(reader.lineNumber())
                      .arg(reader.columnNumber())
                      .arg(reader.errorString());
        return false;
    case QXmlStreamReader::EndDocument:
        return false;
    default:
        return true;
    }
}
