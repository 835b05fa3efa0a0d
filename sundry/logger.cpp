#include "logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTextStream>

namespace {

const char kStars[] = "*******************************************************";

QString dateText(const QDateTime &now)
{
    return QLocale::c().toString(now.date(), QStringLiteral("dd.MM.yyyy"));
}

QString timeText(const QDateTime &now)
{
    return QLocale::c().toString(now.time(), QStringLiteral("hh:mm:ss.zzz"));
}

} // namespace

Logger::Logger(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_busy(false)
    , m_now(nullptr)
{
}

Logger::~Logger() = default;

void Logger::appendMessage(const QString &text, MessageType type)
{
    appendMessage(m_name, text, type);
}

void Logger::appendMessage(const QString &fileBase, const QString &text, MessageType type)
{
    const QDateTime now = currentDateTime();
    writeToFile(fileBase, QLatin1Char('\n') + dateText(now).leftJustified(11) + QLatin1Char(' ')
                    + timeText(now).leftJustified(13) + QLatin1Char(' ') + typeWord(type).leftJustified(9)
                    + QLatin1Char(' ') + text);
}

void Logger::appendHeader(const QString &text)
{
    appendHeader(m_name, text);
}

void Logger::appendHeader(const QString &fileBase, const QString &text)
{
    const QDateTime now = currentDateTime();
    const QString stars = QLatin1Char('\n') + QLatin1String(kStars) + QLatin1Char('\n');
    writeToFile(fileBase, stars + dateText(now).leftJustified(11) + QLatin1Char(' ')
                    + timeText(now).leftJustified(23) + QLatin1Char(' ') + text + stars);
}

void Logger::appendInfo()
{
    appendInfo(m_name);
}

void Logger::appendInfo(const QString &fileBase)
{
    writeToFile(fileBase, QStringLiteral("Date").leftJustified(11) + QLatin1Char(' ')
                    + QStringLiteral("Time").leftJustified(13) + QLatin1Char(' ')
                    + QStringLiteral("Type").leftJustified(9) + QLatin1Char(' ') + QStringLiteral("Message"));
}

QString Logger::getDirPath() const
{
    if (!m_dirPath.isEmpty())
        return m_dirPath;
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QStringLiteral("log");
}

QString Logger::name() const
{
    return m_name;
}

bool Logger::isBusy() const
{
    return m_busy;
}

QString Logger::typeWord(MessageType type)
{
    switch (type) {
    case Info:
        return QStringLiteral("info");
    case Warning:
        return QStringLiteral("warning");
    case Error:
        return QStringLiteral("error");
    case Critical:
        return QStringLiteral("critical");
    case Work:
        return QStringLiteral("work");
    }
    return QStringLiteral("unknown");
}

void Logger::setDirPath(const QString &dir)
{
    m_dirPath = dir;
}

void Logger::setClock(QDateTime (*now)())
{
    m_now = now;
}

QDateTime Logger::currentDateTime() const
{
    return m_now ? m_now().toLocalTime() : QDateTime::currentDateTime();
}

bool Logger::writeToFile(const QString &fileBase, const QString &text)
{
    const bool wasBusy = m_busy;
    m_busy = true;
    const QString dir = getDirPath();
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + fileBase + QLatin1Char('.') + QStringLiteral("log"));
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (opened) {
        QTextStream out(&file);
        out.setCodec("UTF-8");
        out << text;
        out.flush();
        file.close();
    }
    m_busy = wasBusy;
    return opened;
}
