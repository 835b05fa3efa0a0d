#include "links/files/textfileouttie.h"

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"

#include <csvfunctions.h>

#include <QTextStream>

namespace {

const char *kDateFormat = "dd.MM.yyyy hh:mm:ss.zzz";

QByteArray stamp(const QDateTime &dt)
{
    return dt.isValid() ? dt.toString(QLatin1String(kDateFormat)).toUtf8() : QByteArrayLiteral("(invalid)");
}

constexpr char kDelimiters[] = {',', ';', '\t', ' '};

// Records are told apart by their whole second: it is all the seconds line
// shows, so a second record within one second would look like the first.
qint64 secondOf(const QDateTime &dt)
{
    return dt.toSecsSinceEpoch();
}

// True when a file that holds the record at `held` (invalid: none yet)
// already holds the record at `record`.
bool holds(const QDateTime &held, const QDateTime &record)
{
    return held.isValid() && secondOf(record) <= secondOf(held);
}

// The first whole second after `dt`, in its zone.
QDateTime nextSecondAfter(const QDateTime &dt)
{
    return dt.addMSecs(1000 - dt.time().msec());
}

} // namespace

TextFileOutTie::TextFileOutTie(QObject *parent)
    : BaseFileOutTie(parent)
    , m_writeInvalid(false)
    , m_columns(OutFieldFormat::defaultColumns())
    , m_validString(QStringLiteral("+"))
    , m_invalidString(QStringLiteral("-"))
    , m_secondsLine(true)
    , m_syncByTimePoint(false)
    , m_minWriteInterval(1)
    , m_delimiterKind(1)
{
}

TextFileOutTie::~TextFileOutTie() = default;

qint32 TextFileOutTie::state() const
{
    return 0;
}

void TextFileOutTie::addUnit(BaseTieUnit *unit)
{
    appendUnit(unit);
    GATE_DEBUG(1, "TextFileOutTie::addUnit(%p) add unit with direction %u", static_cast<void *>(unit),
               unit ? unit->direction() : 0u);
}

void TextFileOutTie::beforeWriteToFile(int, const QString &)
{
}

void TextFileOutTie::setColumns(const QVector<OutFieldFormat::Column> &columns)
{
    m_columns = columns.isEmpty() ? OutFieldFormat::defaultColumns() : columns;
}

void TextFileOutTie::setDelimiterKind(qint32 kind)
{
    if (kind < 0 || kind >= static_cast<qint32>(sizeof kDelimiters)) {
        GATE_WARN("Unknown field delimiter type");
        return;
    }
    m_delimiterKind = kind;
}

QChar TextFileOutTie::delimiter() const
{
    return QLatin1Char(kDelimiters[m_delimiterKind]);
}

void TextFileOutTie::takeOver(BaseTie &predecessor)
{
    auto *old = qobject_cast<TextFileOutTie *>(&predecessor);
    if (!old || old == this)
        return;
    // The record the predecessor still owes is written first, so that what
    // it wrote is all there is to take over.
    old->drain();
    m_lastWritten = old->m_lastWritten;
    m_lastWrittenAt = old->m_lastWrittenAt;
    const QStringList names = fileNames();
    m_fileWritten.resize(names.size());
    for (int k = 0; k < names.size(); ++k) {
        const int j = positionIn(*old, k);
        if (j >= 0 && j < old->m_fileWritten.size())
            m_fileWritten[k] = old->m_fileWritten.at(j);
    }
}

int TextFileOutTie::positionIn(const TextFileOutTie &other, int position) const
{
    const QStringList names = fileNames();
    return position >= 0 && position < names.size() ? other.fileNames().indexOf(names.at(position)) : -1;
}

bool TextFileOutTie::deliveryFailing() const
{
    for (const RepeatedMessage &fault : m_fileFaults)
        if (fault.active())
            return true;
    return false;
}

bool TextFileOutTie::recordWritten(const QDateTime &dt) const
{
    const int files = fileNames().size();
    for (int k = 0; k < files; ++k) {
        if (k >= m_fileWritten.size() || !holds(m_fileWritten.at(k), dt))
            return false;
    }
    return true;
}

