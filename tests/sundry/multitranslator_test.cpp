#include <multitranslator.h>
#include <utilfunctions.h>

#include "sundry/qtprinters.h"

#include "support/messagecapture.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Message {
    QByteArray context;
    QByteArray source;
    QString translation;
};

// The hash under which a compiled translation file files a message.
quint32 messageHash(const QByteArray &source)
{
    quint32 h = 0;
    for (const char ch : source) {
        h = (h << 4) + static_cast<uchar>(ch);
        const quint32 g = h & 0xf0000000u;
        if (g != 0)
            h ^= g >> 24;
        h &= ~g;
    }
    return h ? h : 1;
}

// Writes a compiled Qt translation file holding `messages`.
bool writeQm(const QString &path, const QList<Message> &messages)
{
    QByteArray messageBlock;
    QList<QPair<quint32, quint32>> hashes;
    {
        QDataStream out(&messageBlock, QIODevice::WriteOnly);
        for (const Message &m : messages) {
            hashes.append({messageHash(m.source), static_cast<quint32>(messageBlock.size())});
            out << quint8(0x03); // translation, UTF-16 big-endian
            out << quint32(m.translation.size() * 2);
            for (const QChar c : m.translation)
                out << quint16(c.unicode());
            out << quint8(0x06) << quint32(m.source.size());
            out.writeRawData(m.source.constData(), m.source.size());
            out << quint8(0x07) << quint32(m.context.size());
            out.writeRawData(m.context.constData(), m.context.size());
            out << quint8(0x01);
        }
    }
    std::sort(hashes.begin(), hashes.end());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    const uchar magic[] = {0x3C, 0xB8, 0x64, 0x18, 0xCA, 0xEF, 0x9C, 0x95,
                           0xCD, 0x21, 0x1C, 0xBF, 0x60, 0xA1, 0xBD, 0xDD};
    out.writeRawData(reinterpret_cast<const char *>(magic), sizeof magic);
    out << quint8(0x42) << quint32(hashes.size() * 8);
    for (const auto &h : qAsConst(hashes))
        out << h.first << h.second;
    out << quint8(0x69) << quint32(messageBlock.size());
    out.writeRawData(messageBlock.constData(), messageBlock.size());
    return out.status() == QDataStream::Ok;
}

class MultiTranslatorTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override
    {
        m_translator.removeAllFromApp(QCoreApplication::instance());
        setXmlTranslationLang(QString());
    }

    QString qm(const QString &name, const QList<Message> &messages)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(writeQm(path, messages));
        return path;
    }

    QTemporaryDir m_dir;
    MultiTranslator m_translator;
};

TEST_F(MultiTranslatorTest, TranslateCollectsEveryLanguage)
{
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("a_de.qm"), {{"ctx", "Pressure", "Druck"}}), QStringLiteral("de")));
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("a_ru.qm"), {{"ctx", "Pressure", "Davlenie"}}),
                                  QStringLiteral("ru")));
    const QXmlTranslation t = m_translator.translate("ctx", "Pressure");
    EXPECT_EQ(t.engName(), QStringLiteral("Pressure"));
    EXPECT_EQ(t.translations(), (QMap<QString, QString>{{"de", "Druck"}, {"ru", "Davlenie"}}));

    const QXmlTranslation unknown = m_translator.translate("ctx", "Flow", nullptr, -1);
    EXPECT_EQ(unknown.engName(), QStringLiteral("Flow"));
    EXPECT_TRUE(unknown.translations().isEmpty());
    EXPECT_TRUE(m_translator.translate("other", "Pressure").translations().isEmpty());
}

TEST_F(MultiTranslatorTest, NewestTranslatorWinsAndEnglishTranslationSetsEnglishText)
{
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("old.qm"), {{"c", "Level", "Pegel"}, {"c", "Flow", "Durchfluss"}}),
                                  QStringLiteral("de")));
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("new.qm"), {{"c", "Level", "Stand"}}), QStringLiteral("de")));
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("en.qm"), {{"c", "LEVEL_ID", "Level"}}), QStringLiteral("en")));
    EXPECT_EQ(m_translator.translate("c", "Level").translate(QStringLiteral("de"), false), QStringLiteral("Stand"));
    EXPECT_EQ(m_translator.translate("c", "Flow").translate(QStringLiteral("de"), false),
              QStringLiteral("Durchfluss"));
    EXPECT_EQ(m_translator.translate("c", "LEVEL_ID").engName(), QStringLiteral("Level"));
}

