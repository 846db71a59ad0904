// A TCP proxy from a local port to one server that stands for a real link between them, since this
// kernel shapes no traffic. Every byte is forwarded a fixed delay after it arrived, in order. The
// whole link may be capped to a bandwidth, in each direction, that its connections share in turns
// of one chunk each, as a router that queues each flow apart does; so a small answer does not wait
// behind the queue of a large one. Faults for the benches of stalls: data from the server is held
// back for a while, or the connection is closed, once a connection has passed a number of bytes to
// its client. At SIGTERM (or SIGINT, SIGHUP) it writes what went through, so that a bench can tell
// how much its client fetched:
//   from_server=BYTES to_client=BYTES connections=N
// With --rate-log FILE it also writes, each time it passes data from the server to a client, the
// time and the total so far, so that a bench can tell the rate over any window of the run, to the
// chunk (idle times have no line: the total stays what the line before them says):
//   MILLISECONDS_SINCE_START BYTES_TO_CLIENTS
// Run by hand, as bench/link/run and bench/stall/run do:
//   link_proxy --listen 18531 --server 127.0.0.1:8080 --delay 25 --bandwidth 100

#include "app/terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

namespace {

// Small enough that a capped link serves its connections in short turns, large enough to cost
// little per byte.
constexpr qint64 chunkSize = 16384;
// Beyond the delay, how long a connection's data may queue for the link: a router that keeps each
// flow's queue short, and room for a proxy that a busy machine schedules late.
constexpr qint64 queueNs = 50000000;

enum Direction { toServer, toClient };

struct Fault
{
    qint64 afterBytes = -1;  // bytes passed to the client before it strikes; -1: never
    bool everyConnection = false;
    bool struck = false;  // on any connection yet
};

struct LinkOptions
{
    qint64 delayNs = 0;
    qint64 bytesPerSecond = 0;  // 0: no cap
    qint64 window = 0;
    qint64 stallNs = 0;
    Fault stall;
    Fault cut;
};

class Pipe;

// What all connections share: the clock, one transmitter for each direction of a capped link, the
// faults and the counts.
class Link
{
public:
    explicit Link(const LinkOptions &options);

    qint64 NowNs() const { return clock.nsecsElapsed(); }
    bool Capped() const { return options.bytesPerSecond > 0; }
    // A pipe with data waiting for its turn on the link.
    void Enqueue(Direction direction, Pipe *pipe);
    void Forget(Pipe *pipe);
    // BYTES more have gone to a client.
    void PassedToClient(qint64 bytes);

    LinkOptions options;
    std::FILE *rateLog = nullptr;
    qint64 bytesFromServer = 0;
    qint64 bytesToClient = 0;
    int connections = 0;

private:
    struct Transmitter
    {
        std::deque<Pipe *> turns;
        qint64 busyUntilNs = 0;
        QTimer timer;
    };

    void Transmit(Direction direction);

    QElapsedTimer clock;
    Transmitter transmitters[2];
};

// One direction of a connection. What is read from the source waits for its turn on the link (when
// it is capped), then travels for the delay, then goes to the destination. While a window's worth
// is held (here or in the destination's write buffer), nothing more is read, so that the sender's
// TCP window closes as it would on a slow link.
class Pipe : public QObject
{
    Q_OBJECT

public:
    Pipe(Link &link, Direction direction, QTcpSocket *source, QTcpSocket *destination,
         QObject *parent)
        : QObject(parent),
          link(link),
          direction(direction),
          source(source),
          destination(destination)
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &Pipe::Deliver);
        connect(source, &QTcpSocket::readyRead, this, &Pipe::Take);
        connect(destination, &QTcpSocket::bytesWritten, this, &Pipe::Take);
        connect(destination, &QTcpSocket::connected, this, &Pipe::Deliver);
        // Bytes have reached the client once its socket has taken them: Qt's write buffer is still
        // on this side of the line.
        if (direction == toClient)
            connect(destination, &QTcpSocket::bytesWritten, this,
                    [&link](qint64 bytes) { link.PassedToClient(bytes); });
        // Beyond what is taken, Qt would buffer without bound and keep the sender's window open.
        source->setReadBufferSize(chunkSize * 4);
    }

    ~Pipe() override { link.Forget(this); }

    // The source has closed: the rest goes through, then the destination is closed.
    void SourceEnded()
    {
        sourceEnded = true;
        Take();
        FinishIfDrained();
    }

    // Nothing can reach the destination any more.
    void DestinationEnded()
    {
        destinationEnded = true;
        waiting.clear();
        travelling.clear();
        heldBytes = 0;
        timer.stop();
    }

    qint64 NextChunkSize() const { return waiting.empty() ? 0 : waiting.front().size(); }

    // The link has sent the next waiting chunk; it arrives at ARRIVAL.
    void Transmitted(qint64 arrivalNs)
    {
        travelling.push_back({arrivalNs, std::move(waiting.front())});
        waiting.pop_front();
        Schedule();
    }

