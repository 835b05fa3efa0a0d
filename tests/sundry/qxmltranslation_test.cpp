#include <qxmltranslation.h>
#include <utilfunctions.h>

#include "sundry/qtprinters.h"

#include <QBuffer>
#include <QDataStream>
#include <QDebug>
#include <QDomDocument>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <gtest/gtest.h>

namespace {

using Map = QMap<QString, QString>;

// Sets the process-wide language for one test and restores it afterwards.
class ScopedLang
{
public:
    explicit ScopedLang(const QString &lang)
        : m_previous(getXmlTranslationLang())
    {
        setXmlTranslationLang(lang);
    }
    ~ScopedLang() { setXmlTranslationLang(m_previous); }

private:
    QString m_previous;
};

QXmlTranslation sample()
{
    return QXmlTranslation(QStringLiteral("Pressure"), Map{{"de", "Druck"}, {"ru", "Davlenie"}});
}

TEST(QXmlTranslation, ConstructorsAndEmptiness)
{
    EXPECT_TRUE(QXmlTranslation().isNull());
    EXPECT_TRUE(QXmlTranslation().isEmpty());
    const QXmlTranslation empty(QStringLiteral(""), false);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isNull());
    const QXmlTranslation utf8("Gr\xc3\xb6\xc3\x9f" "e", true);
    EXPECT_EQ(utf8.engName(), QString::fromUtf8("Gr\xc3\xb6\xc3\x9f" "e"));
    EXPECT_TRUE(utf8.useQtTranslator());
    EXPECT_FALSE(QXmlTranslation(QStringLiteral("x")).useQtTranslator());
    EXPECT_EQ(QXmlTranslation("x").engName(), QStringLiteral("x"));
    const QXmlTranslation onlyMap(QString(), Map{{"de", "x"}});
    EXPECT_FALSE(onlyMap.isEmpty());
    EXPECT_FALSE(onlyMap.isNull());

    QXmlTranslation copy;
    copy = utf8;
    EXPECT_EQ(copy.engName(), utf8.engName());
    EXPECT_TRUE(copy.useQtTranslator());
    copy.clear();
    EXPECT_TRUE(copy.isNull());
    EXPECT_FALSE(copy.useQtTranslator());
}

TEST(QXmlTranslation, SetTranslationByLanguage)
{
    QXmlTranslation t;
    t.setTranslation(QStringLiteral("Level"), QStringLiteral("en"));
    EXPECT_EQ(t.engName(), QStringLiteral("Level"));
    EXPECT_EQ(t.translations(), (Map{{"en", "Level"}}));

    t.setTranslation(QStringLiteral("Other"), QStringLiteral("en"));
    EXPECT_EQ(t.engName(), QStringLiteral("Level")); // the English text is only set while empty
    EXPECT_EQ(t.translate(QStringLiteral("en"), false), QStringLiteral("Other"));

    t.setTranslation(QStringLiteral("Niveau"), QStringLiteral("fr"));
    t.setTranslation(QStringLiteral("Pegel"), QStringLiteral("de"));
    t.setTranslation(QStringLiteral("Stand"), QStringLiteral("de"));
    EXPECT_EQ(t.translations().value(QStringLiteral("de")), QStringLiteral("Stand"));

    t.setTranslation(QStringLiteral("English only"), QString());
    EXPECT_EQ(t.engName(), QStringLiteral("English only"));
    EXPECT_EQ(t.translations().size(), 3);
}

TEST(QXmlTranslation, TranslatedNameFollowsCurrentLanguage)
{
    const QXmlTranslation t = sample();
    {
        ScopedLang lang{QString()};
        EXPECT_EQ(t.translatedName(), QStringLiteral("Pressure"));
    }
    {
        ScopedLang lang(QStringLiteral("de"));
        EXPECT_EQ(t.translatedName(), QStringLiteral("Druck"));
    }
    {
        ScopedLang lang(QStringLiteral("fr"));
        EXPECT_EQ(t.translatedName(), QStringLiteral("Pressure"));
    }
}

TEST(QXmlTranslation, TranslateWithAndWithoutEnglishFallback)
{
    const QXmlTranslation t = sample();
    EXPECT_EQ(t.translate(QStringLiteral("ru"), false), QStringLiteral("Davlenie"));
    EXPECT_EQ(t.translate(QStringLiteral("fr"), true), QStringLiteral("Pressure"));
    EXPECT_TRUE(t.translate(QStringLiteral("fr"), false).isEmpty());
    EXPECT_TRUE(t.translate(QString(), false).isEmpty());
    EXPECT_EQ(t.translate(QString(), true), QStringLiteral("Pressure"));
}

