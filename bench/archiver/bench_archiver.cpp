// Times `rar a -df` and `rar x -o-` on a folder of 2,000 files and 200 MB,
// beside `bsdtar -cf` and `bsdtar -xf` (tar, uncompressed) of the same folder
// in the same run. The figures go to standard output.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int fileCount = 2000;
constexpr qint64 totalBytes = 200LL * 1024 * 1024;

void makeWorkFolder(const QString& folder) {
    QRandomGenerator gen(2026);
    std::vector<quint32> words(std::size_t(totalBytes / fileCount / 4 + 1));
    for (int i = 0; i < fileCount; ++i) {
        const QString sub = folder + QString("/子目录%1").arg(i % 20);
        QDir().mkpath(sub);
        gen.fillRange(words.data(), qsizetype(words.size()));
        QFile file(sub + QString("/文件%1.bin").arg(i));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(words.data()), totalBytes / fileCount) !=
                totalBytes / fileCount) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            std::exit(1);
        }
    }
}

struct Size {
    int files = 0;
    qint64 bytes = 0;
};

Size sizeOf(const QString& folder) {
    Size size;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++size.files;
        size.bytes += it.fileInfo().size();
    }
    return size;
}

double timed(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s %s failed\n", qPrintable(program),
                     qPrintable(arguments.join(' ')));
        std::exit(1);
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

void print(const char* what, double seconds) {
    std::printf("%-28s %8.3f s  %8.1f MB/s\n", what, seconds,
                double(totalBytes) / (1024.0 * 1024.0) / seconds);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString base = app.arguments().value(1, QDir::tempPath());
    QTemporaryDir scratch(base + "/bench-archiver-XXXXXX");
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot create a folder in %s\n", qPrintable(base));
        return 1;
    }
    const QString e = scratch.filePath("e");
    const QString work = e + "/考生文件夹";
    makeWorkFolder(work);
    const Size made = sizeOf(work);
    std::printf("work folder: %d files, %lld bytes\n", made.files, made.bytes);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MORVEL_DRIVE_E", e);
    env.insert("MORVEL_DRIVE_F", scratch.filePath("f"));
    QDir().mkpath(scratch.filePath("f"));
    QDir().mkpath(scratch.filePath("tar-x"));

    const double tarPack =
        timed("bsdtar", {"-cf", scratch.filePath("work.tar"), "-C", e, "考生文件夹"});
    const double rarPack =
        timed(RAR_PROGRAM, {"a", "-df", "e:\\考生文件夹", "e:\\考生文件夹"}, env);
    if (sizeOf(work).files != 0) {
        std::fprintf(stderr, "rar a -df left files behind\n");
        return 1;
    }
    QFile::rename(e + "/考生文件夹.rar", scratch.filePath("f/tmp.rar"));
    const double rarUnpack = timed(RAR_PROGRAM, {"x", "-o-", "f:\\tmp.rar", "f:\\"}, env);
    const double tarUnpack =
        timed("bsdtar", {"-xf", scratch.filePath("work.tar"), "-C", scratch.filePath("tar-x")});

    const Size unpacked = sizeOf(scratch.filePath("f/考生文件夹"));
    if (unpacked.files != made.files || unpacked.bytes != made.bytes) {
        std::fprintf(stderr, "rar x -o- gave %d files, %lld bytes\n", unpacked.files,
                     unpacked.bytes);
        return 1;
    }
    print("rar a -df (RAR 5.0, stored)", rarPack);
    print("bsdtar -cf (tar)", tarPack);
    print("rar x -o-", rarUnpack);
    print("bsdtar -xf (tar)", tarUnpack);
    std::printf("archive sizes: rar %lld, tar %lld bytes\n",
                QFileInfo(scratch.filePath("f/tmp.rar")).size(),
                QFileInfo(scratch.filePath("work.tar")).size());
    return 0;
}
