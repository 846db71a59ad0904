#include "progress.h"

#include <QByteArray>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr int barWidth = 30;

QByteArray mebibytes(qint64 bytes)
{
    return QByteArray::number(double(bytes) / (1024 * 1024), 'f', 1) + " MiB";
}

} // namespace

ProgressBar::ProgressBar(const HashControl &control)
    : control(control)
    , bTerminal(isatty(fileno(stderr)))
{
}

ProgressBar::~ProgressBar()
{
    if (!bTerminal)
        return;
    draw();
    std::fputc('\n', stderr);
}

void ProgressBar::draw()
{
    if (!bTerminal)
        return;
    const qint64 total = control.bytesToHash;
    const qint64 done = std::min(qint64(control.bytesHashed), total);
    const int filled = total > 0 ? int(done * barWidth / total) : barWidth;
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    const QByteArray line = "\r[" + QByteArray(filled, '#') + QByteArray(barWidth - filled, '.')
        + "] " + QByteArray::number(percent).rightJustified(3) + "%  " + mebibytes(done) + " of "
        + mebibytes(total) + "\x1b[K";
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}