TEST(QXmlTranslation, QtTranslatorModeWithoutTranslatorGivesEnglish)
{
    ScopedLang lang(QStringLiteral("de"));
    QXmlTranslation t(QStringLiteral("Pressure"), Map{{"de", "Druck"}});
    t.setUseQtTranslator(true);
    EXPECT_EQ(t.translatedName(), QStringLiteral("Pressure"));
    EXPECT_EQ(t.translate(QStringLiteral("de"), false), QStringLiteral("Pressure"));
    EXPECT_EQ(t.translate(QStringLiteral("ru"), false), QStringLiteral("Pressure"));
}

TEST(QXmlTranslation, ParseAcceptsOnlyTranslationElements)
{
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(QStringLiteral(
        "<r><translation lang=\"de\">Druck</translation>"
        "<translation lang=\"\">x</translation>"
        "<translation>y</translation>"
        "<other lang=\"fr\">z</other>"
        "<translation lang=\"fr\"/>"
        "<translation lang=\"ru\"><![CDATA[Dav<l>enie]]></translation>"
        "<translation lang=\"en\">Pressure</translation></r>")));
    const QDomNodeList children = doc.documentElement().childNodes();
    QXmlTranslation t;
    EXPECT_TRUE(t.parseXMLSubTree(children.at(0)));
    EXPECT_FALSE(t.parseXMLSubTree(children.at(1)));
    EXPECT_FALSE(t.parseXMLSubTree(children.at(2)));
    EXPECT_FALSE(t.parseXMLSubTree(children.at(3)));
    EXPECT_FALSE(t.parseXMLSubTree(children.at(4)));
    EXPECT_FALSE(t.parseXMLSubTree(children.at(0).firstChild())); // a text node
    EXPECT_FALSE(t.parseXMLSubTree(QDomNode()));
    EXPECT_EQ(t.translations(), (Map{{"de", "Druck"}}));
    EXPECT_TRUE(t.parseXMLSubTree(children.at(5)));
    EXPECT_EQ(t.translate(QStringLiteral("ru"), false), QStringLiteral("Dav<l>enie"));
    EXPECT_TRUE(t.parseXMLSubTree(children.at(6)));
    EXPECT_EQ(t.engName(), QStringLiteral("Pressure"));
}

TEST(QXmlTranslation, ParseExpandsJokers)
{
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(QStringLiteral("<translation lang=\"de\">Kanal #0 von #1</translation>")));
    QXmlTranslation t;
    EXPECT_TRUE(t.parseXMLSubTree(doc.documentElement(), QLatin1Char('#'), 4));
    EXPECT_EQ(t.translate(QStringLiteral("de"), false), QStringLiteral("Kanal 4 von 5"));
}

TEST(QXmlTranslation, ExpandJokers)
{
    const QChar j = QLatin1Char('%');
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("a%0b"), j, 4), QStringLiteral("a4b"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("a%1b"), j, 4), QStringLiteral("a5b"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("a%xb"), j, 4), QStringLiteral("a%xb"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("end%"), j, 4), QStringLiteral("end%"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("%%0"), j, 4), QStringLiteral("%%0"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("%0%0%1"), j, 9), QStringLiteral("9910"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("%2"), j, 9), QStringLiteral("%2"));
    EXPECT_EQ(QXmlTranslation::expandJokers(QString(), j, 1), QString());
    EXPECT_EQ(QXmlTranslation::expandJokers(QStringLiteral("%1"), j, 0xFFFFFFFFul), QStringLiteral("4294967296"));
}

TEST(QXmlTranslation, TrunkToCommonTexts)
{
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QStringLiteral("Pump 1 speed"), QStringLiteral("Pump 2 speed")),
              QStringLiteral("Pump"));
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QStringLiteral("abcd xy"), QStringLiteral("abcd zz")),
              QStringLiteral("abcd"));
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QStringLiteral("abc"), QStringLiteral("xbc")), QStringLiteral("abc"));
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QStringLiteral("abc"), QString()), QStringLiteral("abc"));
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QString(), QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QStringLiteral("abc"), QStringLiteral("abcdef")), QStringLiteral("abc"));
    EXPECT_EQ(QXmlTranslation::trunkToCommon(QStringLiteral(" a1"), QStringLiteral(" a2")), QStringLiteral("a"));
}

TEST(QXmlTranslation, TrunkToCommonPerLanguage)
{
    QXmlTranslation t(QStringLiteral("Valve 1 open"), Map{{"de", "Ventil 1 offen"}, {"fr", "Vanne 1"}});
    const QXmlTranslation other(QStringLiteral("Valve 2 open"), Map{{"de", "Ventil 2 offen"}});
    t.trunkToCommon(other);
    EXPECT_EQ(t.engName(), QStringLiteral("Valve"));
    EXPECT_EQ(t.translations(), (Map{{"de", "Ventil"}, {"fr", "Vanne 1"}}));
}

