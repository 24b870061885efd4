#include "archiver/Extract.h"

#include "archiver/ArchiveReader.h"
#include "archiver/Posix.h"
#include "archiver/Report.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rar {

namespace {

class Extraction {
public:
    Extraction(const NamedPath& archive, const NamedPath& destination)
        : reader_(archive.host, archive.shown), destination_(destination) {
        root_ = Fd(
            ::open(encodePath(destination.host).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!root_.valid())
            throw Failure(systemError("cannot open folder " + destination.shown));
        // What is written here is the examinee's to read and change, whatever
        // modes the archive carries or the mask takes away: owner read and
        // write on files, and search on folders.
        const mode_t mask = currentUmask();
        fileMode_ = (0666 & ~mask) | S_IRUSR | S_IWUSR;
        folderMode_ = (0777 & ~mask) | S_IRWXU;
    }

    void run(Report& report) {
        ArchiveEntry entry;
        try {
            while (reader_.next(entry)) {
                if (!reader_.warning().isEmpty())
                    report.warning(reader_.warning());
                extractEntry(entry, report);
            }
            reader_.checkComplete();
        } catch (const Failure& damaged) {
            report.error(damaged.message());
        }
    }

private:
    void extractEntry(const ArchiveEntry& entry, Report& report) {
        const QString name = QString::fromUtf8(entry.name);
        const auto parts = safeParts(entry.name);
        if (!parts)
            return report.warning("skipped " + name + ": it lies outside the destination");
        if (entry.kind == ArchiveEntry::link)
            return report.warning("skipped " + name + ": links are not extracted");
        if (entry.kind == ArchiveEntry::other)
            return report.warning("skipped " + name + ": not a file or a folder");
        if (parts->isEmpty())
            return report.warning("skipped an entry without a name");
        try {
            if (entry.kind == ArchiveEntry::folder)
                openFolders(*parts);
            else
                extractFile(*parts, entry, report);
        } catch (const Failure& failed) {
            // Whether the reader can go on after damaged data, its next
            // header tells.
            report.error(destination_.shownBelow(parts->join('/')) + ": " + failed.message());
        }
    }

    // Opens (creating them as needed) the folders `parts` below the
    // destination, never following a link.
    Fd openFolders(const QList<QByteArray>& parts) {
        Fd dir(::dup(root_.get()));
        if (!dir.valid())
            throw Failure(systemError("cannot open " + destination_.shown));
        QByteArray path;
        for (const QByteArray& part : parts) {
            path = path.isEmpty() ? part : path + '/' + part;
            const bool made = ::mkdirat(dir.get(), part.constData(), folderMode_) == 0;
            if (!made && errno != EEXIST)
                throw Failure(systemError("cannot create folder " + destination_.shownBelow(path)));
            Fd sub(::openat(dir.get(), part.constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.valid())
                throw Failure(systemError("cannot enter folder " + destination_.shownBelow(path)));
            if (made && ::fchmod(sub.get(), folderMode_) != 0)
                throw Failure(
                    systemError("cannot open up folder " + destination_.shownBelow(path)));
            dir = std::move(sub);
        }
        return dir;
    }

    void extractFile(const QList<QByteArray>& parts, const ArchiveEntry& entry, Report& report) {
        const Fd dir = openFolders(parts.first(parts.size() - 1));
        const QByteArray& fileName = parts.last();
        const QString shown = destination_.shownBelow(parts.join('/'));
        struct stat existing;
        if (statAt(dir.get(), fileName, existing, shown))
            return; // -o-: what is there stays
        // Written without a name and named once whole, so that a run killed
        // meanwhile leaves no half file, which the next "x -o-" would keep
        // for good. Where the file system has no such files, under its name
        // from the start.
        static const bool namedLater = ::access("/proc/self/fd", X_OK) == 0;
        Fd out(namedLater ? ::openat(dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, fileMode_)
                          : -1);
        const bool unnamed = out.valid();
        if (!unnamed)
            out = Fd(::openat(dir.get(), fileName.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode_));
        if (!out.valid()) {
            if (errno == EEXIST)
                return;
            throw Failure(systemError("cannot create file"));
        }
        try {
            if (::fchmod(out.get(), fileMode_) != 0)
                throw Failure(systemError("cannot open up the file"));
            copyData(out.get());
            const struct timespec times[2] = {{0, UTIME_OMIT},
                                              {time_t(entry.mtime), long(entry.mtimeNanoseconds)}};
            if (::futimens(out.get(), times) != 0)
                report.warning(systemError(shown + ": cannot set the modification time"));
            if (unnamed && !giveName(out.get(), dir.get(), fileName))
                return; // a file of that name came meanwhile, and stays
            out.close("cannot write file");
        } catch (...) {
            if (!unnamed)
                ::unlinkat(dir.get(), fileName.constData(), 0); // no half files left behind
            throw;
        }
    }

    // Links the unnamed file `fd` into `dir` as `name`; false when that name
    // is taken (never replaced).
    static bool giveName(int fd, int dir, const QByteArray& name) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, self.constData(), dir, name.constData(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno == EEXIST)
            return false;
        throw Failure(systemError("cannot create file"));
    }

    void copyData(int out) {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const std::size_t got = reader_.read(buffer.data(), buffer.size());
            if (got == 0)
                return;
            writeAll(out, buffer.data(), got, "cannot write");
        }
    }

    ArchiveReader reader_;
    NamedPath destination_;
    Fd root_;
    mode_t fileMode_;
    mode_t folderMode_;
};

} // namespace

int extract(const QString& archivePath, const QString& destinationPath) {
    Report report;
    try {
        const NamedPath archive = NamedPath::given(archivePath);
        const NamedPath destination = NamedPath::given(destinationPath);
        struct stat st;
        if (::stat(encodePath(archive.host).constData(), &st) != 0)
            throw Failure(systemError("cannot open archive " + archive.shown));
        if (st.st_size == 0)
            throw Failure("archive " + archive.shown + " is empty");
        if (!QDir().mkpath(destination.host))
            throw Failure("cannot create folder " + destination.shown);
        Extraction extraction(archive, destination);
        extraction.run(report);
    } catch (const Failure& failure) {
        report.error(failure.message());
    }
    return report.exitCode();
}

} // namespace rar
