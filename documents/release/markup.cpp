#include "markup.h"

#include <QRegularExpression>

namespace {

// Minimal matching pairs each marker with the nearest partner; the dot also matches line breaks.
QString replacePairs(const QString &text, const QString &marker, const QString &open,
                     const QString &close)
{
    static const QRegularExpression::PatternOptions options =
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::InvertedGreedinessOption;
    const QString escaped = QRegularExpression::escape(marker);
    const QRegularExpression pair(escaped + QStringLiteral("(.*)") + escaped, options);
    QString result = text;
    return result.replace(pair, open + QStringLiteral("\\1") + close);
}

} // namespace

QString MarkupToHtml(QString text)
{
    // The order is fixed: the tags that one step inserts hold none of the later markers.
    text = replacePairs(text, QStringLiteral("*"),
                        QStringLiteral("<b><font size=\"3\" color=\"black\">"),
                        QStringLiteral("</font></b>"));
    text = replacePairs(text, QStringLiteral("_"), QStringLiteral("<b>"), QStringLiteral("</b>"));
    text = replacePairs(text, QStringLiteral("!"), QStringLiteral("<i>"), QStringLiteral("</i>"));
    return text.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
}
