#include "config/configreport.h"

#include "core/diag.h"
#include "core/gatelog.h"

#include <QCoreApplication>

QString fillPlaceholders(const QString &text, const QStringList &args)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('%') && i + 1 < text.size()) {
            const int n = text.at(i + 1).digitValue();
            if (n >= 1 && n <= args.size()) {
                out += args.at(n - 1);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

void reportConfigError(const char *context, const char *text, const QStringList &args)
{
    reportConfigError(context, text, text, args);
}

void reportConfigError(const char *context, const char *warningText, const char *logText, const QStringList &args)
{
    GATE_WARN_LOGGED("%s", qUtf8Printable(fillPlaceholders(QString::fromUtf8(warningText), args)));
    gateLog(fillPlaceholders(QCoreApplication::translate(context, logText), args));
}
