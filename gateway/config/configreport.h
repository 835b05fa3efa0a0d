#ifndef CONFIGREPORT_H
#define CONFIGREPORT_H

#include <QString>
#include <QStringList>

// Reports one configuration error on both channels: a warning with the
// English text, and a line in the operator's log with the text translated in
// the context of the reporting class. Texts carry the placeholders %1 … %9,
// filled from `args` in one pass (an argument that itself holds "%2" stays
// as it is).
void reportConfigError(const char *context, const char *text, const QStringList &args = QStringList());

// The same where the warning and the log line have different texts.
void reportConfigError(const char *context, const char *warningText, const char *logText,
                       const QStringList &args = QStringList());

// `text` with %1 … %9 replaced by `args` in one pass.
QString fillPlaceholders(const QString &text, const QStringList &args);

#endif // CONFIGREPORT_H
