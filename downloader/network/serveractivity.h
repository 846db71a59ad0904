#ifndef SERVERACTIVITY_H
#define SERVERACTIVITY_H

#include <QElapsedTimer>

#include <limits>

// When the server last sent anything, to any transfer. A request that waits its turn behind the
// answers to others (on a connection with requests in a row, or for a free connection) gets nothing
// until they are done: it is not stalled while the line still brings data.
class ServerActivity
{
public:
    void Note() { sinceData.start(); }
    qint64 QuietFor() const
    {
        return sinceData.isValid() ? sinceData.elapsed() : std::numeric_limits<qint64>::max();
    }

private:
    QElapsedTimer sinceData;
};

#endif // SERVERACTIVITY_H
