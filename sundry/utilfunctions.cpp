#include "utilfunctions.h"

#include "qxmltranslation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <sys/statvfs.h>
#include <unistd.h>

quint32 checkSum32(const unsigned char *data, unsigned long length, QSysInfo::Endian order)
{
    quint32 sum = 0x55555555u;
    if (!data)
        return sum;
    for (unsigned long offset = 0; offset < length; offset += 4) {
        // A last, partial word is read only up to `length`; its missing
        // bytes count as zero.
        const unsigned long available = std::min<unsigned long>(4, length - offset);
        quint32 word = 0;
        for (unsigned long i = 0; i < available; ++i) {
            const quint32 byte = data[offset + i];
            word |= order == QSysInfo::BigEndian ? byte << (8 * (3 - i)) : byte << (8 * i);
        }
        sum += word;
    }
    return sum;
}

quint32 checkSum32(const char *data, unsigned long length, QSysInfo::Endian order)
{
    return checkSum32(reinterpret_cast<const unsigned char *>(data), length, order);
}

QString uintToHex(unsigned int value, unsigned int width)
{
    // No number needs more than 8 digits; wider padding is only zeros, and
    // the limit keeps an absurd width from exhausting memory.
    const int padded = static_cast<int>(std::min(width, 4096u));
    return QString::number(value, 16).toUpper().rightJustified(padded, QLatin1Char('0'));
}

QString arrayToHexString(const QByteArray &data, unsigned int start, unsigned int count)
{
    const qint64 size = data.size();
    if (static_cast<qint64>(start) >= size)
        return QString();

    const unsigned int col = start % 16;
    const unsigned int rowAddress = start & ~0xFu;
    qint64 shown = count;
    shown = std::min<qint64>(shown, 16 - col);
    shown = std::min<qint64>(shown, size - start);
    const qint64 last = static_cast<qint64>(col) + shown - 1; // -1 when nothing is shown

    const unsigned int addressWidth = size > 0xFFFFFF ? 8 : size > 0xFFFF ? 6 : 4;
    QString line = uintToHex(rowAddress, addressWidth) + QLatin1String(": ");
    line.reserve(line.size() + 16 * 3 + 2 + 1 + 16 + 1);

    for (int p = 0; p < 16; ++p) {
        if (p < static_cast<int>(col) || p > last) {
            line += QLatin1String("   ");
        } else {
            const uchar byte = static_cast<uchar>(data.at(static_cast<int>(start) + p - static_cast<int>(col)));
            line += uintToHex(byte, 2) + QLatin1Char(' ');
        }
        if (p == 7)
            line += QLatin1String("- ");
    }
    line += QLatin1Char(' ');
    for (int p = 0; p < 16; ++p) {
        if (p < static_cast<int>(col) || p > last) {
            line += QLatin1Char(' ');
        } else {
            const uchar byte = static_cast<uchar>(data.at(static_cast<int>(start) + p - static_cast<int>(col)));
            // '%' is left out so that the row can go through printf-style output.
            const bool printable = byte >= 0x20 && byte <= 0x7E && byte != '%';
            line += printable ? QLatin1Char(static_cast<char>(byte)) : QLatin1Char('.');
        }
        if (p == 7)
            line += QLatin1Char(' ');
    }
    return line;
}

void qDebugDumpByteArray(const QByteArray &data)
{
    for (int rowStart = 0; rowStart < data.size(); rowStart += 16) {
        const unsigned int count = static_cast<unsigned int>(std::min(16, data.size() - rowStart));
        qDebug("%s", qUtf8Printable(arrayToHexString(data, static_cast<unsigned int>(rowStart), count)));
    }
}

bool checkFreeDiskSpace(const QString &path, unsigned int neededMiB)
{
    // A file system that cannot be examined offers no space.
    unsigned long long availableMiB = 0;
    struct statvfs info;
    if (::statvfs(QFile::encodeName(path).constData(), &info) == 0)
        availableMiB = (static_cast<unsigned long long>(info.f_bavail) * info.f_frsize) >> 20;
    if (availableMiB > neededMiB)
        return true;
    qDebug("Free disk space: %s ; Needed: %s", qUtf8Printable(QString::number(availableMiB)),
           qUtf8Printable(QString::number(neededMiB)));
    return false;
}

namespace {

// Blocks for `ms` milliseconds; a signal cuts nanosleep() short, and the
// rest of the time is slept then.
void sleepMsecs(unsigned long long ms)
{
    struct timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec remaining;
    while (::nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

} // namespace

void SASleep(unsigned long ms)
{
    sleepMsecs(ms);
}

void SAqSleep(int ms)
{
    if (ms > 0)
        sleepMsecs(static_cast<unsigned long long>(ms));
}

void sleepNonBlock(unsigned long ms)
{
    if (ms <= 10) {
        SASleep(ms);
        return;
    }
    QElapsedTimer timer;
    timer.start();
    while (static_cast<unsigned long long>(timer.elapsed()) < ms) {
        SASleep(10);
        QCoreApplication::processEvents();
    }
}

int getFileIndex(const QString &fileName, const QList<QFileInfo> &files)
{
    for (int i = 0; i < files.size(); ++i) {
        if (files.at(i).fileName() == fileName)
            return i;
    }
    return -1;
}

QString protocolSocketName(const QString &name)
{
    const QString project = shortProjectName();
    if (project.isEmpty() || name.contains(project))
        return name;
    return QStringLiteral("%1_%2").arg(name, project);
}

QString shortProjectName()
{
    return QStringLiteral("ferrox");
}

QString engOrganizationName()
{
    return QStringLiteral("Ferrox");
}

QString getXmlTranslationLang()
{
    return QXmlTranslation::m_lang;
}

void setXmlTranslationLang(const QString &lang)
{
    QXmlTranslation::m_lang = lang;
}
