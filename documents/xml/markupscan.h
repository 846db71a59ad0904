#ifndef MARKUPSCAN_H
#define MARKUPSCAN_H

#include <QByteArray>
#include <QString>

#include <optional>

// What an XML document's bytes say before a parser reads them: the width of its characters, and
// whether any element gives more attributes than release documents ever do. Qt's stream reader
// compares every attribute of an element with all the others, so one element with 40,000 of them
// costs seconds; the scan counts them in one pass over the bytes instead.
struct MarkupScan
{
    // 1 for UTF-8 and the other encodings that keep ASCII as it is, 2 for UTF-16, 4 for UTF-32.
    int unitBytes = 1;
    std::optional<QString> problem;
};

constexpr int mostAttributes = 64;

[[nodiscard]] MarkupScan ScanMarkup(const QByteArray &content);

// Why a document whose characters are unitBytes wide cannot declare the encoding declared (empty
// where it declares none): the scan would not have read it as the parser does.
[[nodiscard]] std::optional<QString> EncodingProblem(int unitBytes, const QString &declared);

#endif // MARKUPSCAN_H
