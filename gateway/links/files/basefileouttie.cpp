#include "links/files/basefileouttie.h"

#include "core/basetieunit.h"

#include <QFile>
#include <QLocale>
#include <QTextCodec>

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
    return m_zoneUtc ? latest.toUTC() : latest.toLocalTime();
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

bool BaseFileOutTie::appendToFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const qint64 before = file.size();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.resize(before);
        return false;
    }
    return true;
}