signals:
    // The connection is to end at once.
    void Cut();

private:
    struct Chunk
    {
        qint64 dueNs;
        QByteArray data;
    };

    qint64 Held() const { return heldBytes + destination->bytesToWrite(); }

    void Take()
    {
        if (destinationEnded)
            return;
        // Once the source has closed, its last bytes are all taken: nothing else would read them.
        while (source->bytesAvailable() > 0 && (sourceEnded || Held() < link.options.window)) {
            QByteArray data = source->read(chunkSize);
            if (direction == toClient)
                link.bytesFromServer += data.size();
            heldBytes += data.size();
            if (link.Capped()) {
                waiting.push_back(std::move(data));
                if (waiting.size() == 1)
                    link.Enqueue(direction, this);
            } else {
                travelling.push_back({link.NowNs() + link.options.delayNs, std::move(data)});
            }
        }
        Schedule();
    }

    void Deliver()
    {
        if (destination->state() != QAbstractSocket::ConnectedState)
            return;
        const qint64 nowNs = link.NowNs();
        while (!travelling.empty() && travelling.front().dueNs <= nowNs
               && nowNs >= stalledUntilNs) {
            QByteArray &data = travelling.front().data;
            const std::optional<qint64> faultAt = NextFaultAt();
            const qint64 bytes =
                faultAt ? qMin<qint64>(data.size(), *faultAt - passed) : data.size();
            destination->write(data.constData(), bytes);
            passed += bytes;
            heldBytes -= bytes;
            if (bytes == data.size())
                travelling.pop_front();
            else
                data.remove(0, int(bytes));
            if (faultAt && passed == *faultAt && Strike())
                return;
        }
        Take();
        FinishIfDrained();
    }

    bool Armed(const Fault &fault) const
    {
        return direction == toClient && fault.afterBytes >= passed
               && (fault.everyConnection || !fault.struck);
    }

    // The count of bytes passed at which the next fault strikes this connection.
    std::optional<qint64> NextFaultAt() const
    {
        std::optional<qint64> next;
        if (Armed(link.options.cut))
            next = link.options.cut.afterBytes;
        const qint64 stallAt = link.options.stall.afterBytes;
        if (Armed(link.options.stall) && !stalled && (!next || stallAt < *next))
            next = stallAt;
        return next;
    }

    // Returns whether the connection has ended.
    bool Strike()
    {
        Fault &cut = link.options.cut;
        if (Armed(cut) && passed == cut.afterBytes) {
            cut.struck = true;
            emit Cut();
            return true;
        }
        link.options.stall.struck = true;
        stalled = true;
        stalledUntilNs = link.NowNs() + link.options.stallNs;
        Schedule();
        return false;
    }

    void Schedule()
    {
        if (travelling.empty() || timer.isActive())
            return;
        const qint64 waitNs = qMax(travelling.front().dueNs, stalledUntilNs) - link.NowNs();
        timer.start(waitNs > 0 ? int((waitNs + 999999) / 1000000) : 0);
    }

    void FinishIfDrained()
    {
        if (sourceEnded && waiting.empty() && travelling.empty()
            && destination->state() == QAbstractSocket::ConnectedState)
            destination->disconnectFromHost();
    }

    Link &link;
    const Direction direction;
    QTcpSocket *const source;
    QTcpSocket *const destination;
    std::deque<QByteArray> waiting;  // for the link's turn
    std::deque<Chunk> travelling;    // for the delay
    qint64 heldBytes = 0;            // in both
    qint64 passed = 0;               // to the destination
    bool sourceEnded = false;
    bool destinationEnded = false;
    bool stalled = false;
    qint64 stalledUntilNs = 0;
    QTimer timer;
};

