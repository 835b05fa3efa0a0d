#include <qxmlbasedobject.h>

#include "sundry/qtprinters.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>

namespace {

// An element <e/> that has the attribute `a` with `value`, or none when
// `value` is null.
class Element
{
public:
    explicit Element(const QString &value)
    {
        m_element = m_doc.createElement(QStringLiteral("e"));
        if (!value.isNull())
            m_element.setAttribute(QStringLiteral("a"), value);
        m_doc.appendChild(m_element);
    }
    const QDomElement &node() const { return m_element; }

private:
    QDomDocument m_doc;
    QDomElement m_element;
};

const QString kAbsent;

struct LongCase {
    const char *text; // nullptr: attribute absent
    long expected;
};

class LongAttr : public ::testing::TestWithParam<LongCase> {};

TEST_P(LongAttr, ReadsCNotationOrDefault)
{
    const LongCase c = GetParam();
    const Element e(c.text ? QString::fromUtf8(c.text) : kAbsent);
    EXPECT_EQ(QXmlBasedObject::getXMLLongAttrDef(e.node(), QStringLiteral("a"), -7), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(CNotationBoundaries, LongAttr, ::testing::Values(
    LongCase{nullptr, -7},
    LongCase{"", -7},
    LongCase{"   ", -7},
    LongCase{"17", 17},
    LongCase{"017", 15},
    LongCase{"0x1F", 31},
    LongCase{"0X1f", 31},
    LongCase{"0", 0},
    LongCase{"00", 0},
    LongCase{"-12", -12},
    LongCase{"-0x10", -16},
    LongCase{" 42 ", 42},
    LongCase{"\t42\n", 42},
    LongCase{"1.5", -7},
    LongCase{"12abc", -7},
    LongCase{"08", -7},      // 8 is no octal digit
    LongCase{"0x", -7},
    LongCase{"0xG", -7},
    LongCase{"- 5", -7},
    LongCase{"--5", -7},
    LongCase{"1 2", -7},
    LongCase{"\xd9\xa3", -7}, // ARABIC-INDIC DIGIT THREE is not a C digit
    LongCase{"9223372036854775807", LONG_MAX},
    LongCase{"-9223372036854775808", LONG_MIN},
    LongCase{"9223372036854775808", -7}));

struct ULongCase {
    const char *text;
    unsigned long expected;
};

class ULongAttr : public ::testing::TestWithParam<ULongCase> {};

TEST_P(ULongAttr, ReadsCNotationOrDefault)
{
    const ULongCase c = GetParam();
    const Element e(c.text ? QString::fromUtf8(c.text) : kAbsent);
    EXPECT_EQ(QXmlBasedObject::getXMLULongAttrDef(e.node(), QStringLiteral("a"), 99), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(CNotationBoundaries, ULongAttr, ::testing::Values(
    ULongCase{nullptr, 99},
    ULongCase{"", 99},
    ULongCase{"-1", 99},
    ULongCase{"0x10", 16},
    ULongCase{"010", 8},
    ULongCase{"10", 10},
    ULongCase{"18446744073709551615", ULONG_MAX},
    ULongCase{"0xFFFFFFFFFFFFFFFF", ULONG_MAX},
    ULongCase{"18446744073709551616", 99},
    ULongCase{"7x", 99}));

TEST(QXmlBasedObject, AbsentAndEmptyDifferForTextsOnly)
{
    const Element absent(kAbsent);
    const Element empty(QStringLiteral(""));
    const QString a = QStringLiteral("a");

    EXPECT_EQ(QXmlBasedObject::getXMLAttrValueDef(absent.node(), a, QStringLiteral("def")), QStringLiteral("def"));
    EXPECT_TRUE(QXmlBasedObject::getXMLAttrValueDef(empty.node(), a, QStringLiteral("def")).isEmpty());
    EXPECT_TRUE(QXmlBasedObject::getXMLAttrValue(absent.node(), a).isEmpty());
    EXPECT_TRUE(QXmlBasedObject::getXMLAttrValue(empty.node(), a).isEmpty());

    EXPECT_EQ(QXmlBasedObject::getXMLLongAttrDef(empty.node(), a, 5), 5);
    EXPECT_EQ(QXmlBasedObject::getXMLULongAttrDef(empty.node(), a, 5), 5u);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(empty.node(), a, 2.5), 2.5);
    EXPECT_EQ(QXmlBasedObject::getXMLCharAttrDef(empty.node(), a, QLatin1Char('d')), QLatin1Char('d'));
    EXPECT_TRUE(QXmlBasedObject::getXMLBoolAttrDef(empty.node(), a, true));
    EXPECT_FALSE(QXmlBasedObject::getXMLBoolAttrDef(absent.node(), a, false));
}

TEST(QXmlBasedObject, TextIsReturnedAsStoredAndNamesAreCaseSensitive)
{
    const Element e(QStringLiteral("  Mixed Text "));
    EXPECT_EQ(QXmlBasedObject::getXMLAttrValue(e.node(), QStringLiteral("a")), QStringLiteral("  Mixed Text "));
    EXPECT_EQ(QXmlBasedObject::getXMLAttrValueDef(e.node(), QStringLiteral("A"), QStringLiteral("d")),
              QStringLiteral("d"));
}

TEST(QXmlBasedObject, BooleanIsFalseOnlyForItsThreeSpellings)
{
    const QString a = QStringLiteral("a");
    for (const char *text : {"no", "No", "NO", "false", "FALSE", "False", "0"}) {
        const Element e(QString::fromLatin1(text));
        EXPECT_FALSE(QXmlBasedObject::getXMLBoolAttrDef(e.node(), a, true)) << text;
    }
    for (const char *text : {"yes", "true", "1", "on", "off", "2", "n", " no", "00"}) {
        const Element e(QString::fromLatin1(text));
        EXPECT_TRUE(QXmlBasedObject::getXMLBoolAttrDef(e.node(), a, false)) << text;
    }
}

TEST(QXmlBasedObject, DoubleNeedsDecimalPoint)
{
    const QString a = QStringLiteral("a");
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral("1.5")).node(), a, -1), 1.5);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral("-2.5e3")).node(), a, -1), -2500.0);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral(" 7 ")).node(), a, -1), 7.0);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral("1,5")).node(), a, -1), -1.0);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral("abc")).node(), a, -1), -1.0);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral("nan")).node(), a, -1), -1.0);
    EXPECT_EQ(QXmlBasedObject::getXMLDoubleAttrDef(Element(QStringLiteral("-inf")).node(), a, -1), -1.0);
}

