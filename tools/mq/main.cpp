// ferrox-mq: reads and writes the POSIX message queues of the gateway's
// queue ties, for operators and tests.

#include "areatext.h"
#include "links/mqueue/mqconnection.h"

#include <utilfunctions.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mqueue.h>

namespace {

// Exit codes.
enum Exit { exOk = 0, exFailed = 1, exUsage = 2, exTooFew = 3 };

const char kDescription[] =
    "Reads and writes the POSIX message queues of the gateway's queue ties.\n"
    "\n"
    "  read QUEUE    takes the messages waiting in QUEUE and prints each as hex\n"
    "                and, with -d, decoded by the records of the definition file\n"
    "  write QUEUE [NAME=VALUE ...]\n"
    "                sends one message: the area of the definition file (-d) with\n"
    "                the named records set and every other record invalid, or\n"
    "                the bytes given with -x\n"
    "  info QUEUE    prints the queue's message size, capacity and waiting messages\n"
    "  unlink QUEUE  removes the queue's name (it goes once no process has it open)\n"
    "\n"
    "Queue names start with \"/\". A value is NAME=V[,V...], one V per element;\n"
    "V may carry its sign word as V/S (validity, state or error code), else it\n"
    "is valid. Times are seconds since 1970 (UTC) with a fraction, or \"now\".\n"
    "Exit codes: 0 done, 1 failed, 2 wrong usage, 3 fewer messages than -n\n"
    "arrived within the wait.";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(const QString &text, int code = exFailed)
{
    std::fprintf(stderr, "ferrox-mq: %s\n", qUtf8Printable(text));
    return code;
}

QString systemError(const QString &what, const QString &queue)
{
    const int error = errno;
    return QStringLiteral("%1 %2: %3 (%4)").arg(what, queue, QString::number(error), mqErrorText(error));
}

// The absolute CLOCK_REALTIME instant `seconds` from now, for the timed calls.
struct timespec deadlineIn(double seconds)
{
    struct timespec at;
    ::clock_gettime(CLOCK_REALTIME, &at);
    const long long nanos = static_cast<long long>(seconds * 1e9) + at.tv_nsec;
    at.tv_sec += static_cast<time_t>(nanos / 1000000000LL);
    at.tv_nsec = static_cast<long>(nanos % 1000000000LL);
    return at;
}

// Writes out what waits for standard output; false when it did not take it.
bool flushed()
{
    out().flush();
    return out().status() == QTextStream::Ok;
}

// Prints one received message; false when standard output did not take it.
bool printMessage(int number, const QString &queue, const QByteArray &bytes, AreaText *area)
{
    out() << "message " << number << " from " << queue << ": " << bytes.size() << " bytes\n";
    for (int row = 0; row < bytes.size(); row += 16)
        out() << "  " << arrayToHexString(bytes, static_cast<unsigned>(row), 16) << '\n';
    if (area) {
        for (const QString &line : area->decode(bytes))
            out() << line << '\n';
    }
    return flushed();
}

int readQueue(const QString &queue, AreaText *area, int count, double waitSeconds)
{
    const int flags = O_RDONLY | (waitSeconds > 0 ? 0 : O_NONBLOCK);
    const mqd_t q = ::mq_open(queue.toLocal8Bit().constData(), flags);
    if (q == static_cast<mqd_t>(-1))
        return fail(systemError(QStringLiteral("cannot open"), queue));
    struct mq_attr attr;
    if (::mq_getattr(q, &attr) != 0) {
        ::mq_close(q);
        return fail(systemError(QStringLiteral("cannot read the attributes of"), queue));
    }
    QByteArray buffer(static_cast<int>(attr.mq_msgsize), '\0');
    const struct timespec deadline = deadlineIn(waitSeconds);
    int received = 0;
    int result = exOk;
    while (count <= 0 || received < count) {
        const ssize_t n = waitSeconds > 0
            ? ::mq_timedreceive(q, buffer.data(), static_cast<size_t>(buffer.size()), nullptr, &deadline)
            : ::mq_receive(q, buffer.data(), static_cast<size_t>(buffer.size()), nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != ETIMEDOUT)
                result = fail(systemError(QStringLiteral("cannot receive from"), queue));
            break;
        }
        // A message that cannot be printed is gone with it; the rest stay
        // in the queue.
        if (!printMessage(++received, queue, buffer.left(static_cast<int>(n)), area)) {
            result = fail(QStringLiteral("cannot write message %1 from %2 to standard output; it is lost, later ones stay in the queue")
                              .arg(QString::number(received), queue));
            break;
        }
    }
    ::mq_close(q);
    if (result != exOk)
        return result;
    if (count > 0 && received < count)
        return fail(QStringLiteral("%1 of %2 messages arrived in %3").arg(QString::number(received), QString::number(count), queue), exTooFew);
    if (received == 0)
        std::fprintf(stderr, "ferrox-mq: no message waiting in %s\n", qUtf8Printable(queue));
    return exOk;
}