Link::Link(const LinkOptions &options)
    : options(options)
{
    clock.start();
    for (Direction direction : {toServer, toClient}) {
        QTimer &timer = transmitters[direction].timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this, direction] { Transmit(direction); });
    }
}

void Link::Enqueue(Direction direction, Pipe *pipe)
{
    Transmitter &transmitter = transmitters[direction];
    transmitter.turns.push_back(pipe);
    if (transmitter.timer.isActive())
        return;
    // An idle link has no credit for the time it had nothing to send.
    if (transmitter.turns.size() == 1)
        transmitter.busyUntilNs = qMax(transmitter.busyUntilNs, NowNs());
    Transmit(direction);
}

void Link::Forget(Pipe *pipe)
{
    for (Transmitter &transmitter : transmitters) {
        std::deque<Pipe *> &turns = transmitter.turns;
        turns.erase(std::remove(turns.begin(), turns.end(), pipe), turns.end());
    }
}

void Link::PassedToClient(qint64 bytes)
{
    bytesToClient += bytes;
    if (rateLog)
        std::fprintf(rateLog, "%.3f %lld\n", NowNs() / 1e6, static_cast<long long>(bytesToClient));
}

// Sends the chunks whose turn has begun, one pipe after the other, each at the pace of the cap. A
// timer that fires late is made up for: the link was busy all along.
void Link::Transmit(Direction direction)
{
    Transmitter &transmitter = transmitters[direction];
    const qint64 nowNs = NowNs();
    while (!transmitter.turns.empty() && transmitter.busyUntilNs <= nowNs) {
        Pipe *pipe = transmitter.turns.front();
        transmitter.turns.pop_front();
        const qint64 bytes = pipe->NextChunkSize();
        if (bytes == 0)
            continue;
        transmitter.busyUntilNs += bytes * 1000000000 / options.bytesPerSecond;
        pipe->Transmitted(transmitter.busyUntilNs + options.delayNs);
        if (pipe->NextChunkSize() > 0)
            transmitter.turns.push_back(pipe);
    }
    if (!transmitter.turns.empty())
        transmitter.timer.start(int((transmitter.busyUntilNs - nowNs + 999999) / 1000000));
}

