#ifndef RICHTEXTRESOURCES_H
#define RICHTEXTRESOURCES_H

#include <QString>
#include <QStringList>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>

// The window shows what the server sends as rich text, whose pictures, style sheets and backgrounds
// Qt would load from wherever they point: local files, devices and FIFOs among them. The only ones
// it may load are the program's own embedded pictures (":/data/Res/...", "qrc:/data/Res/...").
bool IsEmbeddedPicture(const QString &name);

// A text document that loads nothing but the embedded pictures: anything else that its text names
// stands as an empty placeholder, never as nothing, which Qt would go and read from the file
// itself. It keeps the names that it refused.
class EmbeddedOnlyDocument : public QTextDocument
{
    Q_OBJECT

public:
    using QTextDocument::QTextDocument;

    QStringList RefusedNames() const { return refusedNames; }

protected:
    QVariant loadResource(int type, const QUrl &name) override;

private:
    QStringList refusedNames;
};

// A label draws its rich text through a document of its own, which reads whatever it names: html as
// it is where it names nothing but the embedded pictures, else its text alone, escaped.
QString LabelSafeHtml(const QString &html);

#endif // RICHTEXTRESOURCES_H
