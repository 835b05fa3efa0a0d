// Runs a fuzz target's entry point over the files of its corpus, so that an
// ordinary build replays the corpus as a test: each argument is a file or a
// directory of files. A target's LLVMFuzzerInitialize, when it has one,
// runs first, as under libFuzzer. Exits non-zero when an argument cannot be
// read or no input was found; a broken invariant aborts inside the target.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

bool replay(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(fileName));
        return false;
    }
    const QByteArray data = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()), static_cast<size_t>(data.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (QFileInfo(arg).isDir()) {
            for (const QString &name : QDir(arg).entryList(QDir::Files, QDir::Name))
                files << QDir(arg).filePath(name);
        } else {
            files << arg;
        }
        for (const QString &f : qAsConst(files)) {
            if (!replay(f))
                return 1;
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