// A client's connection and the one it opened to the server; it deletes itself once both are
// closed.
class Connection : public QObject
{
    Q_OBJECT

public:
    Connection(Link &link, QTcpSocket *client, const QString &serverHost, quint16 serverPort)
        : client(client), server(new QTcpSocket(this))
    {
        client->setParent(this);
        ++link.connections;
        for (QTcpSocket *socket : {client, server}) {
            connect(socket, &QTcpSocket::stateChanged, this,
                    [this, socket](QAbstractSocket::SocketState state) {
                        if (state == QAbstractSocket::UnconnectedState)
                            Ended(socket);
                    });
        }
        upstream = new Pipe(link, toServer, client, server, this);
        downstream = new Pipe(link, toClient, server, client, this);
        connect(downstream, &Pipe::Cut, this, [this] {
            downstream->DestinationEnded();
            this->client->disconnectFromHost();
            this->server->abort();
        });
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // What the link holds is its delay line above. The kernel's buffer toward the client grows
        // to megabytes on loopback, and would count bytes as passed long before the client has
        // taken them: a client that reads slowly would seem to fetch in bursts.
        client->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
        connect(server, &QTcpSocket::connected, this,
                [this] { server->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        server->connectToHost(serverHost, serverPort);
    }

private:
    void Ended(QTcpSocket *socket)
    {
        Pipe *fromSocket = socket == client ? upstream : downstream;
        Pipe *toSocket = socket == client ? downstream : upstream;
        toSocket->DestinationEnded();
        fromSocket->SourceEnded();
        if (client->state() == QAbstractSocket::UnconnectedState
            && server->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    QTcpSocket *const client;
    QTcpSocket *const server;
    Pipe *upstream = nullptr;
    Pipe *downstream = nullptr;
};

// Hundreds of connections take two descriptors each: more than the usual soft limit of 1024.
void RaiseDescriptorLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The value of a number option, the default of one left out, or -1 for one without a default;
// nothing for one that is not a number of zero or more.
std::optional<double> NumberOption(const QCommandLineParser &parser,
                                   const QCommandLineOption &option)
{
    if (!parser.isSet(option) && option.defaultValues().isEmpty())
        return -1.0;
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

// A window in which a lone connection fills a capped link: the bytes on their way for the delay and
// those in its queue.
qint64 DefaultWindow(const LinkOptions &options)
{
    if (options.bytesPerSecond == 0)
        return 4 << 20;
    return qMax<qint64>(256 << 10,
                        options.bytesPerSecond * (options.delayNs + queueNs) / 1000000000);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Forwards 127.0.0.1:PORT to a server as a link with a delay, a bandwidth "
                       "cap and faults would."));
    parser.addHelpOption();
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("Port on 127.0.0.1 to accept clients on."),
                                          QStringLiteral("port"));
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("The server to forward to."),
                                          QStringLiteral("host:port"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Delay of each direction (default 0)."),
                                         QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption bandwidthOption(
        QStringLiteral("bandwidth"),
        QStringLiteral("Cap of each direction, shared by all connections (default 0: none)."),
        QStringLiteral("Mbit/s"), QStringLiteral("0"));
    const QCommandLineOption windowOption(
        QStringLiteral("window"),
        QStringLiteral("Most bytes one direction of a connection holds (default: with a cap, what "
                       "it sends in the delay and 50 ms more, at least 256 KiB; without, 4 MiB)."),
        QStringLiteral("bytes"));
    const QCommandLineOption stallAfterOption(
        QStringLiteral("stall-after"),
        QStringLiteral("Hold the server's data back once a connection has passed this many bytes "
                       "to its client; on the first connection that does."),
        QStringLiteral("bytes"));
    const QCommandLineOption stallSecondsOption(
        QStringLiteral("stall-seconds"), QStringLiteral("How long a stall lasts (default 7)."),
        QStringLiteral("s"), QStringLiteral("7"));
    const QCommandLineOption stallEveryOption(
        QStringLiteral("stall-every-connection"),
        QStringLiteral("Stall every connection that gets there."));
    const QCommandLineOption cutAfterOption(
        QStringLiteral("cut-after"),
        QStringLiteral("Close a connection once it has passed this many bytes to its client; the "
                       "first connection that does."),
        QStringLiteral("bytes"));
    const QCommandLineOption cutEveryOption(
        QStringLiteral("cut-every-connection"),
        QStringLiteral("Cut every connection that gets there."));
    const QCommandLineOption countOption(
        QStringLiteral("count-file"),
        QStringLiteral("Where to write the counts at the end (default: standard output)."),
        QStringLiteral("file"));
    const QCommandLineOption rateLogOption(
        QStringLiteral("rate-log"),
        QStringLiteral("Write a line \"MILLISECONDS BYTES\" to this file each time data passes "
                       "from the server to a client: the time since the start and the bytes "
                       "passed to clients so far."),
        QStringLiteral("file"));
    parser.addOptions({listenOption, serverOption, delayOption, bandwidthOption, windowOption,
                       stallAfterOption, stallSecondsOption, stallEveryOption, cutAfterOption,
                       cutEveryOption, countOption, rateLogOption});
    parser.process(application);

    const auto fail = [&parser](const char *problem) {
        std::fprintf(stderr, "link_proxy: %s\n\n%s", problem, qPrintable(parser.helpText()));
        return 2;
    };
    bool portOk = false;
    const quint16 listenPort = parser.value(listenOption).toUShort(&portOk);
    if (!portOk)
        return fail("--listen needs a port");
    const QString server = parser.value(serverOption);
    const int colon = server.lastIndexOf(QLatin1Char(':'));
    const quint16 serverPort = server.mid(colon + 1).toUShort(&portOk);
    if (colon <= 0 || !portOk)
        return fail("--server needs host:port");
    const QString serverHost = server.left(colon);

    const std::optional<double> delay = NumberOption(parser, delayOption);
    const std::optional<double> bandwidth = NumberOption(parser, bandwidthOption);
    const std::optional<double> window = NumberOption(parser, windowOption);
    const std::optional<double> stallAfter = NumberOption(parser, stallAfterOption);
    const std::optional<double> stallSeconds = NumberOption(parser, stallSecondsOption);
    const std::optional<double> cutAfter = NumberOption(parser, cutAfterOption);
    if (!delay || !bandwidth || !window || !stallAfter || !stallSeconds || !cutAfter)
        return fail("a number option is not a number of zero or more");
    LinkOptions options;
    options.delayNs = qint64(*delay * 1e6);
    options.bytesPerSecond = qint64(*bandwidth * 1e6 / 8);
    options.window = *window >= 0 ? qint64(*window) : DefaultWindow(options);
    options.stallNs = qint64(*stallSeconds * 1e9);
    options.stall = {qint64(*stallAfter), parser.isSet(stallEveryOption)};
    options.cut = {qint64(*cutAfter), parser.isSet(cutEveryOption)};
    if (options.window < chunkSize)
        return fail("--window must hold at least 16384 bytes");

    RaiseDescriptorLimit();
    Link link(options);
    if (parser.isSet(rateLogOption)) {
        link.rateLog = std::fopen(QFile::encodeName(parser.value(rateLogOption)).constData(), "w");
        if (!link.rateLog) {
            std::perror("link_proxy: cannot open the rate log");
            return 1;
        }
    }
    QTcpServer listener;
    QObject::connect(&listener, &QTcpServer::newConnection, &listener, [&] {
        while (QTcpSocket *client = listener.nextPendingConnection())
            new Connection(link, client, serverHost, serverPort);
    });
    if (!listener.listen(QHostAddress::LocalHost, listenPort)) {
        std::fprintf(stderr, "link_proxy: cannot listen on 127.0.0.1:%u: %s\n", listenPort,
                     qPrintable(listener.errorString()));
        return 1;
    }
    // Qt listens with a backlog of 50: a burst of more connections would see SYNs dropped and
    // retried a second later. Listening again on Linux only enlarges the backlog.
    ::listen(int(listener.socketDescriptor()), SOMAXCONN);
    // Loopback's segments of 64 KiB would have a client's kernel open its window in steps of as
    // much; a real link carries Ethernet's, and its client's window opens as it reads.
    const int ethernetSegmentBytes = 1448;
    ::setsockopt(int(listener.socketDescriptor()), IPPROTO_TCP, TCP_MAXSEG, &ethernetSegmentBytes,
                 sizeof ethernetSegmentBytes);
    TerminationSignals terminationSignals;
    application.exec();

    const QByteArray counts = QStringLiteral("from_server=%1 to_client=%2 connections=%3\n")
                                  .arg(link.bytesFromServer)
                                  .arg(link.bytesToClient)
                                  .arg(link.connections)
                                  .toUtf8();
    QFile out;
    bool opened = false;
    if (parser.isSet(countOption)) {
        out.setFileName(parser.value(countOption));
        opened = out.open(QIODevice::WriteOnly);
    } else {
        opened = out.open(stdout, QIODevice::WriteOnly);
    }
    if (!opened || out.write(counts) != counts.size() || !out.flush()) {
        std::fprintf(stderr, "link_proxy: cannot write the counts: %s\n",
                     qPrintable(out.errorString()));
        return 1;
    }
    if (link.rateLog) {
        // A line that failed to be written leaves its mark on the stream, not in fclose's result.
        const bool failed = std::ferror(link.rateLog) != 0;
        if (std::fclose(link.rateLog) != 0 || failed) {
            std::fprintf(stderr, "link_proxy: cannot write the rate log\n");
            return 1;
        }
    }
    return 0;
}

#include "proxy.moc"
