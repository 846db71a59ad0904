#include "richtextresources.h"

#include <QImage>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>

bool IsEmbeddedPicture(const QString &name)
{
    static const QString pictures = QStringLiteral(":/data/Res/");
    const QString path =
        name.startsWith(QLatin1String("qrc:"), Qt::CaseInsensitive) ? name.mid(3) : name;
    return path.startsWith(pictures) && !path.contains(QLatin1String(".."));
}

QVariant EmbeddedOnlyDocument::loadResource(int type, const QUrl &name)
{
    const QString path = name.scheme().compare(QLatin1String("qrc"), Qt::CaseInsensitive) == 0
                             ? QLatin1Char(':') + name.path()
                             : name.toString();
    QVariant resource;
    if (type == ImageResource && IsEmbeddedPicture(path)) {
        const QImage picture(path);
        if (!picture.isNull())
            resource = picture;
    }
    if (resource.isNull()) {
        refusedNames << name.toString();
        if (type == ImageResource) {
            QImage empty(1, 1, QImage::Format_ARGB32);
            empty.fill(Qt::transparent);
            resource = empty;
        } else {
            resource = QString(QLatin1Char(' '));
        }
    }
    // Asked again at every paint otherwise.
    addResource(type, name, resource);
    return resource;
}

QString LabelSafeHtml(const QString &html)
{
    if (!Qt::mightBeRichText(html))
        return html;
    // Parsing loads the style sheets and backgrounds; the pictures are only named.
    EmbeddedOnlyDocument document;
    document.setHtml(html);
    bool bForeign = !document.RefusedNames().isEmpty();
    for (QTextBlock block = document.begin(); block.isValid() && !bForeign; block = block.next()) {
        for (QTextBlock::iterator piece = block.begin(); !piece.atEnd() && !bForeign; ++piece) {
            const QTextCharFormat format = piece.fragment().charFormat();
            bForeign = format.isImageFormat() && !IsEmbeddedPicture(format.toImageFormat().name());
        }
    }
    if (!bForeign)
        return html;
    return document.toPlainText().remove(QChar::ObjectReplacementCharacter).toHtmlEscaped();
}
