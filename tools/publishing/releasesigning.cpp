#include "releasesigning.h"

#include "tools/publishing/signingkeys.h"

#include <QXmlStreamReader>

#include <vector>

namespace {

struct Edit
{
    int from;  // characters of the notes' text
    int to;
    QString replacement;
};

bool isXmlBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
           || c == QLatin1Char('\r');
}

// Where the blanks before position begin: the indentation of the markup that starts there.
int blanksBefore(const QString &text, int position)
{
    while (position > 0 && isXmlBlank(text.at(position - 1)))
        --position;
    return position;
}

// The start of the tag that ends at end: no "<" can stand inside a tag, not even in an attribute.
int tagStart(const QString &text, qint64 end)
{
    return text.lastIndexOf(QLatin1Char('<'), int(end) - 1);
}

QString elementOf(const ReleaseStatement &statement)
{
    QString element = QStringLiteral("<%1 Number=\"%2\" Manifest=\"%3\"")
                          .arg(releaseStatementElement)
                          .arg(statement.number)
                          .arg(QString::fromLatin1(statement.manifestDigest));
    if (statement.expires)
        element += QStringLiteral(" Expires=\"%1\"").arg(StatementTime(*statement.expires));
    return element + QStringLiteral("/>");
}

StatedNotes refused(const QString &problem)
{
    return {QByteArray(), problem};
}

} // namespace

StatedNotes WithReleaseStatement(const QByteArray &notes, const ReleaseStatement &statement)
{
    // Edits are found in the decoded text and made in the bytes, so that nothing else is re-encoded.
    const QByteArray byteOrderMark = notes.startsWith("\xEF\xBB\xBF") ? notes.left(3) : QByteArray();
    const QByteArray body = notes.mid(byteOrderMark.size());
    const QString text = QString::fromUtf8(body);
    if (text.toUtf8() != body)
        return refused(QStringLiteral("the notes are not UTF-8"));

    QXmlStreamReader reader(text);
    // As the updater's parser reads the notes: a prefix is part of the name.
    reader.setNamespaceProcessing(false);
    std::vector<Edit> edits;
    int depth = 0;
    int removedFrom = -1;
    int removedDepth = 0;
    int lastChildStart = -1;
    int rootStart = -1;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
            if (!reader.documentEncoding().isEmpty()
                && reader.documentEncoding().compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0)
                return refused(QStringLiteral("the notes are not UTF-8 but ")
                               + reader.documentEncoding().toString());
            break;
        case QXmlStreamReader::StartElement: {
            ++depth;
            const int start = tagStart(text, reader.characterOffset());
            if (depth == 1)
                rootStart = start;
            if (depth == 2)
                lastChildStart = start;
            if (removedFrom < 0 && reader.qualifiedName() == releaseStatementElement) {
                removedFrom = blanksBefore(text, start);
                removedDepth = depth;
            }
            break;
        }
        case QXmlStreamReader::EndElement: {
            const int end = int(reader.characterOffset());
            if (removedFrom >= 0 && depth == removedDepth) {
                edits.push_back({removedFrom, end, QString()});
                removedFrom = -1;
            }
            if (--depth > 0)
                break;
            const QString indentation =
                lastChildStart < 0
                    ? QString()
                    : text.mid(blanksBefore(text, lastChildStart),
                               lastChildStart - blanksBefore(text, lastChildStart));
            const QString element = indentation + elementOf(statement);
            const int endStart = tagStart(text, end);
            if (endStart == rootStart) {
                // <ReleaseNotes/>: it opens to take the statement.
                edits.push_back({end - 2, end,
                                 QStringLiteral(">%1</%2>")
                                     .arg(element, reader.qualifiedName().toString())});
            } else {
                const int at = blanksBefore(text, endStart);
                edits.push_back({at, at, element});
            }
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError()) {
        return refused(QStringLiteral("the notes are not XML (line %1, column %2: %3)")
                           .arg(reader.lineNumber())
                           .arg(reader.columnNumber())
                           .arg(reader.errorString()));
    }

    QByteArray stated = byteOrderMark;
    int copied = 0;
    for (const Edit &edit : edits) {
        stated += text.mid(copied, edit.from - copied).toUtf8() + edit.replacement.toUtf8();
        copied = edit.to;
    }
    stated += text.mid(copied).toUtf8();

    // What the updater will read in them is the one proof that the edit went where it should.
    const StatementReading reading = ReadReleaseStatement(stated);
    if (!reading.statement || !(*reading.statement == statement))
        return refused(QStringLiteral("the notes would not carry the statement as written: ")
                       + (reading.statement ? QStringLiteral("it reads differently") : *reading.problem));
    return {stated, std::nullopt};
}

SignedDocuments SignRelease(const QByteArray &notes, const QByteArray &manifest, qint64 number,
                            const std::optional<QDateTime> &expires, const QByteArray &secretKey)
{
    ReleaseStatement statement;
    statement.number = number;
    statement.manifestDigest = ManifestDigest(manifest);
    if (expires)
        statement.expires = ParseStatementTime(StatementTime(*expires));
    const StatedNotes stated = WithReleaseStatement(notes, statement);
    if (stated.problem)
        return {statement, QByteArray(), QByteArray(), QByteArray(), *stated.problem};
    const SignatureFileResult notesSignature = SignatureFile(stated.notes, secretKey);
    const SignatureFileResult manifestSignature = SignatureFile(manifest, secretKey);
    if (const std::optional<QString> problem = notesSignature.problem ? notesSignature.problem
                                                                       : manifestSignature.problem)
        return {statement, QByteArray(), QByteArray(), QByteArray(), problem};
    return {statement, stated.notes, notesSignature.content, manifestSignature.content,
            std::nullopt};
}
