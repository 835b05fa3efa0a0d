#include "links/files/basefileouttie.h"

#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/regularfile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTextCodec>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

BaseFileOutTie::BaseFileOutTie(QObject *parent)
    : BaseTie(parent)
    , m_zoneUtc(true)
    , m_dateKind(dkIso)
    , m_datePattern(QStringLiteral("yyyy_MM_dd"))
    , m_codec(nullptr)
{
}

BaseFileOutTie::~BaseFileOutTie() = default;

QDateTime BaseFileOutTie::recordTime() const
{
    QDateTime latest;
    for (const BaseTieUnit *unit : units()) {
        if (!unit)
            continue;
        const QDateTime updated = unit->lastUpdated();
        if (updated.isValid() && (!latest.isValid() || latest < updated))
            latest = updated;
    }
    if (!latest.isValid())
        return latest;
    const QDateTime now = Clock::nowUtc();
    if (now < latest)
        latest = now;
    return m_zoneUtc ? latest.toUTC() : latest.toLocalTime();
}

QStringList BaseFileOutTie::exclusiveClaims() const
{
    QStringList claims;
    for (const QString &name : m_fileNames)
        claims << QStringLiteral("writing file %1").arg(QDir::cleanPath(QDir::current().absoluteFilePath(name)));
    return claims;
}

QString BaseFileOutTie::dateText(const QDate &date) const
{
    if (!m_datePattern.isEmpty())
        return date.toString(m_datePattern);
    switch (m_dateKind) {
    case dkIso:
        return date.toString(Qt::ISODate);
    case dkLocale: {
        // Locale date forms may separate with slashes, which would turn the
        // date into directories that do not exist: the file could never be
        // written. A pattern given by the operator is used as written.
        QString text = QLocale::system().toString(date, QLocale::ShortFormat);
        text.replace(QLatin1Char('/'), QLatin1Char('-'));
        return text;
    }
    default:
        return date.toString(Qt::TextDate);
    }
}

QString BaseFileOutTie::fileNameFor(int position, const QDateTime &recordTime) const
{
    if (position < 0 || position >= m_fileNames.size())
        return QString();
    QString name = m_fileNames.at(position);
    if (name.contains(QLatin1String("%1")))
        name.replace(QLatin1String("%1"), dateText(recordTime.date()));
    return name;
}

QByteArray BaseFileOutTie::encode(const QString &text) const
{
    QTextCodec *codec = m_codec ? m_codec : QTextCodec::codecForLocale();
    return codec->fromUnicode(text);
}

bool BaseFileOutTie::appendToFile(const QString &path, const QByteArray &bytes, QString *error, FileIdentity *identity)
{
    // Without blocking: a FIFO at the path would stall the main cycle in
    // open() until a reader came (a signal could not even stop it), and a
    // write to it could neither be waited for nor cut back.
    struct stat st;
    QString reason;
    const int fd = openRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, &reason, &st);
    if (fd < 0) {
        if (error)
            *error = reason;
        return false;
    }
    if (identity)
        *identity = FileIdentity::of(st);
    int cause = 0;
    bool ok = appendWhole(fd, static_cast<qint64>(st.st_size), bytes, path, &cause);
    if (!ok && error)
        *error = systemError(cause);
    if (::close(fd) != 0 && ok) {
        if (error)
            *error = systemError(errno);
        ok = false;
    }
    return ok;
}
