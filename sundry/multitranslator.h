#ifndef MULTITRANSLATOR_H
#define MULTITRANSLATOR_H

#include "sundry_export.h"

#include "qxmltranslation.h"

#include <QList>
#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class QCoreApplication;
class QTranslator;

// Holds Qt translation files by language (most recently loaded first) and
// produces QXmlTranslation values that carry every language at once. The
// translators are owned here; an application only borrows those installed
// into it.
class SUNDRY_EXPORT MultiTranslator
{
public:
    MultiTranslator();
    virtual ~MultiTranslator();

    // Loads the Qt translation file `fileName` for `lang` and puts it in
    // front of that language's list. False, with a warning, when the file
    // cannot be loaded.
    bool load(const QString &fileName, const QString &lang);
    // Loads every file matching `nameFilters` in `dir` (the current directory
    // when empty). The language is taken from the name without `suffix`
    // (".qm" when empty): the text after the last ".", or when there is none
    // after the first "_"; "en" when that is empty. Returns the number of
    // translators loaded.
    int loadTranslators(const QStringList &nameFilters, const QString &dir, const QString &suffix);
    // Removes every held translator from `app`, then installs those of
    // `lang`, newest consulted first. Nothing for a null `app`.
    void installLangToApp(QCoreApplication *app, const QString &lang);
    // Removes every held translator from `app` (nothing for a null `app`).
    void removeAllFromApp(QCoreApplication *app);
    // Forgets the translators of `lang`.
    void remove(const QString &lang);
    // Forgets all translators.
    void clear();
    // Languages that have translators, in ascending order.
    QStringList languages() const;

    // For each language, the first non-empty translation of `source` among
    // its translators (newest first); the English text is `source` unless
    // an "en" translation gave one.
    virtual QXmlTranslation translate(const char *context, const char *source,
                                      const char *disambiguation = nullptr) const;
    QXmlTranslation translate(const char *context, const char *source, const char *disambiguation,
                              int n) const;

private:
    QMap<QString, QList<QSharedPointer<QTranslator>>> m_translators;
};

// The process-wide translator collection.
extern SUNDRY_EXPORT MultiTranslator multiTranslator;

#endif // MULTITRANSLATOR_H
