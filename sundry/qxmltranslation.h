#ifndef QXMLTRANSLATION_H
#define QXMLTRANSLATION_H

#include "sundry_export.h"

#include <QChar>
#include <QMap>
#include <QString>

class QDataStream;
class QDebug;
class QDomDocument;
class QDomElement;
class QDomNode;
class QXmlStreamReader;
class QXmlStreamWriter;

// A text with translations: the English text plus a map from language code
// to translated text. It follows the process-wide current language m_lang
// and offers the argument substitution of QString on all its texts at once.
// With useQtTranslator set, the translated text comes from the translators
// installed in the application (context "QXmlTranslation", source text = the
// English text) instead of the map.
class SUNDRY_EXPORT QXmlTranslation
{
public:
    QXmlTranslation();
    // Explicit, so that a text never turns into a translation unnoticed.
    explicit QXmlTranslation(const QString &engName, bool useQtTranslator = false);
    // `engName` is UTF-8.
    explicit QXmlTranslation(const char *engName, bool useQtTranslator = false);
    QXmlTranslation(const QString &engName, const QMap<QString, QString> &translations);
    QXmlTranslation(const QXmlTranslation &other);
    QXmlTranslation &operator=(const QXmlTranslation &other);
    ~QXmlTranslation();

    // The process-wide current language (initially empty); read and set
    // through getXmlTranslationLang() and setXmlTranslationLang().
    static QString m_lang;

    QString engName() const;
    void setEngName(const QString &engName);
    bool useQtTranslator() const;
    void setUseQtTranslator(bool use);
    // The map from language code to text, ordered by language code.
    QMap<QString, QString> translations() const;

    // An empty `lang` sets the English text only; "en" also sets the English
    // text while that is still empty; any non-empty `lang` stores `text`
    // under `lang`, replacing an earlier one.
    void setTranslation(const QString &text, const QString &lang);

    // The text for the current language m_lang when there is one, else the
    // English text (or the Qt translation, with useQtTranslator).
    QString translatedName() const;
    // The text stored for `lang`; when there is none, the English text if
    // `englishIfMissing`, else the empty string. With useQtTranslator: the Qt
    // translation when `lang` is the current language, else the English text.
    QString translate(const QString &lang, bool englishIfMissing) const;

    // English text empty and no translation.
    bool isEmpty() const;
    // English text null and no translation.
    bool isNull() const;
    // Clears the English text, the translations and useQtTranslator.
    void clear();

    // Takes one `translation` element with a non-empty `lang` attribute and a
    // text child and stores its text under that language. Returns false and
    // changes nothing for any other node.
    bool parseXMLSubTree(const QDomNode &node);
    // The same, with the jokers of the text expanded by expandJokers().
    bool parseXMLSubTree(const QDomNode &node, QChar joker, unsigned long index);

    // Appends to `element` one child `translation` element per language, in
    // ascending order, with the attributes "attribute" (= `attribute`) and
    // "lang", holding the text.
    void addToXMLNode(QDomDocument &doc, QDomElement &element, const QString &attribute) const;
    // Writes the same elements to `writer`.
    void writeTranslationsToXmlStream(QXmlStreamWriter &writer, const QString &attribute) const;
    // When `reader` stands on the start of a `translation` element with a
    // non-empty `lang`, reads its text up to the element's end and stores it
    // under that language. True when a non-empty text was stored.
    bool readTranslationFromXMLStream(QXmlStreamReader &reader);

    // `text` with `joker` + "0" replaced by `index` and `joker` + "1" by
    // `index` + 1 (decimal); any other joker pair, and a joker at the very
    // end, stay as they are.
    static QString expandJokers(const QString &text, QChar joker, unsigned long index);
    // The common beginning of `a` and `b`, trimmed: `a` when `b` is empty,
    // `b` when `a` is empty, `a` when their first characters differ.
    static QString trunkToCommon(const QString &a, const QString &b);
    // Cuts the English text and every translation of this object down to
    // what it has in common with `other` (its text in the same language,
    // empty when missing).
    void trunkToCommon(const QXmlTranslation &other);

    // QString::arg() applied to the English text and to every translation;
    // the result does not use the Qt translator.
    QXmlTranslation arg(qlonglong a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(qulonglong a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(long a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(ulong a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(int a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(uint a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(short a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(ushort a, int fieldWidth = 0, int base = 10, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(double a, int fieldWidth = 0, char fmt = 'g', int prec = -1,
                        QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(char a, int fieldWidth = 0, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(QChar a, int fieldWidth = 0, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(const QString &a, int fieldWidth = 0, QChar fillChar = QLatin1Char(' ')) const;
    QXmlTranslation arg(const QString &a1, const QString &a2) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3, const QString &a4) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3, const QString &a4,
                        const QString &a5) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3, const QString &a4,
                        const QString &a5, const QString &a6) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3, const QString &a4,
                        const QString &a5, const QString &a6, const QString &a7) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3, const QString &a4,
                        const QString &a5, const QString &a6, const QString &a7, const QString &a8) const;
    QXmlTranslation arg(const QString &a1, const QString &a2, const QString &a3, const QString &a4,
                        const QString &a5, const QString &a6, const QString &a7, const QString &a8,
                        const QString &a9) const;
    // Inserts the English text of `a` into the English text and, for each
    // language, `a`'s text in that language (its English text where it has none).
    QXmlTranslation arg(const QXmlTranslation &a, int fieldWidth = 0, QChar fillChar = QLatin1Char(' ')) const;

    // Appends `text` to the English text and to every translation.
    QXmlTranslation &operator+=(const QString &text);
    // Appends, per language, the other's text in that language (its English
    // text where it has none); languages only `other` has get this English
    // text plus theirs; the English texts are appended as well.
    QXmlTranslation &operator+=(const QXmlTranslation &other);

private:
    template<typename Fn>
    QXmlTranslation applied(Fn fn) const;

    bool m_useQtTranslator;
    QString m_engName;
    QMap<QString, QString> m_translations;
};

SUNDRY_EXPORT QXmlTranslation operator+(const QXmlTranslation &t, const QString &text);
SUNDRY_EXPORT QXmlTranslation operator+(const QString &text, const QXmlTranslation &t);
SUNDRY_EXPORT QXmlTranslation operator+(const QXmlTranslation &a, const QXmlTranslation &b);

// Stream form: the English text, the number of translations (qint32), then
// each language and text in descending language order. useQtTranslator is
// not streamed. Reading stops with an empty map when the stream fails.
SUNDRY_EXPORT QDataStream &operator<<(QDataStream &out, const QXmlTranslation &t);
SUNDRY_EXPORT QDataStream &operator>>(QDataStream &in, QXmlTranslation &t);

// Prints QXmlTranslation(<English text>, QMap(...)).
SUNDRY_EXPORT QDebug operator<<(QDebug dbg, const QXmlTranslation &t);

#endif // QXMLTRANSLATION_H
