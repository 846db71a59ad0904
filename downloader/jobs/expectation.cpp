#include "expectation.h"

#include <QStringList>

#include <algorithm>

namespace {

bool IsDigest(const QString &md5)
{
    return md5.size() == 32
           && std::all_of(md5.cbegin(), md5.cend(), [](QChar c) {
                  return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                         || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
              });
}

} // namespace

TransferExpectation ExpectationOf(const DownloadItem *listed, qint64 documentBytes)
{
    TransferExpectation expected;
    if (!listed) {
        expected.limit = documentBytes;
        return expected;
    }
    const QString md5 = listed->md5.toLower();
    if (!IsDigest(md5))
        return expected;
    expected.md5 = md5;
    if (listed->bSizeListed && listed->size >= 0)
        expected.size = expected.limit = listed->size;
    return expected;
}

std::optional<QString> ContentProblem(const QString &path, const TransferExpectation &expected,
                                      qint64 size, const QString &md5)
{
    const bool bSizeWrong = expected.size >= 0 && size != expected.size;
    const bool bDigestWrong = !expected.md5.isEmpty() && md5 != expected.md5;
    if (!bSizeWrong && !bDigestWrong)
        return std::nullopt;
    QStringList wanted;
    if (expected.size >= 0)
        wanted << QStringLiteral("%1 bytes").arg(expected.size);
    if (!expected.md5.isEmpty())
        wanted << QStringLiteral("MD5 %1").arg(expected.md5);
    return QStringLiteral("Refused %1: expected %2, received %3 bytes with MD5 %4")
        .arg(path, wanted.join(QStringLiteral(" with ")))
        .arg(size)
        .arg(md5);
}
