#include "app/commandline.h"

#include "core/diag.h"
#include "core/gatelog.h"

#include <QDir>

bool applyCommandLine(const QStringList &arguments, const QString &programDir)
{
    bool ok = true;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg.isEmpty() || arg.at(0) != QLatin1Char('-'))
            break;
        const QString option = arg.toUpper();
        if (option == QLatin1String("-D")) {
            bool number = false;
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            const uint level = value.toUInt(&number, 10);
            if (!number)
                ok = false;
            setDebugLevel(level);
            GATE_DEBUG_ALWAYS("Debuglevel is %i", static_cast<int>(level));
        } else if (option == QLatin1String("-L")) {
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            if (value.isEmpty())
                ok = false;
            setGateLogFileName(QDir::cleanPath(QDir(programDir).absoluteFilePath(value)));
            GATE_DEBUG_ALWAYS("Using logfile %s", qUtf8Printable(gateLogFileName()));
        } else {
            GATE_DEBUG_ALWAYS("Wrong argument %s", qUtf8Printable(arg));
            ok = false;
            break;
        }
    }
    return ok;
}
