#include "patchchoice.h"

#include "documents/patch/blocklist.h"

#include <QFileInfo>

bool HasUsableBlockList(const DownloadItem &item, qint64 documentBytes)
{
    return !item.blockList.isEmpty() && !ListedBlockListProblem(item, documentBytes);
}

PatchChoice ChoosePatch(const DownloadItem &item, const TransferExpectation &expected,
                        bool bFellBack, qint64 documentBytes)
{
    const QFileInfo oldCopy(item.folder + item.fileName);
    // Without a list, or an old copy, no patch was to be had; a file that fell back has said why.
    if (item.blockList.isEmpty() || bFellBack || !oldCopy.exists())
        return {};
    if (std::optional<QString> problem = ListedBlockListProblem(item, documentBytes))
        return {false, problem};
    if (expected.md5.isEmpty())
        return {false, QStringLiteral("the manifest gives no MD5 digest for it")};
    if (expected.size <= 0)
        return {false, QStringLiteral("the manifest gives no size for it")};
    if (!oldCopy.isFile())
        return {false, QStringLiteral("its old copy is not a file")};
    if (oldCopy.size() <= 0)
        return {false, QStringLiteral("its old copy is empty")};
    return {true, std::nullopt};
}