bool TextFileOutTie::sendUnitData(BaseTieUnit *unit)
{
    GATE_DEBUG(3, "TextFileOutTie::sendUnitData(%p) was called", static_cast<void *>(unit));
    if (!unit)
        return false;
    const QDateTime now = Clock::nowUtc();
    forgetRecordsAheadOf(now);
    const QDateTime updated = unit->lastUpdated();
    GATE_DEBUG(10, "    lastUpdated=%s, lastWritten=%s", stamp(updated).constData(), stamp(m_lastWritten).constData());
    if (!updated.isValid()) {
        GATE_DEBUG(2, "TextFileOutTie::sendUnitData(%p): lastUpdated is invalid (exiting)", static_cast<void *>(unit));
        return false;
    }
    // Such a value waits for the next second (see writeData) instead of
    // being taken for written.
    if (!afterNewestRecord(updated) && recordWritten(updated)) {
        GATE_DEBUG(7, "TextFileOutTie::sendUnitData(%p): lastUpdated <=lastWritten (exiting)", static_cast<void *>(unit));
        unit->markSent();
        return false;
    }
    if (m_syncByTimePoint) {
        // The values of a time point are complete once no update came for 3 s.
        if (!(updated.addSecs(3) < now))
            return false;
    } else if (m_lastWritten.isValid()
               && secondOf(now) < secondOf(m_lastWritten) + qint64(qMax(1u, m_minWriteInterval))) {
        // Not yet due; the unit stays dirty and the record is written once
        // the interval has passed, even when no further update comes.
        GATE_DEBUG(7, "TextFileOutTie::sendUnitData(%p): lastUpdated <lastWritten+%u (exiting)",
                   static_cast<void *>(unit), m_minWriteInterval);
        return false;
    }
    return writeData();
}

void TextFileOutTie::sendDirty()
{
    BaseFileOutTie::sendDirty();
    m_failedThisPass = false;
}

void TextFileOutTie::drain()
{
    m_failedThisPass = false;
    for (const BaseTieUnit *unit : units()) {
        if (unit && unit->isDirty() && unit->lastUpdated().isValid()) {
            writeData();
            return;
        }
    }
}

bool TextFileOutTie::afterNewestRecord(const QDateTime &dt) const
{
    // With time points the record's second is the values' own, so there
    // the second alone decides.
    if (m_syncByTimePoint || !m_lastWritten.isValid() || secondOf(m_lastWritten) < secondOf(dt))
        return false;
    return m_lastWritten < dt || (m_lastWrittenAt.isValid() && m_lastWrittenAt < dt);
}

void TextFileOutTie::forgetRecordsAheadOf(const QDateTime &now)
{
    // A record may lie one second ahead: values updated within the second
    // of the one before go into the next second's.
    if (!m_lastWritten.isValid() || secondOf(m_lastWritten) <= secondOf(now) + 1)
        return;
    GATE_DEBUG(1, "TextFileOutTie: the newest record (%s) lies ahead of the clock; records are counted from now",
               stamp(m_lastWritten).constData());
    m_lastWritten = QDateTime();
    m_lastWrittenAt = QDateTime();
    m_fileWritten.fill(QDateTime());
}

void TextFileOutTie::doWorkBeforeConvertFrom(BaseTieUnit *unit, BaseTieUnit *providerUnit)
{
    GATE_DEBUG(5, "TextFileOutTie::doWorkBeforeConvertToMyUnitFrom(%p,%p) was called", static_cast<void *>(unit),
               static_cast<void *>(providerUnit));
    if (!m_syncByTimePoint || !unit || !providerUnit)
        return;
    forgetRecordsAheadOf(Clock::nowUtc());
    const QDateTime mine = unit->lastUpdated();
    const QDateTime theirs = providerUnit->lastUpdated();
    if (!mine.isValid() || !theirs.isValid() || recordWritten(mine))
        return;
    if (secondOf(mine) < secondOf(theirs))
        writeData();
}

