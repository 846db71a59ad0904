#ifndef XMLDOCUMENT_H
#define XMLDOCUMENT_H

#include <QByteArray>
#include <QString>

#include <optional>

class QDomDocument;

// Parses the XML file at path into document. Why that failed, for a log line such as "Cannot use
// GameManifest.xml: <reason>", if it did. The Downloader keeps only answers that arrived whole, so
// a missing file is one that did not. A file of more than limit bytes is refused unread.
[[nodiscard]] std::optional<QString> XmlDocumentProblem(const QString &path, qint64 limit,
                                                        QDomDocument *document);

// As XmlDocumentProblem, for a file that must also carry its signature by publicKey (32 bytes) in
// path + ".sig". A file whose signature does not hold is not parsed at all. signedContent, if given,
// receives the exact bytes whose signature held, for the checks on them that follow
// (documents/releasestatement.h): the file may change after it was read.
[[nodiscard]] std::optional<QString> SignedXmlDocumentProblem(const QString &path, qint64 limit,
                                                              const QByteArray &publicKey,
                                                              QDomDocument *document,
                                                              QByteArray *signedContent = nullptr);

// Parses content into document; why it is not XML, for the same kind of log line, if it is not.
[[nodiscard]] std::optional<QString> XmlProblem(const QByteArray &content, QDomDocument *document);

#endif // XMLDOCUMENT_H
