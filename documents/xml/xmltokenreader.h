#ifndef XMLTOKENREADER_H
#define XMLTOKENREADER_H

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <optional>

// Reads a release document token by token, and refuses what no release document holds and what
// would let a few bytes cost much memory, stack or time: a document type (the only place where
// entities are declared, and whose attribute defaults every element would repeat), elements nested
// deeper than any folder tree goes, elements with more attributes than any release has
// (documents/xml/markupscan.h), and encodings in which the scan could not count them. Nothing is
// expanded or looked up before that: the reader stops at the document type, and a reference to any
// entity but XML's own is no XML without one.
class XmlTokenReader
{
public:
    // Deeper than any manifest's folders or any notes' wrappers need.
    static constexpr int deepestElement = 256;

    explicit XmlTokenReader(const QByteArray &content);

    // Moves to the next token; false at the end of the document, or once it is refused.
    bool Next();
    // The current token.
    QXmlStreamReader &token() { return reader; }
    // The elements that enclose the current token, itself included where it is a start element.
    int depth() const { return openElements; }
    // Why the document cannot be read, once Next() has said false: "it declares ...", or "it is not
    // XML (line 1, column 5: ...)". None if it ended whole.
    std::optional<QString> problem() const { return refusal; }

private:
    QXmlStreamReader reader;
    int unitBytes = 1;
    int openElements = 0;
    std::optional<QString> refusal;
};

#endif // XMLTOKENREADER_H
