#ifndef STATUSTEXT_H
#define STATUSTEXT_H

#include <QString>

// The status line's HTML: every piece bold black, the previous release's version first when it is
// known. Version and message are taken as HTML, unescaped, so a message may carry markup of its own;
// a version that names a resource other than the embedded pictures shows as its text alone, since
// the label would load it (updater/richtextresources.h).
QString StatusLineHtml(const QString &previousVersion, const QString &message);

#endif // STATUSTEXT_H
