#ifndef REDIRECTTRAIL_H
#define REDIRECTTRAIL_H

#include <QSet>
#include <QString>
#include <QUrl>

// Where one request's redirects led: Qt follows them up to a limit, and a loop among them is said
// as such when the limit ends the request.
class RedirectTrail
{
public:
    void Start(const QUrl &url) { visited = {url}, loopTarget.clear(); }
    void Follow(const QUrl &target)
    {
        if (visited.contains(target) && loopTarget.isEmpty())
            loopTarget = target;
        visited.insert(target);
    }
    // Why a request to path that ran out of redirects was given up.
    QString Problem(const QString &path, int maximumRedirects) const
    {
        if (!loopTarget.isEmpty()) {
            return QStringLiteral("Gave up on %1: its redirects go round in a loop, back to %2")
                .arg(path, loopTarget.toDisplayString());
        }
        return QStringLiteral("Gave up on %1: it was redirected more than %2 times")
            .arg(path)
            .arg(maximumRedirects);
    }

private:
    QSet<QUrl> visited;  // the request's URL and each redirect's
    QUrl loopTarget;     // a redirect back to one of them
};

#endif // REDIRECTTRAIL_H
