// Runs a fuzz target once over every file of the folders (or files) it is given, as a test.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int replay(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 0;
    }
    const QByteArray input = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    int replayed = 0;
    int expected = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (QFileInfo(path).isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files.append(dir.filePath(name));
        } else {
            files.append(path);
        }
        expected += int(files.size());
        for (const QString &file : std::as_const(files))
            replayed += replay(file);
    }
    std::printf("replayed %d of %d inputs\n", replayed, expected);
    // A corpus that is missing or unreadable tests nothing.
    return replayed > 0 && replayed == expected ? 0 : 1;
}
