#include "qxmltranslation.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

const char kTranslationTag[] = "translation";
const char kLangAttribute[] = "lang";
const char kAttributeAttribute[] = "attribute";
const char kQtContext[] = "QXmlTranslation";

} // namespace

QString QXmlTranslation::m_lang;

QXmlTranslation::QXmlTranslation()
    : m_useQtTranslator(false)
{
}

QXmlTranslation::QXmlTranslation(const QString &engName, bool useQtTranslator)
    : m_useQtTranslator(useQtTranslator)
    , m_engName(engName)
{
}

QXmlTranslation::QXmlTranslation(const char *engName, bool useQtTranslator)
    : m_useQtTranslator(useQtTranslator)
    , m_engName(QString::fromUtf8(engName))
{
}

QXmlTranslation::QXmlTranslation(const QString &engName, const QMap<QString, QString> &translations)
    : m_useQtTranslator(false)
    , m_engName(engName)
    , m_translations(translations)
{
}

QXmlTranslation::QXmlTranslation(const QXmlTranslation &other) = default;
QXmlTranslation &QXmlTranslation::operator=(const QXmlTranslation &other) = default;
QXmlTranslation::~QXmlTranslation() = default;

QString QXmlTranslation::engName() const
{
    return m_engName;
}

void QXmlTranslation::setEngName(const QString &engName)
{
    m_engName = engName;
}

bool QXmlTranslation::useQtTranslator() const
{
    return m_useQtTranslator;
}

void QXmlTranslation::setUseQtTranslator(bool use)
{
    m_useQtTranslator = use;
}

QMap<QString, QString> QXmlTranslation::translations() const
{
    return m_translations;
}

void QXmlTranslation::setTranslation(const QString &text, const QString &lang)
{
    if (lang.isEmpty()) {
        m_engName = text;
        return;
    }
    if (lang == QLatin1String("en") && m_engName.isEmpty())
        m_engName = text;
    m_translations.insert(lang, text);
}

QString QXmlTranslation::translatedName() const
{
    if (m_useQtTranslator)
        return QCoreApplication::translate(kQtContext, m_engName.toUtf8().constData());
    if (!m_lang.isEmpty()) {
        const auto it = m_translations.constFind(m_lang);
        if (it != m_translations.constEnd())
            return it.value();
    }
    return m_engName;
}

QString QXmlTranslation::translate(const QString &lang, bool englishIfMissing) const
{
    if (m_useQtTranslator) {
        if (lang == m_lang)
            return QCoreApplication::translate(kQtContext, m_engName.toUtf8().constData());
        return m_engName;
    }
    if (!lang.isEmpty()) {
        const auto it = m_translations.constFind(lang);
        if (it != m_translations.constEnd())
            return it.value();
    }
    return englishIfMissing ? m_engName : QString();
}

bool QXmlTranslation::isEmpty() const
{
    return m_engName.isEmpty() && m_translations.isEmpty();
}

bool QXmlTranslation::isNull() const
{
    return m_engName.isNull() && m_translations.isEmpty();
}

void QXmlTranslation::clear()
{
    m_useQtTranslator = false;
    m_engName.clear();
    m_translations.clear();
}

namespace {

// The language and text of a `translation` element; false for any other node.
bool readTranslationElement(const QDomNode &node, QString *lang, QString *text)
{
    const QDomElement element = node.toElement();
    if (element.isNull() || element.tagName() != QLatin1String(kTranslationTag))
        return false;
    const QString language = element.attribute(QLatin1String(kLangAttribute));
    if (language.isEmpty())
        return false;
    bool hasText = false;
    for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.isText()) {
            hasText = true;
            break;
        }
    }
    if (!hasText)
        return false;
    *lang = language;
    *text = element.text();
    return true;
}

} // namespace

bool QXmlTranslation::parseXMLSubTree(const QDomNode &node)
{
    QString lang;
    QString text;
    if (!readTranslationElement(node, &lang, &text))
        return false;
    setTranslation(text, lang);
    return true;
}

