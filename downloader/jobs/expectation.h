#ifndef EXPECTATION_H
#define EXPECTATION_H

#include "documents/installation/downloaditem.h"

#include <QString>

#include <optional>

// What a file must bring to be put in place. What is left out is not checked.
struct TransferExpectation
{
    qint64 size = -1;   // bytes, or -1
    QString md5;        // lower-case hexadecimal, or empty
    qint64 limit = -1;  // the most bytes taken before the transfer is stopped, or -1 for no bound
};

// What a file that the manifest lists must be: its size and digest where the manifest gives a
// digest; a file without one is taken as it comes, since nothing would vouch for a size alone.
// Without a listing (listed is null) the request is for a document, bounded by the largest one.
TransferExpectation ExpectationOf(const DownloadItem *listed, qint64 documentBytes);

// Why what arrived at path must not be put in place: its size or digest is not the expected one.
[[nodiscard]] std::optional<QString> ContentProblem(const QString &path,
                                                    const TransferExpectation &expected,
                                                    qint64 size, const QString &md5);

#endif // EXPECTATION_H