TEST(QXmlBasedObject, CharIsFirstCharacter)
{
    EXPECT_EQ(QXmlBasedObject::getXMLCharAttrDef(Element(QStringLiteral("abc")).node(), QStringLiteral("a"),
                                                 QLatin1Char('z')),
              QLatin1Char('a'));
    EXPECT_EQ(QXmlBasedObject::getXMLCharAttrDef(Element(kAbsent).node(), QStringLiteral("a"), QLatin1Char('z')),
              QLatin1Char('z'));
}

TEST(QXmlBasedObject, ReadersAcceptNodesWithoutAttributes)
{
    QDomDocument doc;
    const QDomNode text = doc.createTextNode(QStringLiteral("x"));
    EXPECT_EQ(QXmlBasedObject::getXMLLongAttrDef(text, QStringLiteral("a"), 3), 3);
    EXPECT_EQ(QXmlBasedObject::getXMLAttrValueDef(QDomNode(), QStringLiteral("a"), QStringLiteral("d")),
              QStringLiteral("d"));
}

TEST(QXmlBasedObject, BaseObjectParsesNothingAndHasNoName)
{
    QXmlBasedObject object;
    EXPECT_TRUE(object.parseXMLSubTree(QDomNode()));
    EXPECT_TRUE(object.translatedName().isEmpty());
}

