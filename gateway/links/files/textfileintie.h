#ifndef TEXTFILEINTIE_H
#define TEXTFILEINTIE_H

#include "core/tieparamshash.h"
#include "links/files/basefileintie.h"

class BaseTieParam;
class BaseTieUnit;

// Reads "identifier;value" lines from a text file on every poll and converts
// its units. A line with a single field is a marker: a pass of reading ends
// at it, and the next pass starts after it, so that a writer appending a
// marker and new records gets exactly those records read; when nothing was
// appended the next poll reads the whole file again. Values of the types
// FLOATVALID, SDWORDVALID, FLOATSTATE and SDWORDSTATE are understood.
class TextFileInTie : public BaseFileInTie
{
    Q_OBJECT
public:
    explicit TextFileInTie(QObject *parent = nullptr);
    ~TextFileInTie() override;

    // Reads the lines added since the last poll (or the whole file) into
    // the parameters and converts every unit. When the file cannot be read
    // (missing, empty, its last line still being written) nothing is
    // converted, except units that went stale, whose consumers are
    // invalidated.
    void pollAndConvert() override;
    // Always 0 (OK).
    qint32 state() const override;
    // Appends `unit` (ownership passes to the tie); the parameters of a
    // from-this unit join the tie's own index.
    void addUnit(BaseTieUnit *unit);

    // Whether a parameter the file does not mention keeps its previous
    // value (false: every pass starts from invalid values).
    bool prevForAbsent() const { return m_prevForAbsent; }
    void setPrevForAbsent(bool keep) { m_prevForAbsent = keep; }
    // The tie's own index over the parameters of its from-this units.
    const TieParamsHash &ownIndex() const { return m_index; }
    // The parameter named `id` in the own index: ExtID, then IID, KKS and
    // RTM; the first kind that holds it decides. Null when none does.
    BaseTieParam *findParam(const QString &id) const;

private:
    // Stores the text `value` into the parameter named `id`.
    void storeValue(const QString &id, const QString &value);

    TieParamsHash m_index;
    bool m_prevForAbsent;
};

#endif // TEXTFILEINTIE_H