TEST_F(MultiTranslatorTest, LoadFailureIsReported)
{
    QFile junk(m_dir.filePath(QStringLiteral("junk.qm")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a translation file");
    junk.close();
    MessageCapture capture;
    EXPECT_FALSE(m_translator.load(junk.fileName(), QStringLiteral("de")));
    EXPECT_FALSE(m_translator.load(m_dir.filePath(QStringLiteral("missing.qm")), QStringLiteral("de")));
    EXPECT_EQ(capture.warnings().size(), 2);
    EXPECT_TRUE(capture.contains(QStringLiteral("MultiTranslator::load(): Error loading translation file ")
                                 + junk.fileName()));
    EXPECT_TRUE(m_translator.languages().isEmpty());
}

TEST_F(MultiTranslatorTest, LoadTranslatorsTakesLanguageFromFileName)
{
    qm(QStringLiteral("app_de.qm"), {{"c", "Hello", "Hallo"}});
    qm(QStringLiteral("app.fr.qm"), {{"c", "Hello", "Bonjour"}});
    qm(QStringLiteral("app_pt_BR.qm"), {{"c", "Hello", "Ola"}});
    qm(QStringLiteral("app.qm"), {{"c", "HELLO", "Hello"}});
    qm(QStringLiteral("other_ru.qm"), {{"c", "Hello", "Privet"}});
    QDir(m_dir.path()).mkdir(QStringLiteral("app_xx.qm")); // a directory is no translator
    MessageCapture capture;
    EXPECT_EQ(m_translator.loadTranslators({QStringLiteral("app*.qm")}, m_dir.path(), QString()), 4);
    EXPECT_EQ(m_translator.languages(), (QStringList{"de", "en", "fr", "pt_BR"}));
    EXPECT_TRUE(capture.contains(QStringLiteral("loading from ") + QDir(m_dir.path()).absolutePath()));
    EXPECT_TRUE(capture.contains(QStringLiteral("Translator app_de.qm for lang de was loaded")));
    EXPECT_TRUE(capture.contains(QStringLiteral("loadTranslators: app_de.qm - de")));
    EXPECT_TRUE(capture.contains(QStringLiteral("loadTranslators: app.qm - en")));
    const QXmlTranslation t = m_translator.translate("c", "Hello");
    EXPECT_EQ(t.translate(QStringLiteral("fr"), false), QStringLiteral("Bonjour"));
    EXPECT_EQ(t.translate(QStringLiteral("pt_BR"), false), QStringLiteral("Ola"));
}

TEST_F(MultiTranslatorTest, LoadTranslatorsWithOwnSuffixAndBrokenFile)
{
    qm(QStringLiteral("gate_de.tr"), {{"c", "Hello", "Hallo"}});
    QFile junk(m_dir.filePath(QStringLiteral("gate_fr.tr")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("x");
    junk.close();
    MessageCapture capture;
    EXPECT_EQ(m_translator.loadTranslators({QStringLiteral("*.tr")}, m_dir.path(), QStringLiteral(".tr")), 1);
    EXPECT_EQ(m_translator.languages(), QStringList{"de"});
    EXPECT_TRUE(capture.contains(QStringLiteral("Error loading translator gate_fr.tr for lang fr")));
}

TEST_F(MultiTranslatorTest, LoadTranslatorsFromMissingDirectoryLoadsNothing)
{
    MessageCapture capture;
    EXPECT_EQ(m_translator.loadTranslators({QStringLiteral("*.qm")}, m_dir.filePath(QStringLiteral("none")),
                                           QString()),
              0);
    EXPECT_TRUE(m_translator.languages().isEmpty());
}

TEST_F(MultiTranslatorTest, InstallLanguageIntoApplication)
{
    QCoreApplication *app = QCoreApplication::instance();
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("old_de.qm"), {{"QXmlTranslation", "Pump", "Pumpe"},
                                                                    {"QXmlTranslation", "Valve", "Ventil"}}),
                                  QStringLiteral("de")));
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("new_de.qm"), {{"QXmlTranslation", "Pump", "Kreiselpumpe"}}),
                                  QStringLiteral("de")));
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("ru.qm"), {{"QXmlTranslation", "Pump", "Nasos"}}),
                                  QStringLiteral("ru")));

    m_translator.installLangToApp(app, QStringLiteral("de"));
    EXPECT_EQ(QCoreApplication::translate("QXmlTranslation", "Pump"), QStringLiteral("Kreiselpumpe"));
    EXPECT_EQ(QCoreApplication::translate("QXmlTranslation", "Valve"), QStringLiteral("Ventil"));

    // The Qt translator mode of a translation reads from the installed translators.
    setXmlTranslationLang(QStringLiteral("de"));
    const QXmlTranslation pump(QStringLiteral("Pump"), true);
    EXPECT_EQ(pump.translatedName(), QStringLiteral("Kreiselpumpe"));
    EXPECT_EQ(pump.translate(QStringLiteral("de"), false), QStringLiteral("Kreiselpumpe"));
    EXPECT_EQ(pump.translate(QStringLiteral("ru"), false), QStringLiteral("Pump"));

    m_translator.installLangToApp(app, QStringLiteral("ru"));
    EXPECT_EQ(QCoreApplication::translate("QXmlTranslation", "Pump"), QStringLiteral("Nasos"));
    EXPECT_EQ(QCoreApplication::translate("QXmlTranslation", "Valve"), QStringLiteral("Valve"));

    m_translator.installLangToApp(nullptr, QStringLiteral("de"));
    m_translator.removeAllFromApp(app);
    EXPECT_EQ(QCoreApplication::translate("QXmlTranslation", "Pump"), QStringLiteral("Pump"));
}

TEST_F(MultiTranslatorTest, RemoveAndClearForgetTranslators)
{
    QCoreApplication *app = QCoreApplication::instance();
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("de.qm"), {{"c", "Pump", "Pumpe"}}), QStringLiteral("de")));
    ASSERT_TRUE(m_translator.load(qm(QStringLiteral("ru.qm"), {{"c", "Pump", "Nasos"}}), QStringLiteral("ru")));
    m_translator.installLangToApp(app, QStringLiteral("de"));
    m_translator.remove(QStringLiteral("de"));
    // A forgotten translator leaves the application as well.
    EXPECT_EQ(QCoreApplication::translate("c", "Pump"), QStringLiteral("Pump"));
    EXPECT_EQ(m_translator.languages(), QStringList{"ru"});
    m_translator.clear();
    EXPECT_TRUE(m_translator.languages().isEmpty());
    EXPECT_TRUE(m_translator.translate("c", "Pump").translations().isEmpty());
}

TEST(MultiTranslatorGlobal, ProcessWideInstanceStartsEmpty)
{
    EXPECT_TRUE(multiTranslator.languages().isEmpty());
    EXPECT_EQ(multiTranslator.translate("c", "Text").engName(), QStringLiteral("Text"));
}

} // namespace