bool QXmlTranslation::parseXMLSubTree(const QDomNode &node, QChar joker, unsigned long index)
{
    QString lang;
    QString text;
    if (!readTranslationElement(node, &lang, &text))
        return false;
    setTranslation(expandJokers(text, joker, index), lang);
    return true;
}

void QXmlTranslation::addToXMLNode(QDomDocument &doc, QDomElement &element, const QString &attribute) const
{
    for (auto it = m_translations.constBegin(); it != m_translations.constEnd(); ++it) {
        QDomElement child = doc.createElement(QLatin1String(kTranslationTag));
        child.setAttribute(QLatin1String(kAttributeAttribute), attribute);
        child.setAttribute(QLatin1String(kLangAttribute), it.key());
        child.appendChild(doc.createTextNode(it.value()));
        element.appendChild(child);
    }
}

void QXmlTranslation::writeTranslationsToXmlStream(QXmlStreamWriter &writer, const QString &attribute) const
{
    for (auto it = m_translations.constBegin(); it != m_translations.constEnd(); ++it) {
        writer.writeStartElement(QLatin1String(kTranslationTag));
        writer.writeAttribute(QLatin1String(kAttributeAttribute), attribute);
        writer.writeAttribute(QLatin1String(kLangAttribute), it.key());
        writer.writeCharacters(it.value());
        writer.writeEndElement();
    }
}

bool QXmlTranslation::readTranslationFromXMLStream(QXmlStreamReader &reader)
{
    if (!reader.isStartElement() || reader.name() != QLatin1String(kTranslationTag))
        return false;
    const QString lang = reader.attributes().value(QLatin1String(kLangAttribute)).toString();
    if (lang.isEmpty())
        return false;
    const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements);
    if (text.isEmpty())
        return false;
    setTranslation(text, lang);
    return true;
}

QString QXmlTranslation::expandJokers(const QString &text, QChar joker, unsigned long index)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != joker || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        if (next == QLatin1Char('0'))
            out += QString::number(index);
        else if (next == QLatin1Char('1'))
            out += QString::number(static_cast<qulonglong>(index) + 1);
        else
            out += c + QString(next);
    }
    return out;
}

QString QXmlTranslation::trunkToCommon(const QString &a, const QString &b)
{
    if (b.isEmpty())
        return a;
    if (a.isEmpty())
        return b;
    if (a.at(0) != b.at(0))
        return a;
    int common = 1;
    const int limit = qMin(a.size(), b.size());
    while (common < limit && a.at(common) == b.at(common))
        ++common;
    return a.left(common).trimmed();
}

void QXmlTranslation::trunkToCommon(const QXmlTranslation &other)
{
    m_engName = trunkToCommon(m_engName, other.m_engName);
    for (auto it = m_translations.begin(); it != m_translations.end(); ++it)
        it.value() = trunkToCommon(it.value(), other.m_translations.value(it.key()));
}

template<typename Fn>
QXmlTranslation QXmlTranslation::applied(Fn fn) const
{
    QXmlTranslation result;
    result.m_engName = fn(m_engName);
    for (auto it = m_translations.constBegin(); it != m_translations.constEnd(); ++it)
        result.m_translations.insert(it.key(), fn(it.value()));
    return result;
}

QXmlTranslation QXmlTranslation::arg(qlonglong a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(qulonglong a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(long a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(ulong a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(int a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(uint a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(short a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(ushort a, int fieldWidth, int base, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, base, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(double a, int fieldWidth, char fmt, int prec, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, fmt, prec, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(char a, int fieldWidth, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(QChar a, int fieldWidth, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a, int fieldWidth, QChar fillChar) const
{
    return applied([&](const QString &s) { return s.arg(a, fieldWidth, fillChar); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3,
                                     const QString &a4) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3, a4); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3,
                                     const QString &a4, const QString &a5) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3, a4, a5); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3,
                                     const QString &a4, const QString &a5, const QString &a6) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3, a4, a5, a6); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3,
                                     const QString &a4, const QString &a5, const QString &a6,
                                     const QString &a7) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3, a4, a5, a6, a7); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3,
                                     const QString &a4, const QString &a5, const QString &a6,
                                     const QString &a7, const QString &a8) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3, a4, a5, a6, a7, a8); });
}

