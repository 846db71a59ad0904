#include "manifestlisting.h"

#include "documents/installation/manifestpath.h"
#include "documents/xml/xmltokenreader.h"

#include <vector>

namespace {

// The paths that a listing names one by one; the rest are only counted, since a hostile manifest
// could list millions of them.
constexpr int namedPaths = 100;

// An element that is open while the manifest streams by. Whether it is a folder, a wrapper or a
// file is known only once it is known whether it has content.
struct OpenElement
{
    enum class Kind { Wrapper, Folder, File };
    Kind kind = Kind::Wrapper;
    QString folder;  // the path of what it holds, or for a file, of the file
    bool bHasContent = false;
    DownloadItem file;  // a FileProperties's attributes, until it ends without content
};

class ListingReader
{
public:
    ListingReader(const QByteArray &content, const QString &folder, ManifestListing *listing)
        : reader(content)
        , listing(listing)
    {
        OpenElement document;
        document.folder = folder;
        open.push_back(document);
    }

    std::optional<QString> Read()
    {
        while (reader.Next()) {
            const QXmlStreamReader &token = reader.token();
            if (skipUntil > 0) {
                if (token.isEndElement() && reader.depth() == skipUntil) {
                    skipUntil = 0;
                    open.pop_back();
                }
                continue;
            }
            if (token.isStartElement()) {
                if (NoteContent())
                    Open(token);
            } else if (token.isEndElement()) {
                Close();
            } else if ((token.isCharacters() && !token.isWhitespace()) || token.isComment()
                       || token.isProcessingInstruction()) {
                NoteContent();
            }
        }
        return reader.problem();
    }

private:
    // The open element has content: a folder is one now, and one that may not be written is
    // skipped with all it holds. False if it is.
    bool NoteContent()
    {
        OpenElement &element = open.back();
        if (element.bHasContent)
            return true;
        element.bHasContent = true;
        if (element.kind == OpenElement::Kind::Folder
            && !IsWritable(element.folder.chopped(1), element.folder)) {
            skipUntil = reader.depth() - (reader.token().isStartElement() ? 1 : 0);
            return false;
        }
        return true;
    }

    void Open(const QXmlStreamReader &token)
    {
        const QXmlStreamAttributes attributes = token.attributes();
        const auto attribute = [&attributes](const char *name) {
            return attributes.value(QLatin1String(name)).toString();
        };
        OpenElement element;
        element.folder = open.back().folder;
        const QStringRef name = token.qualifiedName();
        if (name == QLatin1String("FolderProperties")) {
            const QString folderName = attribute("FolderName");
            if (folderName != QLatin1String(".")) {
                element.kind = OpenElement::Kind::Folder;
                element.folder += folderName + QLatin1Char('/');
            }
        } else if (name == QLatin1String("FileProperties")) {
            element.kind = OpenElement::Kind::File;
            DownloadItem &file = element.file;
            file.fileName = attribute("FileName");
            file.size = attribute("Size").toLongLong(&file.bSizeListed, 10);
            // Tools differ in the case of their hexadecimal digits; the digest is the same.
            file.md5 = attribute("md5").toLower();
            file.blockList = attribute("BlockList");
            file.blockListHead = attribute("BlockListHead").toLongLong();
            file.blockListSha256 = attribute("BlockListSha256").toLower();
        }
        open.push_back(element);
    }

    void Close()
    {
        OpenElement element = std::move(open.back());
        open.pop_back();
        if (element.kind != OpenElement::Kind::File || element.bHasContent)
            return;
        element.file.folder = element.folder;
        const QString path = element.folder + element.file.fileName;
        if (IsWritable(path, path))
            listing->files.append(std::move(element.file));
    }

    // Whether the updater may write at path; if not, entry (the path as the manifest composes it)
    // is noted.
    bool IsWritable(const QString &path, const QString &entry)
    {
        QStringList *noted = nullptr;
        if (!IsSafeManifestPath(path))
            noted = &listing->rejectedPaths;
        else if (IsUpdaterOwnPath(path))
            noted = &listing->ownPaths;
        if (!noted)
            return true;
        if (listing->rejectedPaths.size() + listing->ownPaths.size() < namedPaths)
            noted->append(entry);
        else
            ++listing->unlistedPaths;
        return false;
    }

    XmlTokenReader reader;
    ManifestListing *const listing;
    std::vector<OpenElement> open;  // the document, then each element that encloses the token
    int skipUntil = 0;              // the depth of a folder that is skipped, or 0
};

} // namespace

std::optional<QString> ManifestListingProblem(const QByteArray &content, const QString &folder,
                                              ManifestListing *listing)
{
    *listing = ManifestListing();
    ListingReader reader(content, folder, listing);
    if (std::optional<QString> problem = reader.Read()) {
        *listing = ManifestListing();
        return problem;
    }
    return std::nullopt;
}
