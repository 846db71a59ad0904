#ifndef MARKUP_H
#define MARKUP_H

#include <QString>

// Turns note markup into HTML: *text* becomes large bold black text, _text_ bold, !text! italic and a
// line break "<br/>". Each opening marker pairs with the nearest following marker of its kind, pairs
// may span lines, a marker without a partner stays as it is, and nothing else is escaped.
QString MarkupToHtml(QString text);

#endif // MARKUP_H
