#include "xmldocument.h"

#include "documents/release/releasesignature.h"
#include "documents/xml/xmltokenreader.h"

#include <QDomDocument>
#include <QFile>

namespace {

// A tree in memory costs a few hundred bytes for each element, attribute, text and comment, which a
// few bytes of XML can each name: a document may hold no more of them than notes do, which are
// mostly text.
qint64 NodeBudget(qint64 contentBytes)
{
    return 4096 + contentBytes / 64;
}

// Why content is not a document that may be read into a tree: what the token reader refuses, or
// more pieces than its size allows.
std::optional<QString> ShapeProblem(const QByteArray &content)
{
    XmlTokenReader reader(content);
    const qint64 budget = NodeBudget(content.size());
    qint64 nodes = 0;
    while (reader.Next()) {
        const QXmlStreamReader &token = reader.token();
        if (token.isStartElement())
            nodes += 1 + token.attributes().size();
        else if ((token.isCharacters() && !token.isWhitespace()) || token.isComment()
                 || token.isProcessingInstruction())
            ++nodes;
        if (nodes > budget) {
            return QStringLiteral("it holds more elements, attributes, texts and comments than the "
                                  "%1 that a document of its size may")
                .arg(budget);
        }
    }
    return reader.problem();
}

// Reads the whole file at path into content; why it could not, if it could not.
std::optional<QString> ReadProblem(const QString &path, qint64 limit, QByteArray *content)
{
    QFile file(path);
    if (!file.exists())
        // The line before says why: the server, a proxy or the network.
        return QStringLiteral("did not arrive");
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
    if (std::optional<QString> problem = ShapeProblem(content))
        return problem;
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

std::optional<QString> DocumentProblem(const QString &path, qint64 limit, QByteArray *content)
{
    if (const std::optional<QString> problem = ReadProblem(path, limit, content))
        return QStringLiteral("it ") + *problem;
    return std::nullopt;
}

std::optional<QString> SignedDocumentProblem(const QString &path, qint64 limit,
                                             const QByteArray &publicKey, QByteArray *content)
{
    if (std::optional<QString> problem = DocumentProblem(path, limit, content))
        return problem;
    const QString signaturePath = path + QStringLiteral(".sig");
    QByteArray signature;
    if (const std::optional<QString> problem = ReadProblem(signaturePath, limit, &signature))
        return QStringLiteral("its signature %1 %2").arg(signaturePath, *problem);
    if (std::optional<QString> problem = SignatureProblem(*content, signature, publicKey)) {
        content->clear();
        return problem;
    }
    return std::nullopt;
}

std::optional<QString> XmlDocumentProblem(const QString &path, qint64 limit, QDomDocument *document)
{
    QByteArray content;
    if (std::optional<QString> problem = DocumentProblem(path, limit, &content))
        return problem;
    return XmlProblem(content, document);
}