QXmlTranslation QXmlTranslation::arg(const QString &a1, const QString &a2, const QString &a3,
                                     const QString &a4, const QString &a5, const QString &a6,
                                     const QString &a7, const QString &a8, const QString &a9) const
{
    return applied([&](const QString &s) { return s.arg(a1, a2, a3, a4, a5, a6, a7, a8, a9); });
}

QXmlTranslation QXmlTranslation::arg(const QXmlTranslation &a, int fieldWidth, QChar fillChar) const
{
    QXmlTranslation result;
    result.m_engName = m_engName.arg(a.m_engName, fieldWidth, fillChar);
    for (auto it = m_translations.constBegin(); it != m_translations.constEnd(); ++it) {
        const QString inserted = a.m_translations.value(it.key(), a.m_engName);
        result.m_translations.insert(it.key(), it.value().arg(inserted, fieldWidth, fillChar));
    }
    return result;
}

QXmlTranslation &QXmlTranslation::operator+=(const QString &text)
{
    m_engName += text;
    for (auto it = m_translations.begin(); it != m_translations.end(); ++it)
        it.value() += text;
    return *this;
}

QXmlTranslation &QXmlTranslation::operator+=(const QXmlTranslation &other)
{
    for (auto it = m_translations.begin(); it != m_translations.end(); ++it)
        it.value() += other.m_translations.value(it.key(), other.m_engName);
    for (auto it = other.m_translations.constBegin(); it != other.m_translations.constEnd(); ++it) {
        if (!m_translations.contains(it.key()))
            m_translations.insert(it.key(), m_engName + it.value());
    }
    m_engName += other.m_engName;
    return *this;
}

QXmlTranslation operator+(const QXmlTranslation &t, const QString &text)
{
    QXmlTranslation result(t);
    result += text;
    return result;
}

QXmlTranslation operator+(const QString &text, const QXmlTranslation &t)
{
    QMap<QString, QString> translations = t.translations();
    for (auto it = translations.begin(); it != translations.end(); ++it)
        it.value().prepend(text);
    QXmlTranslation result(text + t.engName(), translations);
    result.setUseQtTranslator(t.useQtTranslator());
    return result;
}

QXmlTranslation operator+(const QXmlTranslation &a, const QXmlTranslation &b)
{
    QXmlTranslation result(a);
    result += b;
    return result;
}

QDataStream &operator<<(QDataStream &out, const QXmlTranslation &t)
{
    const QMap<QString, QString> translations = t.translations();
    out << t.engName() << static_cast<qint32>(translations.size());
    auto it = translations.constEnd();
    while (it != translations.constBegin()) {
        --it;
        out << it.key() << it.value();
    }
    return out;
}

QDataStream &operator>>(QDataStream &in, QXmlTranslation &t)
{
    QString engName;
    qint32 count = 0;
    in >> engName >> count;
    QMap<QString, QString> translations;
    // Each entry consumes stream data, so a corrupt count ends at the end of
    // the data with a failed status instead of looping on.
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString lang;
        QString text;
        in >> lang >> text;
        if (in.status() != QDataStream::Ok)
            break;
        translations.insert(lang, text);
    }
    if (in.status() != QDataStream::Ok)
        translations.clear();
    const bool useQt = t.useQtTranslator();
    t = QXmlTranslation(engName, translations);
    t.setUseQtTranslator(useQt);
    return in;
}

QDebug operator<<(QDebug dbg, const QXmlTranslation &t)
{
    QDebugStateSaver saver(dbg);
    dbg.nospace() << "QXmlTranslation(" << t.engName() << ", " << t.translations() << ")";
    return dbg;
}
