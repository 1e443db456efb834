// Replays fuzz inputs without libFuzzer: each argument is a file, or a folder
// whose files are run in name order.

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool replay(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int run = 0;
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QStringList inputs;
        if (QFileInfo(path).isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                inputs << dir.filePath(name);
        } else {
            inputs << path;
        }
        for (const QString &input : inputs) {
            if (replay(input))
                ++run;
            else
                ++failed;
        }
    }
    std::printf("%d passed, %d failed\n", run, failed);
    return failed == 0 && run > 0 ? 0 : 1;
}
