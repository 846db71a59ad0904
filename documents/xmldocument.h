#ifndef XMLDOCUMENT_H
#define XMLDOCUMENT_H

#include <QByteArray>
#include <QString>

class QDomDocument;

// Parses the XML file at path into document. Returns why that failed, for a log line such as
// "Cannot use GameManifest.xml: <reason>", or an empty string when the whole file parsed. The
// Downloader keeps only answers that arrived whole, so a missing file is one that did not. A file
// of more than limit bytes is refused without being read.
QString LoadXmlDocument(const QString &path, qint64 limit, QDomDocument *document);

// As LoadXmlDocument, for a file that must also carry its signature by publicKey (32 bytes) in
// path + ".sig". A file whose signature does not hold is not parsed at all.
QString LoadSignedXmlDocument(const QString &path, qint64 limit, const QByteArray &publicKey,
                              QDomDocument *document);

#endif // XMLDOCUMENT_H
