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
            if (i + 1 >= arguments.size()) {
                ok = false;
                GATE_WARN("Debuglevel is %u (the value of -D is missing)", debugLevel());
                continue;
            }
            const QString value = arguments.at(++i);
            bool number = false;
            const uint level = value.toUInt(&number, 10);
            setDebugLevel(level);
            if (number) {
                GATE_DEBUG_ALWAYS("Debuglevel is %i", static_cast<int>(level));
            } else {
                ok = false;
                GATE_WARN("Debuglevel is %i (\"%s\" is not a decimal number)", static_cast<int>(level),
                          qUtf8Printable(value));
            }
        } else if (option == QLatin1String("-L")) {
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            if (value.isEmpty()) {
                // A name made of the program's directory would lose every
                // line: the configuration's log file, or the default, is kept.
                ok = false;
                GATE_WARN("Using logfile (none: the value of -L is missing)");
                continue;
            }
            setGateLogFileName(QDir::cleanPath(QDir(programDir).absoluteFilePath(value)));
            GATE_DEBUG_ALWAYS("Using logfile %s", qUtf8Printable(gateLogFileName()));
        } else {
            GATE_WARN("Wrong argument %s (see -h; the gateway's own options are -D <level> and -L <file>)",
                      qUtf8Printable(arg));
            ok = false;
            break;
        }
    }
    return ok;
}
