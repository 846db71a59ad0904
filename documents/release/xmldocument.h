#ifndef XMLDOCUMENT_H
#define XMLDOCUMENT_H

#include <QByteArray>
#include <QString>

#include <optional>

class QDomDocument;

// Reads the whole file at path into content. Why that failed, for a log line such as "Cannot use
// GameManifest.xml: <reason>", if it did. The Downloader keeps only answers that arrived whole, so
// a missing file is one that did not. A file of more than limit bytes is refused unread.
[[nodiscard]] std::optional<QString> DocumentProblem(const QString &path, qint64 limit,
                                                     QByteArray *content);

// As DocumentProblem, for a file that must also carry its signature by publicKey (32 bytes) in
// path + ".sig": content receives the exact bytes whose signature held, for the checks on them
// that follow (documents/releasestatement.h), since the file may change after it was read.
[[nodiscard]] std::optional<QString> SignedDocumentProblem(const QString &path, qint64 limit,
                                                           const QByteArray &publicKey,
                                                           QByteArray *content);

// Parses content into document; why it cannot, for the same kind of log line, if it cannot: it is
// not XML, or it is refused unparsed, as XmlTokenReader refuses a document (a document type, or
// elements nested too deep), or for holding more elements, attributes and texts than its size
// allows, which would cost dozens of times its size in memory.
[[nodiscard]] std::optional<QString> XmlProblem(const QByteArray &content, QDomDocument *document);

// DocumentProblem, then XmlProblem.
[[nodiscard]] std::optional<QString> XmlDocumentProblem(const QString &path, qint64 limit,
                                                        QDomDocument *document);

#endif // XMLDOCUMENT_H