TEST(QXmlTranslation, ArgAppliesToEveryText)
{
    QXmlTranslation t(QStringLiteral("Pump %1"), Map{{"de", "Pumpe %1"}});
    t.setUseQtTranslator(true);
    const QXmlTranslation n = t.arg(7);
    EXPECT_EQ(n.engName(), QStringLiteral("Pump 7"));
    EXPECT_EQ(n.translations(), (Map{{"de", "Pumpe 7"}}));
    EXPECT_FALSE(n.useQtTranslator());
    EXPECT_EQ(t.engName(), QStringLiteral("Pump %1"));

    EXPECT_EQ(t.arg(255, 4, 16, QLatin1Char('0')).engName(), QStringLiteral("Pump 00ff"));
    EXPECT_EQ(t.arg(qulonglong(18446744073709551615ull)).engName(), QStringLiteral("Pump 18446744073709551615"));
    EXPECT_EQ(t.arg(qlonglong(-5)).engName(), QStringLiteral("Pump -5"));
    EXPECT_EQ(t.arg(1.5).engName(), QStringLiteral("Pump 1.5"));
    EXPECT_EQ(t.arg(2.0, 0, 'f', 2).engName(), QStringLiteral("Pump 2.00"));
    EXPECT_EQ(t.arg('x').engName(), QStringLiteral("Pump x"));
    EXPECT_EQ(t.arg(QChar(0x44)).engName(), QStringLiteral("Pump D"));
    EXPECT_EQ(t.arg(QStringLiteral("A"), -3, QLatin1Char('.')).translations().value(QStringLiteral("de")),
              QStringLiteral("Pumpe A.."));
    const QXmlTranslation many(QStringLiteral("%1%2%3%4%5%6%7%8%9"), Map{{"de", "%9%8%7%6%5%4%3%2%1"}});
    const QXmlTranslation filled = many.arg(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                            QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                            QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9"));
    EXPECT_EQ(filled.engName(), QStringLiteral("123456789"));
    EXPECT_EQ(filled.translations().value(QStringLiteral("de")), QStringLiteral("987654321"));
    EXPECT_EQ(QXmlTranslation(QStringLiteral("%2-%1"), false).arg(QStringLiteral("a"), QStringLiteral("b")).engName(),
              QStringLiteral("b-a"));
}

TEST(QXmlTranslation, ArgWithTranslationInsertsMatchingLanguage)
{
    const QXmlTranslation format(QStringLiteral("%1 of pump"), Map{{"de", "%1 der Pumpe"}, {"fr", "%1 de pompe"}});
    const QXmlTranslation word(QStringLiteral("Speed"), Map{{"de", "Drehzahl"}, {"ru", "Skorost"}});
    const QXmlTranslation r = format.arg(word);
    EXPECT_EQ(r.engName(), QStringLiteral("Speed of pump"));
    EXPECT_EQ(r.translations(), (Map{{"de", "Drehzahl der Pumpe"}, {"fr", "Speed de pompe"}}));
}

TEST(QXmlTranslation, AppendTexts)
{
    QXmlTranslation t = sample();
    t += QStringLiteral("!");
    EXPECT_EQ(t.engName(), QStringLiteral("Pressure!"));
    EXPECT_EQ(t.translations(), (Map{{"de", "Druck!"}, {"ru", "Davlenie!"}}));

    const QXmlTranslation unit(QStringLiteral(" bar"), Map{{"de", " Bar"}, {"fr", " barre"}});
    QXmlTranslation sum = sample();
    sum += unit;
    EXPECT_EQ(sum.engName(), QStringLiteral("Pressure bar"));
    EXPECT_EQ(sum.translations(),
              (Map{{"de", "Druck Bar"}, {"ru", "Davlenie bar"}, {"fr", "Pressure barre"}}));

    const QXmlTranslation a = sample();
    EXPECT_EQ((a + unit).translations(), sum.translations());
    EXPECT_EQ(a.engName(), QStringLiteral("Pressure"));
    EXPECT_EQ((a + QStringLiteral("?")).translations().value(QStringLiteral("de")), QStringLiteral("Druck?"));
    const QXmlTranslation prefixed = QStringLiteral("> ") + a;
    EXPECT_EQ(prefixed.engName(), QStringLiteral("> Pressure"));
    EXPECT_EQ(prefixed.translations().value(QStringLiteral("ru")), QStringLiteral("> Davlenie"));
}

TEST(QXmlTranslation, WritesTranslationElementsInLanguageOrder)
{
    QDomDocument doc;
    QDomElement node = doc.createElement(QStringLiteral("node"));
    doc.appendChild(node);
    const QXmlTranslation t(QStringLiteral("Pressure"), Map{{"ru", "Davlenie"}, {"de", "Druck & Co"}});
    t.addToXMLNode(doc, node, QStringLiteral("name"));
    // Attribute order inside an element is not fixed by the DOM, so the
    // result is compared element by element.
    const auto expectTranslations = [](const QDomElement &parent) {
        const QDomNodeList children = parent.childNodes();
        ASSERT_EQ(children.size(), 2);
        const QStringList langs{QStringLiteral("de"), QStringLiteral("ru")};
        const QStringList texts{QStringLiteral("Druck & Co"), QStringLiteral("Davlenie")};
        for (int i = 0; i < 2; ++i) {
            const QDomElement e = children.at(i).toElement();
            EXPECT_EQ(e.tagName(), QStringLiteral("translation"));
            EXPECT_EQ(e.attributes().size(), 2);
            EXPECT_EQ(e.attribute(QStringLiteral("attribute")), QStringLiteral("name"));
            EXPECT_EQ(e.attribute(QStringLiteral("lang")), langs.at(i));
            EXPECT_EQ(e.text(), texts.at(i));
        }
    };
    expectTranslations(node);

    QString streamed;
    QXmlStreamWriter writer(&streamed);
    writer.writeStartElement(QStringLiteral("node"));
    t.writeTranslationsToXmlStream(writer, QStringLiteral("name"));
    writer.writeEndElement();
    QDomDocument streamedDoc;
    ASSERT_TRUE(streamedDoc.setContent(streamed));
    expectTranslations(streamedDoc.documentElement());

    // What is written parses back.
    QXmlTranslation back(QStringLiteral("Pressure"), false);
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling())
        EXPECT_TRUE(back.parseXMLSubTree(child));
    EXPECT_EQ(back.translations(), t.translations());
}

