#ifndef PLOTTEXTFILEOUTTIE_H
#define PLOTTEXTFILEOUTTIE_H

#include "links/files/textfileouttie.h"

#include <QStringList>

// Writes the same records as the text output tie for a plotting consumer:
// lines of the preferred identifier and the value, invalid parameters
// included, no seconds line. Each file of a series (daily files) starts
// with a line "START"; when the next file of the series begins, the old
// one gets a line "END" and a line with the new file's name.
class PlotTextFileOutTie : public TextFileOutTie
{
    Q_OBJECT
public:
    explicit PlotTextFileOutTie(QObject *parent = nullptr);
    ~PlotTextFileOutTie() override;

    // Frames the files: see the class comment.
    void beforeWriteToFile(int position, const QString &fileName) override;

    // The file each output position writes to now (empty until it got its "START").
    const QStringList &currentFileNames() const { return m_currentFileNames; }

private:
    QStringList m_currentFileNames;
};

#endif // PLOTTEXTFILEOUTTIE_H