bool TextFileOutTie::writeData()
{
    GATE_DEBUG(3, "TextFileOutTie::writeData() was called");
    if (!paramsSwitch().isOpen()) {
        GATE_DEBUG(3, "    paramsSwitch is closed. Return");
        return false;
    }
    if (m_failedThisPass)
        return false;
    QDateTime record = recordTime();
    if (!record.isValid())
        return false;
    // Records are told apart by their second.
    if (afterNewestRecord(record))
        record = nextSecondAfter(m_lastWritten);

    const QStringList names = fileNames();
    m_fileWritten.resize(names.size());
    m_fileFaults.resize(names.size());
    QByteArray bytes;
    bool complete = true;
    for (int k = 0; k < names.size(); ++k) {
        if (holds(m_fileWritten.at(k), record))
            continue; // this file holds the record already (an earlier attempt failed elsewhere)
        if (bytes.isNull())
            bytes = encode(recordText(record));
        const QString name = fileNameFor(k, record);
        beforeWriteToFile(k, name);
        GATE_DEBUG(4, "    write to file %i: %s", k, qUtf8Printable(name));
        QString error;
        if (!appendToFile(name, bytes, &error)) {
            m_fileFaults[k].report(QStringLiteral("TextFileOutTie::writeData(): cannot append to file \"%1\" (%2); the "
                                                  "record is kept to be written later")
                                       .arg(name, error));
            complete = false;
            continue;
        }
        if (m_fileFaults.at(k).active())
            m_fileFaults[k].clear(QStringLiteral("TextFileOutTie::writeData(): file \"%1\" is written again").arg(name));
        // A record that some files took counts as written now: a retry
        // without a newer update keeps its second, and the files that took
        // it are not given it again.
        m_fileWritten[k] = record;
        m_lastWritten = record;
        m_lastWrittenAt = Clock::nowUtc();
    }
    if (!complete) {
        m_failedThisPass = true;
        return false;
    }
    m_lastWritten = record;
    m_lastWrittenAt = Clock::nowUtc();
    ++counters().recordsWritten;
    markWritten(record);
    return true;
}

void TextFileOutTie::markWritten(const QDateTime &recordTime)
{
    // An update ahead of the clock (from before a step back of it) is in
    // the record too: its time is capped at the clock.
    const QDateTime now = Clock::nowUtc();
    for (BaseTieUnit *unit : units()) {
        const QDateTime updated = unit ? unit->lastUpdated() : QDateTime();
        if (updated.isValid() && (holds(recordTime, updated) || now < updated))
            unit->markSent();
    }
}

QString TextFileOutTie::recordText(const QDateTime &recordTime) const
{
    QString text;
    QTextStream out(&text);
    bool first = true;
    const QList<BaseTieUnit *> &all = units();
    for (int i = 0; i < all.size(); ++i) {
        const BaseTieUnit *unit = all.at(i);
        if (!unit) {
            GATE_DEBUG(1, "TextFileOutTie::writeData(): myUnits[%i] in NULL. Skip it", i);
            continue;
        }
        const QList<BaseTieParam *> &params = unit->params();
        for (int j = 0; j < params.size(); ++j) {
            const BaseTieParam *param = params.at(j);
            if (!param) {
                GATE_DEBUG(1, "TextFileOutTie::writeData(): myUnits[%i]->params[%i] in NULL. Skip it", i, j);
                continue;
            }
            if (!m_writeInvalid && !param->isValid(0))
                continue;
            if (first && m_secondsLine) {
                const QTime t = recordTime.time();
                out << t.hour() * 3600 + t.minute() * 60 + t.second() << '\n';
            }
            first = false;
            writeLine(out, param);
        }
    }
    out.flush();
    return text;
}

void TextFileOutTie::writeLine(QTextStream &out, const BaseTieParam *param) const
{
    const QChar delim = delimiter();
    for (int c = 0; c < m_columns.size(); ++c) {
        if (c > 0)
            out << delim;
        switch (m_columns.at(c)) {
        case OutFieldFormat::colEmpty:
            break;
        case OutFieldFormat::colId:
            writeText(out, OutFieldFormat::preferredId(param));
            break;
        case OutFieldFormat::colIID:
            writeText(out, param->IID());
            break;
        case OutFieldFormat::colKKS:
            writeText(out, param->KKS());
            break;
        case OutFieldFormat::colRTM:
            writeText(out, param->RTM());
            break;
        case OutFieldFormat::colExtID:
            writeText(out, param->extID());
            break;
        case OutFieldFormat::colValue:
            OutFieldFormat::writeValue(out, param);
            break;
        case OutFieldFormat::colValidity:
            writeText(out, param->isValid(0) ? m_validString : m_invalidString);
            break;
        case OutFieldFormat::colValidityCode:
            OutFieldFormat::writeValidityCode(out, param, quoted(param->isValid(0) ? m_validString : m_invalidString));
            break;
        }
    }
    out << '\n';
}

void TextFileOutTie::writeText(QTextStream &out, const QString &text) const
{
    out << quoted(text);
}

QString TextFileOutTie::quoted(const QString &text) const
{
    if (!text.contains(delimiter()))
        return text;
    return csvExcapeStringIfNeed(text, static_cast<LoadSaveTableFileType>(m_delimiterKind));
}