TEST(QXmlBasedObject, LoadXMLFileForParse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.xml"));
    const QString bad = dir.filePath(QStringLiteral("bad.xml"));
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<config><a x=\"1\"/></config>");
        QFile g(bad);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.write("<config><a></config>");
    }
    QDomDocument doc;
    ASSERT_TRUE(QXmlBasedObject::loadXMLFileForParse(doc, good));
    EXPECT_EQ(doc.documentElement().tagName(), QStringLiteral("config"));

    QDomDocument other;
    EXPECT_FALSE(QXmlBasedObject::loadXMLFileForParse(other, bad));
    EXPECT_FALSE(QXmlBasedObject::loadXMLFileForParse(other, dir.filePath(QStringLiteral("missing.xml"))));
    EXPECT_FALSE(QXmlBasedObject::loadXMLFileForParse(other, dir.path()));
    QString reason;
    EXPECT_FALSE(QXmlBasedObject::loadXMLFileForParse(other, bad, &reason));
    EXPECT_EQ(reason, QStringLiteral("tag mismatch at line 1, column 20"));
}

// The DOM parser recurses per level: a deep file must be refused before it
// reaches it, at any depth, and a file at the limit still loads.
TEST(QXmlBasedObject, NestingBeyondTheLimitIsRefusedBeforeParsing)
{
    const auto nested = [](int levels) { return QByteArray("<a>").repeated(levels) + QByteArray("</a>").repeated(levels); };
    QDomDocument doc;
    QString reason;
    EXPECT_TRUE(QXmlBasedObject::setXMLContentChecked(doc, nested(QXmlBasedObject::MaxXMLNestingDepth), &reason));
    EXPECT_FALSE(QXmlBasedObject::setXMLContentChecked(doc, nested(100000), &reason));
    EXPECT_EQ(reason, QStringLiteral("elements nested deeper than 256 levels at line 1, column 771"));

    // An undeclared prefix once stopped the scan early, and the DOM parser,
    // which does not check namespaces, went on into the depth unmeasured.
    EXPECT_FALSE(QXmlBasedObject::setXMLContentChecked(doc, "<packet><p:q/>" + nested(100000) + "</packet>", &reason));
    EXPECT_EQ(reason, QStringLiteral("elements nested deeper than 256 levels at line 1, column 782"));
    EXPECT_TRUE(QXmlBasedObject::setXMLContentChecked(doc, "<packet><p:q/></packet>", &reason));
    // Any other error the scan stops at: the deep rest is refused with the
    // scan's reason, a shallow one still gets the DOM parser's words.
    EXPECT_FALSE(QXmlBasedObject::setXMLContentChecked(doc, "<packet><q a='1' a='2'/>" + nested(100000) + "</packet>", &reason));
    EXPECT_TRUE(reason.startsWith(QStringLiteral("Attribute 'a' redefined.")));
    EXPECT_TRUE(QXmlBasedObject::setXMLContentChecked(doc, "<packet><q a='1' a='2'/></packet>", &reason));

    // Control characters and bytes that are no UTF-8, which the DOM parser
    // takes, once ended the scan: a long shallow text (as the packet stream
    // writes back what it read) was refused, and a deep one must still be.
    const QByteArray odd = QByteArray("<packet name='n\x01\xff'>") + QByteArray(1, '\0');
    EXPECT_TRUE(QXmlBasedObject::setXMLContentChecked(doc, odd + QByteArray("<d/>").repeated(1000) + "</packet>", &reason))
        << qPrintable(reason);
    EXPECT_EQ(doc.elementsByTagName(QStringLiteral("d")).size(), 1000);
    EXPECT_FALSE(QXmlBasedObject::setXMLContentChecked(doc, odd + nested(100000) + "</packet>", &reason));
    EXPECT_TRUE(reason.startsWith(QStringLiteral("elements nested deeper than 256 levels")));

    // Entities that nest where they are used, past what the stream reader
    // expands: no "<" follows the point it stopped at.
    QByteArray dtd = "<!DOCTYPE r [";
    for (int i = 0; i < 300; ++i)
        dtd += "<!ENTITY e" + QByteArray::number(i) + " \"<x a='" + QByteArray(500, 'A') + "'>"
            + (i < 299 ? "&e" + QByteArray::number(i + 1) + ";" : QByteArray()) + "</x>\">";
    EXPECT_FALSE(QXmlBasedObject::setXMLContentChecked(doc, dtd + "]><r>&e0;</r>", &reason));
}

} // namespace
