#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// What every fuzz target shares: the application object and quiet message
// channels (set up once by LLVMFuzzerInitialize, which the replay program
// calls too), a private scratch directory, and a reader that takes the
// choices of a target from the front of its input.

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// A directory of this process, removed at exit; empty when none could be made.
QString fuzzScratchDir();
// `bytes` written to `name` in the scratch directory (replacing it); the
// full path, or empty when it could not be written.
QString fuzzWriteFile(const QString &name, const QByteArray &bytes);
// A name unique to this process for a message queue ("/ferroxfuzz-<pid>-<tag>").
QByteArray fuzzQueueName(const char *tag);

// Aborts, naming the broken invariant and where it was checked, when
// `condition` does not hold: libFuzzer keeps the input as a finding.
void fuzzCheckAt(bool condition, const char *file, int line, const char *text);
#define check(condition) fuzzCheckAt((condition), __FILE__, __LINE__, #condition)

// Seeds of a target (file name, bytes) written into `directory`; ends the
// process, with 0 when every seed was written. A target calls it when
// FERROX_FUZZ_SEEDS names a directory.
[[noreturn]] void fuzzWriteSeeds(const QString &directory, const QVector<QPair<const char *, QByteArray>> &seeds);

// Takes bytes from the front of a fuzz input; an exhausted input gives zeros.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // A number 0..count-1 (0 for count 0).
    unsigned pick(unsigned count) { return count ? byte() % count : 0; }
    // The next `n` bytes (fewer at the end).
    QByteArray take(size_t n);
    // Everything not taken yet.
    QByteArray rest();
    // The bytes up to the next occurrence of `separator` (which is skipped),
    // or the rest when there is none.
    QByteArray until(const QByteArray &separator);
    bool atEnd() const { return m_pos >= m_size; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

#endif // FUZZSUPPORT_H