TEST(QXmlTranslation, ReadsTranslationFromStream)
{
    QXmlStreamReader reader(QStringLiteral(
        "<n><translation lang=\"de\">Druck</translation><translation lang=\"fr\"></translation>"
        "<translation>x</translation><other lang=\"ru\">y</other></n>"));
    QXmlTranslation t;
    QList<bool> results;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() != QLatin1String("n"))
            results << t.readTranslationFromXMLStream(reader);
    }
    EXPECT_EQ(results, (QList<bool>{true, false, false, false}));
    EXPECT_EQ(t.translations(), (Map{{"de", "Druck"}}));
    QXmlStreamReader notStart(QStringLiteral("<translation lang=\"de\">x</translation>"));
    EXPECT_FALSE(t.readTranslationFromXMLStream(notStart));
}

TEST(QXmlTranslation, DataStreamRoundTripAndLayout)
{
    QXmlTranslation t = sample();
    t.setUseQtTranslator(true);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << t;
    }
    {
        QDataStream in(bytes);
        QString eng;
        qint32 count = 0;
        QString firstLang;
        in >> eng >> count >> firstLang;
        EXPECT_EQ(eng, QStringLiteral("Pressure"));
        EXPECT_EQ(count, 2);
        EXPECT_EQ(firstLang, QStringLiteral("ru")); // descending language order
    }
    QDataStream in(bytes);
    QXmlTranslation back;
    in >> back;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_EQ(back.engName(), QStringLiteral("Pressure"));
    EXPECT_EQ(back.translations(), t.translations());
    EXPECT_FALSE(back.useQtTranslator());
}

TEST(QXmlTranslation, DataStreamErrorGivesEmptyMap)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << QStringLiteral("Eng") << qint32(1000000) << QStringLiteral("de") << QStringLiteral("Druck");
    }
    QDataStream in(bytes);
    QXmlTranslation back(QStringLiteral("old"), Map{{"x", "y"}});
    in >> back;
    EXPECT_NE(in.status(), QDataStream::Ok);
    EXPECT_EQ(back.engName(), QStringLiteral("Eng"));
    EXPECT_TRUE(back.translations().isEmpty());

    QDataStream truncated(bytes.left(5));
    QXmlTranslation nothing;
    truncated >> nothing;
    EXPECT_TRUE(nothing.translations().isEmpty());
}

TEST(QXmlTranslation, DebugForm)
{
    QString text;
    QDebug(&text) << QXmlTranslation(QStringLiteral("Eng"), Map{{"de", "D"}});
    EXPECT_TRUE(text.startsWith(QStringLiteral("QXmlTranslation(\"Eng\""))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("QMap((\"de\", \"D\"))"))) << qPrintable(text);
    EXPECT_TRUE(text.trimmed().endsWith(QStringLiteral(")")));
}

} // namespace
