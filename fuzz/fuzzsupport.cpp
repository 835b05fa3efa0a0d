#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

// Diagnostics of the code under test would only slow the run down.
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

QTemporaryDir *scratch()
{
    // In memory where there is such a file system: a target writes files on
    // every input, and a disk would slow it down tenfold. Deleted at exit
    // (its destructor removes the directory).
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QDir base = shm.isDir() && shm.isWritable() ? QDir(shm.filePath()) : QDir::temp();
    static QTemporaryDir dir(base.filePath(QStringLiteral("ferroxfuzz-XXXXXX")));
    return &dir;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "ferrox-fuzz";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives as long as the process
    if (!qEnvironmentVariableIsSet("FERROX_FUZZ_VERBOSE"))
        qInstallMessageHandler(dropMessage);
    return 0;
}

QString fuzzScratchDir()
{
    return scratch()->isValid() ? scratch()->path() : QString();
}

QString fuzzWriteFile(const QString &name, const QByteArray &bytes)
{
    const QString dir = fuzzScratchDir();
    if (dir.isEmpty())
        return QString();
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

QByteArray fuzzQueueName(const char *tag)
{
    return "/ferroxfuzz-" + QByteArray::number(static_cast<qint64>(::getpid())) + '-' + tag;
}

QByteArray FuzzInput::take(size_t n)
{
    const size_t count = qMin(n, m_size - qMin(m_pos, m_size));
    const QByteArray bytes(reinterpret_cast<const char *>(m_data + m_pos), static_cast<int>(count));
    m_pos += count;
    return bytes;
}

QByteArray FuzzInput::rest()
{
    return take(m_size);
}

QByteArray FuzzInput::until(const QByteArray &separator)
{
    const QByteArray left = QByteArray::fromRawData(reinterpret_cast<const char *>(m_data + qMin(m_pos, m_size)),
                                                    static_cast<int>(m_size - qMin(m_pos, m_size)));
    const int at = left.indexOf(separator);
    if (at < 0)
        return rest();
    const QByteArray part(left.constData(), at);
    m_pos += static_cast<size_t>(at) + static_cast<size_t>(separator.size());
    return part;
}

void fuzzCheckAt(bool condition, const char *file, int line, const char *text)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, text);
    std::abort();
}

void fuzzWriteSeeds(const QString &directory, const QVector<QPair<const char *, QByteArray>> &seeds)
{
    for (const auto &seed : seeds) {
        QFile file(directory + QLatin1Char('/') + QLatin1String(seed.first));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(seed.second) != seed.second.size())
            std::exit(1);
    }
    std::exit(0);
}