int writeQueue(const QString &queue, const QByteArray &message, bool create, double waitSeconds)
{
    const int flags = O_WRONLY | (waitSeconds > 0 ? 0 : O_NONBLOCK) | (create ? O_CREAT : 0);
    struct mq_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.mq_maxmsg = MQConnection::CreatedMaxMessages;
    attr.mq_msgsize = qMax(1, message.size());
    const mqd_t q = ::mq_open(queue.toLocal8Bit().constData(), flags, 0666, &attr);
    if (q == static_cast<mqd_t>(-1))
        return fail(systemError(QStringLiteral("cannot open"), queue));
    const struct timespec deadline = deadlineIn(waitSeconds);
    int sent;
    do {
        sent = waitSeconds > 0
            ? ::mq_timedsend(q, message.constData(), static_cast<size_t>(message.size()), 0, &deadline)
            : ::mq_send(q, message.constData(), static_cast<size_t>(message.size()), 0);
    } while (sent != 0 && errno == EINTR);
    int result = exOk;
    if (sent != 0) {
        const int error = errno;
        if (error == EAGAIN || error == ETIMEDOUT) {
            result = fail(QStringLiteral("%1 is full").arg(queue));
        } else if (error == EMSGSIZE && ::mq_getattr(q, &attr) == 0) {
            result = fail(QStringLiteral("%1 takes messages of at most %2 bytes, this one has %3")
                              .arg(queue, QString::number(attr.mq_msgsize), QString::number(message.size())));
        } else {
            errno = error;
            result = fail(systemError(QStringLiteral("cannot send to"), queue));
        }
    } else {
        out() << "sent " << message.size() << " bytes to " << queue << '\n';
    }
    ::mq_close(q);
    return result;
}

int showQueue(const QString &queue)
{
    const mqd_t q = ::mq_open(queue.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    if (q == static_cast<mqd_t>(-1))
        return fail(systemError(QStringLiteral("cannot open"), queue));
    struct mq_attr attr;
    const bool ok = ::mq_getattr(q, &attr) == 0;
    ::mq_close(q);
    if (!ok)
        return fail(systemError(QStringLiteral("cannot read the attributes of"), queue));
    out() << queue << ": messages of at most " << attr.mq_msgsize << " bytes, room for " << attr.mq_maxmsg << ", "
          << attr.mq_curmsgs << " waiting\n";
    return flushed() ? exOk : fail(QStringLiteral("cannot write the attributes of %1 to standard output").arg(queue));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ferrox-mq"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption definition({"d", "definition"}, "The definition file of the area.", "file");
    const QCommandLineOption count({"n", "count"}, "read: stop after <count> messages, waiting for them with -t.",
                                   "count");
    const QCommandLineOption wait({"t", "wait"},
                                  "read: wait up to <seconds> for messages; write: for room in a full queue.",
                                  "seconds");
    const QCommandLineOption hex({"x", "hex"}, "write: send these bytes (hex digits) instead of an area.", "bytes");
    const QCommandLineOption create({"c", "create"}, "write: create the queue when it is missing.");
    parser.addOptions({definition, count, wait, hex, create});
    parser.addPositionalArgument("command", "read, write, info or unlink");
    parser.addPositionalArgument("queue", "the queue's name, starting with \"/\"");
    parser.addPositionalArgument("values", "write: NAME=VALUE assignments", "[NAME=VALUE ...]");
    // Not process(): it ends an unknown option or a missing value with 1,
    // the code of a failed queue operation.
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"), exUsage);
    if (parser.isSet(help))
        parser.showHelp(exOk);

    const QStringList args = parser.positionalArguments();
    if (args.size() < 2)
        return fail(QStringLiteral("a command and a queue are needed (see --help)"), exUsage);
    const QString command = args.at(0);
    const QString queue = args.at(1);
    if (!queue.startsWith(QLatin1Char('/')) || queue.size() < 2 || queue.indexOf(QLatin1Char('/'), 1) >= 0)
        return fail(QStringLiteral("\"%1\" is no queue name: one \"/\" and a name without \"/\"").arg(queue), exUsage);

    bool ok = true;
    const int messages = parser.isSet(count) ? parser.value(count).toInt(&ok) : 0;
    if (!ok || messages < 0)
        return fail(QStringLiteral("-n takes a number of messages"), exUsage);
    const double seconds = parser.isSet(wait) ? parser.value(wait).toDouble(&ok) : 0.0;
    if (!ok || !(seconds >= 0 && seconds <= 86400))
        return fail(QStringLiteral("-t takes seconds from 0 to 86400"), exUsage);

    AreaText area;
    const bool withArea = parser.isSet(definition);
    if (withArea && !area.load(parser.value(definition)))
        return fail(area.errorText());

    if (command == QLatin1String("read"))
        return args.size() == 2 ? readQueue(queue, withArea ? &area : nullptr, messages, seconds)
                                : fail(QStringLiteral("read takes no values"), exUsage);
    if (command == QLatin1String("info"))
        return showQueue(queue);
    if (command == QLatin1String("unlink"))
        return ::mq_unlink(queue.toLocal8Bit().constData()) == 0
            ? exOk
            : fail(systemError(QStringLiteral("cannot unlink"), queue));
    if (command != QLatin1String("write"))
        return fail(QStringLiteral("unknown command \"%1\" (read, write, info or unlink)").arg(command), exUsage);

    QByteArray message;
    if (parser.isSet(hex)) {
        const QByteArray digits = parser.value(hex).toLatin1().replace(' ', QByteArray());
        message = QByteArray::fromHex(digits);
        if (withArea || args.size() > 2 || digits.size() % 2 != 0 || message.toHex() != digits.toLower())
            return fail(QStringLiteral("-x takes hex digits, and neither -d nor values"), exUsage);
    } else if (!withArea) {
        return fail(QStringLiteral("write needs a definition file (-d) or bytes (-x)"), exUsage);
    } else if (!area.build(args.mid(2), message)) {
        return fail(area.errorText(), exUsage);
    }
    return writeQueue(queue, message, parser.isSet(create), seconds);
}
