#include "monthlogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "utilfunctions.h"

namespace {

constexpr int kCleanupIntervalMs = 3600000;

} // namespace

MonthLogger::MonthLogger(const QString &name, QObject *parent)
    : Logger(name, parent)
    , m_keepLog(-1)
    , m_timer(this)
{
    connect(&m_timer, &QTimer::timeout, this, &MonthLogger::slotTimeout);
}

MonthLogger::~MonthLogger() = default;

QString MonthLogger::monthFileBase(int month) const
{
    return m_name + QStringLiteral("_%0").arg(month);
}

void MonthLogger::appendMessage(const QString &text, MessageType type)
{
    Logger::appendMessage(monthFileBase(currentDateTime().date().month()), text, type);
}

void MonthLogger::appendHeader(const QString &text)
{
    Logger::appendHeader(monthFileBase(currentDateTime().date().month()), text);
}

void MonthLogger::appendInfo()
{
    Logger::appendInfo(monthFileBase(currentDateTime().date().month()));
}

void MonthLogger::setKeepLog(int months)
{
    m_timer.stop();
    m_keepLog = months;
    if (months >= 1 && months <= 11)
        m_timer.start(kCleanupIntervalMs);
}

int MonthLogger::keepLog() const
{
    return m_keepLog;
}

bool MonthLogger::isCleanupActive() const
{
    return m_timer.isActive();
}

void MonthLogger::remove(int fromMonth, int toMonth)
{
    if (fromMonth < 1 || fromMonth > toMonth || toMonth > 12)
        return;
    const QString dirPath = getDirPath();
    QDir().mkpath(dirPath);
    const QDir dir(dirPath);
    const QString log = QStringLiteral("log");
    const QFileInfoList files = dir.entryInfoList(QStringList(QStringLiteral("%0*.%1").arg(m_name, log)),
                                                  QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (int month = fromMonth; month <= toMonth; ++month) {
        const QString fileName = QStringLiteral("%0_%1.%2").arg(m_name, QString::number(month), log);
        if (getFileIndex(fileName, files) < 0)
            continue;
        if (QFile::remove(dir.absoluteFilePath(fileName))) {
            appendMessage(QStringLiteral("Remove log file \"%0\" from dir \"%1\", keeping timeout %2 month(s)")
                              .arg(fileName, dir.absolutePath(), QString::number(m_keepLog)),
                          Info);
        } else {
            qDebug("MonthLogger[%s]: Can't remove file \"%s\" from dir \"%s\"", qUtf8Printable(m_name),
                   qUtf8Printable(fileName), qUtf8Printable(dir.absolutePath()));
        }
    }
}

void MonthLogger::slotTimeout()
{
    // Outside 1..11 there is nothing to clean: -1 keeps everything, and
    // values of 0 or less would reach the current month's own file.
    if (m_busy || m_keepLog < 1 || m_keepLog > 11)
        return;
    m_busy = true;
    const int month = currentDateTime().date().month();
    const int d = month - m_keepLog;
    if (d < 0) {
        remove(month + 1, d + 12);
    } else {
        remove(1, d);
        remove(month + 1, 12);
    }
    m_busy = false;
}
