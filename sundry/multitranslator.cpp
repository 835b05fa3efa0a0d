#include "multitranslator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTranslator>

#include <new>

MultiTranslator multiTranslator;

MultiTranslator::MultiTranslator() = default;

MultiTranslator::~MultiTranslator() = default;

bool MultiTranslator::load(const QString &fileName, const QString &lang)
{
    QSharedPointer<QTranslator> translator(new (std::nothrow) QTranslator);
    if (!translator) {
        qWarning("MultiTranslator::load(): Error allocating QTranslator");
        return false;
    }
    if (!translator->load(fileName)) {
        qWarning("MultiTranslator::load(): Error loading translation file %s", qUtf8Printable(fileName));
        return false;
    }
    m_translators[lang].prepend(translator);
    return true;
}

int MultiTranslator::loadTranslators(const QStringList &nameFilters, const QString &dir, const QString &suffix)
{
    QDir directory;
    const bool found = dir.isEmpty() || directory.cd(dir);
    qDebug("loading from %s",
           qUtf8Printable(found ? directory.absolutePath() : QFileInfo(directory, dir).absoluteFilePath()));
    if (!found)
        return 0;

    const QString ending = suffix.isEmpty() ? QStringLiteral(".qm") : suffix;
    int loaded = 0;
    const QFileInfoList files = directory.entryInfoList(nameFilters, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QString fileName = file.fileName();
        QString base = fileName;
        if (base.endsWith(ending))
            base.chop(ending.size());
        QString lang;
        const int dot = base.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0) {
            lang = base.mid(dot + 1);
        } else {
            const int underscore = base.indexOf(QLatin1Char('_'));
            if (underscore >= 0)
                lang = base.mid(underscore + 1);
        }
        if (lang.isEmpty())
            lang = QStringLiteral("en");

        if (load(file.absoluteFilePath(), lang)) {
            ++loaded;
            qWarning("Translator %s for lang %s was loaded", qUtf8Printable(fileName), qUtf8Printable(lang));
        } else {
            qWarning("Error loading translator %s for lang %s", qUtf8Printable(fileName), qUtf8Printable(lang));
        }
        qDebug("loadTranslators: %s - %s", qUtf8Printable(fileName), qUtf8Printable(lang));
    }
    return loaded;
}

void MultiTranslator::installLangToApp(QCoreApplication *app, const QString &lang)
{
    if (!app)
        return;
    removeAllFromApp(app);
    const QList<QSharedPointer<QTranslator>> list = m_translators.value(lang);
    // The application consults the translator installed last first, so the
    // newest one (front of the list) is installed last.
    for (auto it = list.crbegin(); it != list.crend(); ++it)
        app->installTranslator(it->data());
}

void MultiTranslator::removeAllFromApp(QCoreApplication *app)
{
    if (!app)
        return;
    for (const auto &list : qAsConst(m_translators)) {
        for (const QSharedPointer<QTranslator> &translator : list)
            app->removeTranslator(translator.data());
    }
}

void MultiTranslator::remove(const QString &lang)
{
    m_translators.remove(lang);
}

void MultiTranslator::clear()
{
    m_translators.clear();
}

QStringList MultiTranslator::languages() const
{
    return m_translators.keys();
}

QXmlTranslation MultiTranslator::translate(const char *context, const char *source,
                                           const char *disambiguation) const
{
    return translate(context, source, disambiguation, -1);
}

QXmlTranslation MultiTranslator::translate(const char *context, const char *source, const char *disambiguation,
                                           int n) const
{
    QXmlTranslation result;
    for (auto it = m_translators.constBegin(); it != m_translators.constEnd(); ++it) {
        for (const QSharedPointer<QTranslator> &translator : it.value()) {
            const QString text = translator->translate(context, source, disambiguation, n);
            if (!text.isEmpty()) {
                result.setTranslation(text, it.key());
                break;
            }
        }
    }
    if (result.engName().isEmpty())
        result.setEngName(QString::fromUtf8(source));
    return result;
}
