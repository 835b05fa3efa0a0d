#ifndef UTILFUNCTIONS_H
#define UTILFUNCTIONS_H

#include "sundry_export.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QSysInfo>

// Sum modulo 2^32 of the 32-bit words of `data` in byte order `order`,
// starting from 0x55555555. Never reads at or past `length`: when `length`
// is not a multiple of 4 the missing bytes of the last word count as zero.
SUNDRY_EXPORT quint32 checkSum32(const unsigned char *data, unsigned long length, QSysInfo::Endian order);
SUNDRY_EXPORT quint32 checkSum32(const char *data, unsigned long length, QSysInfo::Endian order);

// `value` in upper-case hexadecimal, left-padded with "0" to at least `width` digits.
SUNDRY_EXPORT QString uintToHex(unsigned int value, unsigned int width);
// One row of a 16-bytes-per-row hex dump of `data` from `start`; empty when
// `start` is not below the size of `data`.
SUNDRY_EXPORT QString arrayToHexString(const QByteArray &data, unsigned int start, unsigned int count);
// Writes `data` as hex-dump rows of 16 bytes to the debug output.
SUNDRY_EXPORT void qDebugDumpByteArray(const QByteArray &data);

// True when more than `neededMiB` MiB are available to unprivileged users on
// the file system of `path`. False, with the debug message
// "Free disk space: ... ; Needed: ...", otherwise and when the file system
// cannot be examined.
SUNDRY_EXPORT bool checkFreeDiskSpace(const QString &path, unsigned int neededMiB);

// Blocks the calling thread for `ms` milliseconds (microsecond sleep).
SUNDRY_EXPORT void SASleep(unsigned long ms);
// Blocks the calling thread for `ms` milliseconds (nanosecond sleep).
SUNDRY_EXPORT void SAqSleep(int ms);
// Waits `ms` milliseconds while processing the thread's pending events in
// 10 ms steps; up to 10 ms it simply sleeps.
SUNDRY_EXPORT void sleepNonBlock(unsigned long ms);

// Index of the first entry whose file name (without directory) equals
// `fileName`, or -1.
SUNDRY_EXPORT int getFileIndex(const QString &fileName, const QList<QFileInfo> &files);
// `name` + "_" + the short project name, unless that name is empty or
// already occurs in `name`.
SUNDRY_EXPORT QString protocolSocketName(const QString &name);
// Short project name of the installation, lower case ("ferrox").
SUNDRY_EXPORT QString shortProjectName();
// Name of the organisation ("Ferrox").
SUNDRY_EXPORT QString engOrganizationName();

// The process-wide translation language (initially empty).
SUNDRY_EXPORT QString getXmlTranslationLang();
SUNDRY_EXPORT void setXmlTranslationLang(const QString &lang);

#endif // UTILFUNCTIONS_H
