#include "markupscan.h"

#include <QRegularExpression>

namespace {

struct Units
{
    int bytes = 1;
    bool bBigEndian = false;
    int start = 0;  // past the byte order mark
};

// As a parser tells them, from a byte order mark or from the "<" that every document begins with.
Units UnitsOf(const QByteArray &content)
{
    const auto byte = [&content](int i) {
        return i < content.size() ? uchar(content.at(i)) : 0x100;
    };
    const auto starts = [&](std::initializer_list<int> bytes) {
        int i = 0;
        for (const int expected : bytes) {
            if (byte(i++) != expected)
                return false;
        }
        return true;
    };
    if (starts({0xff, 0xfe, 0, 0}))
        return {4, false, 4};
    if (starts({0, 0, 0xfe, 0xff}))
        return {4, true, 4};
    if (starts({0xff, 0xfe}))
        return {2, false, 2};
    if (starts({0xfe, 0xff}))
        return {2, true, 2};
    if (starts({'<', 0, 0, 0}))
        return {4, false, 0};
    if (starts({0, 0, 0, '<'}))
        return {4, true, 0};
    if (starts({'<', 0}))
        return {2, false, 0};
    if (starts({0, '<'}))
        return {2, true, 0};
    return {};
}

// The characters of a document one after the other, as far as markup goes: ASCII stands for itself
// in every encoding that the scan reads, and any other character is one that markup never uses.
class Characters
{
public:
    Characters(const QByteArray &content, const Units &units)
        : data(reinterpret_cast<const uchar *>(content.constData()))
        , end(content.size() - (content.size() - units.start) % units.bytes)
        , units(units)
        , position(units.start)
    {
    }

    bool AtEnd() const { return position >= end; }
    uint Next()
    {
        uint value = 0;
        for (int i = 0; i < units.bytes; ++i) {
            const int shift = units.bBigEndian ? 8 * (units.bytes - 1 - i) : 8 * i;
            value |= uint(data[position + i]) << shift;
        }
        position += units.bytes;
        return value;
    }
    // Whether the characters that come next are text, which are then passed over.
    bool Skip(const char *text)
    {
        const int saved = position;
        for (const char *c = text; *c; ++c) {
            if (AtEnd() || Next() != uint(uchar(*c))) {
                position = saved;
                return false;
            }
        }
        return true;
    }
    // Passes over everything up to and with text.
    void SkipPast(const char *text)
    {
        while (!AtEnd() && !Skip(text))
            Next();
    }

private:
    const uchar *data;
    const int end;
    const Units units;
    int position;
};

} // namespace

MarkupScan ScanMarkup(const QByteArray &content)
{
    const Units units = UnitsOf(content);
    MarkupScan scan;
    scan.unitBytes = units.bytes;
    Characters text(content, units);
    while (!text.AtEnd()) {
        if (text.Next() != '<')
            continue;
        if (text.Skip("!--")) {
            text.SkipPast("-->");
        } else if (text.Skip("![CDATA[")) {
            text.SkipPast("]]>");
        } else if (text.Skip("?")) {
            text.SkipPast("?>");
        } else if (text.Skip("!")) {
            // A document type, which the parser refuses where it meets it, or no XML at all.
            return scan;
        } else if (text.Skip("/")) {
            text.SkipPast(">");
        } else {
            // A start tag: its attributes, each with its "=" outside the quoted values.
            int attributes = 0;
            for (uint c = 0; !text.AtEnd() && (c = text.Next()) != '>';) {
                if (c == '"' || c == '\'') {
                    const char quote[] = {char(c), 0};
                    text.SkipPast(quote);
                } else if (c == '=' && ++attributes > mostAttributes) {
                    scan.problem = QStringLiteral("it gives an element more than %1 attributes")
                                       .arg(mostAttributes);
                    return scan;
                }
            }
        }
    }
    return scan;
}

std::optional<QString> EncodingProblem(int unitBytes, const QString &declared)
{
    static const QRegularExpression wide(QStringLiteral("^utf-?(16|32)(le|be)?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression keepsAscii(
        QStringLiteral("^(utf-?8|us-ascii|ascii|iso-?8859-\\d+|latin-?1|windows-125\\d)$"),
        QRegularExpression::CaseInsensitiveOption);
    if (declared.isEmpty())
        return std::nullopt;
    const QRegularExpressionMatch match = wide.match(declared);
    const int declaredBytes = match.hasMatch() ? match.captured(1).toInt() / 8 : 1;
    if (declaredBytes == unitBytes && (declaredBytes > 1 || keepsAscii.match(declared).hasMatch()))
        return std::nullopt;
    return QStringLiteral("it says that it is in %1, which release documents are not written in")
        .arg(declared.left(40));
}
