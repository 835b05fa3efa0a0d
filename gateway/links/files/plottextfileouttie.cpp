#include "links/files/plottextfileouttie.h"

#include "core/diag.h"

PlotTextFileOutTie::PlotTextFileOutTie(QObject *parent)
    : TextFileOutTie(parent)
{
    setWriteInvalid(true);
    setSecondsLine(false);
}

PlotTextFileOutTie::~PlotTextFileOutTie() = default;

void PlotTextFileOutTie::takeOver(BaseTie &predecessor)
{
    TextFileOutTie::takeOver(predecessor);
    auto *old = qobject_cast<PlotTextFileOutTie *>(&predecessor);
    if (!old || old == this)
        return;
    for (int k = 0; k < fileNames().size(); ++k) {
        const int j = positionIn(*old, k);
        if (j < 0 || j >= old->m_currentFileNames.size())
            continue;
        holdPosition(k);
        m_currentFileNames[k] = old->m_currentFileNames.at(j);
        m_started[k] = old->m_started.at(j);
    }
}

void PlotTextFileOutTie::holdPosition(int position)
{
    while (m_currentFileNames.size() <= position) {
        m_currentFileNames.append(QString());
        m_started.append(FileIdentity());
    }
}

void PlotTextFileOutTie::beforeWriteToFile(int position, const QString &fileName)
{
    if (position < 0)
        return;
    holdPosition(position);
    QString &current = m_currentFileNames[position];
    FileIdentity &started = m_started[position];
    const bool startedStillThere = !current.isEmpty() && FileIdentity::ofPath(current) == started;
    if (current == fileName && startedStillThere)
        return;
    if (current != fileName && startedStillThere) {
        // Forgotten at once, so that a retry after a failure does not end the old file twice.
        if (!appendToFile(current, encode(QStringLiteral("END\n") + fileName + QLatin1Char('\n'))))
            GATE_DEBUG(1, "PlotTextFileOutTie::beforeWriteToFile(): cannot end file \"%s\"", qUtf8Printable(current));
    }
    current.clear();
    started = FileIdentity();
    FileIdentity written;
    if (appendToFile(fileName, encode(QStringLiteral("START\n")), nullptr, &written)) {
        current = fileName;
        started = written;
    }
}
