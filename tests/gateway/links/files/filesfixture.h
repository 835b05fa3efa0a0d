#ifndef FILESFIXTURE_H
#define FILESFIXTURE_H

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "gateway/links/tiefixture.h"
#include "support/fixedclock.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <cstring>

// Makes the codec named `name` the locale's codec for the lifetime of the object.
class ScopedLocaleCodec
{
public:
    explicit ScopedLocaleCodec(const char *name) : m_previous(QTextCodec::codecForLocale())
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName(name));
    }
    ~ScopedLocaleCodec() { QTextCodec::setCodecForLocale(m_previous); }

private:
    QTextCodec *m_previous;
};

// A configuration in a temporary directory loaded through the real loader,
// a fixed clock, and the main cycle's three passes.
struct FilesFixture : TieFixture {

    // The input list: FLOATVALID T1, SDWORDSTATE T2, FLOATSTATE T3 (ExtID E3),
    // SDWORDVALID T4, FLOAT T5, SDWORDVALID under the KKS E3.
    static constexpr const char *kInputList = "index,type,extid,kks\n"
                                              "1,FLOATVALID,,T1\n"
                                              "2,SDWORDSTATE,,T2\n"
                                              "3,FLOATSTATE,E3,T3\n"
                                              "4,SDWORDVALID,,T4\n"
                                              "5,FLOAT,,T5\n"
                                              "6,SDWORDVALID,,E3\n";

    FilesFixture()
    {
    }

    QString path(const QString &name) const { return dir.filePath(name); }


    // A `textfilein` section over the input list reading `input`.
    QByteArray inputSection(const QByteArray &attributes = QByteArray(), const QString &input = "values.txt") const
    {
        write("in.csv", kInputList);
        return "<textfilein id='in' " + attributes
            + "><csvlist file='in.csv' index='0' type='1' extid='2' kks='3' direction='in'/>"
            + "<infile filename='" + path(input).toUtf8() + "'/></textfilein>";
    }

    void writeText(const QString &name, const QByteArray &bytes) const { write(name, bytes); }
    void appendText(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Append) || f.write(bytes) != bytes.size())
            ADD_FAILURE() << "cannot append to " << qPrintable(name);
    }
    QByteArray readText(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool exists(const QString &name) const { return QFile::exists(path(name)); }


    template<typename T>
    T *tie(int i) const
    {
        return i < config.ties().size() ? qobject_cast<T *>(config.ties().at(i)) : nullptr;
    }

    // The provider with identifier `id` (any kind).
    BaseTieParam *provider(const QString &id) const { return config.paramsHash().find(id); }

    // Word `i` of the parameter's first element.
    template<typename T = quint32>
    static T word(const BaseTieParam *p, int i)
    {
        T v{};
        if (p && p->values() && p->size() >= (i + 1) * sizeof(T))
            std::memcpy(&v, p->values() + i * sizeof(T), sizeof v);
        return v;
    }
    static float floatValue(const BaseTieParam *p) { return word<float>(p, 0); }
    static qint32 intValue(const BaseTieParam *p) { return word<qint32>(p, 0); }
    static quint32 sign(const BaseTieParam *p) { return word<quint32>(p, 1); }
};

#endif // FILESFIXTURE_H
