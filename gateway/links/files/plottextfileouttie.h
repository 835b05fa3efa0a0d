#ifndef PLOTTEXTFILEOUTTIE_H
#define PLOTTEXTFILEOUTTIE_H

#include "links/files/fileidentity.h"
#include "links/files/textfileouttie.h"

#include <QStringList>
#include <QVector>

// Writes the same records as the text output tie for a plotting consumer:
// lines of the preferred identifier and the value, invalid parameters
// included, no seconds line. Every file the tie writes starts with a line
// "START": the first file of a series, each next one (daily files), and a
// file made anew under the same name (deleted or moved away while the
// gateway runs). When the next file of a series begins, the old one, if it
// is still the file that got the "START", gets a line "END" and a line with
// the new file's name.
class PlotTextFileOutTie : public TextFileOutTie
{
    Q_OBJECT
public:
    explicit PlotTextFileOutTie(QObject *parent = nullptr);
    ~PlotTextFileOutTie() override;

    // Frames the files: see the class comment.
    void beforeWriteToFile(int position, const QString &fileName) override;
    // Also goes on with the files the predecessor started, without a new
    // "START" in them.
    void takeOver(BaseTie &predecessor) override;

    // The file each output position writes to now (empty until it got its "START").
    const QStringList &currentFileNames() const { return m_currentFileNames; }

private:
    // Grows the per-position lists to hold output `position`.
    void holdPosition(int position);

    QStringList m_currentFileNames;
    // The file that got the "START", per position: the name alone cannot
    // tell whether it is still the same file.
    QVector<FileIdentity> m_started;
};

#endif // PLOTTEXTFILEOUTTIE_H
