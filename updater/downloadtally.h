#ifndef DOWNLOADTALLY_H
#define DOWNLOADTALLY_H

#include <QHash>
#include <QString>

// What the bar and the status line show of a run's downloads: the bytes that its checks found to
// fetch and those that have arrived, neither reset during a run, and the speed last reported. A
// file that is patched counts what it fetches, not its size. The bar holds ints, so byte counts
// reach it divided.
class DownloadTally
{
public:
    // A check found this many bytes to fetch.
    void AddToFetch(qint64 bytes);
    // The file in flight under its bare name, of size bytes, now costs bytes to fetch.
    void Reestimate(const QString &name, qint64 size, qint64 bytes);
    // The file in flight under name has arrived, or was let go of.
    void Settle(const QString &name) { estimates.remove(name); }
    void SettleAll() { estimates.clear(); }
    void AddArrived(qint64 bytes, float speed);
    // The bar is shown full, on a scale of its own, until the next check.
    void ShowFull() { divisor = 1; }

    int BarMaximum() const;
    int BarValue() const;
    QString Text(int filesLeft) const;
    qint64 BytesLeft() const { return toFetch - arrived; }

private:
    qint64 toFetch = 0;
    qint64 arrived = 0;
    float speed = 0.0f;  // KiB per second
    qint64 divisor = 1;
    QHash<QString, qint64> estimates;  // by bare name, where a file costs other than its size
};

#endif // DOWNLOADTALLY_H
