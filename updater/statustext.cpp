#include "statustext.h"

#include "updater/richtextresources.h"

namespace {

QString boldBlack(const QString &html)
{
    return QStringLiteral("<b><font color=\"black\">") + html + QStringLiteral("</font></b>");
}

} // namespace

QString StatusLineHtml(const QString &previousVersion, const QString &message)
{
    QString html;
    if (!previousVersion.isEmpty())
        html += boldBlack(LabelSafeHtml(previousVersion)) + QStringLiteral(" | ");
    return html + boldBlack(message);
}
