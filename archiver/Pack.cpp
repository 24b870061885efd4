#include "archiver/Pack.h"

#include "archiver/ArchiveReader.h"
#include "archiver/Posix.h"
#include "archiver/Rar5Writer.h"
#include "archiver/Report.h"

#include "framework/core/Drives.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rar {

namespace {

// A file or folder found below the work folder.
struct Item {
    QByteArray path; // below the folder, "/" between parts
    bool folder;
    struct stat st;
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool sameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::uint32_t entryMode(const struct stat& st) {
    return st.st_mode & (S_IFMT | 0777);
}

QString nameOf(const QByteArray& utf8) {
    return QString::fromUtf8(utf8);
}

class Packing {
public:
    Packing(const QString& archivePath, const QString& folder, const QByteArray& prefix)
        : archivePath_(archivePath), folderPath_(folder), prefix_(prefix) {}

    void run(Report& report) {
        openFolder();
        createTemporary();
        try {
            walk(folder_.get(), QByteArray(), report);
            write();
            commit();
        } catch (...) {
            ::unlink(encodePath(temporaryPath_).constData());
            throw;
        }
        deletePacked(report);
    }

private:
    void openFolder() {
        folder_ =
            Fd(::open(encodePath(folderPath_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder_.valid())
            throw Failure(systemError("cannot open folder " + folderPath_));
        if (::fstat(folder_.get(), &folderStat_) != 0)
            throw Failure(systemError("cannot look at folder " + folderPath_));
    }

    void createTemporary() {
        QByteArray name = encodePath(archivePath_) + ".XXXXXX";
        temporary_ = Fd(::mkostemp(name.data(), O_CLOEXEC));
        if (!temporary_.valid())
            throw Failure(systemError("cannot create " + archivePath_));
        temporaryPath_ = decodePath(name.constData());
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(temporary_.get(), 0666 & ~mask) != 0 ||
            ::fstat(temporary_.get(), &temporaryStat_) != 0) {
            ::unlink(name.constData());
            throw Failure(systemError("cannot create " + archivePath_));
        }
        struct stat st;
        existing_ = statAt(AT_FDCWD, encodePath(archivePath_), st);
        if (existing_)
            existingStat_ = st;
    }

    bool isOurArchive(const struct stat& st) const {
        return sameInode(st, temporaryStat_) || (existing_ && sameInode(st, existingStat_));
    }

    void walk(int dirFd, const QByteArray& below, Report& report) {
        for (const QByteArray& name : namesIn(dirFd, below)) {
            const QByteArray path = below.isEmpty() ? name : below + '/' + name;
            if (QString::fromUtf8(name).toUtf8() != name)
                throw Failure("file name is not UTF-8: " + decodePath(path.constData()));
            struct stat st;
            if (!statAt(dirFd, name, st) || isOurArchive(st))
                continue; // gone meanwhile: neither packed nor deleted
            if (S_ISDIR(st.st_mode)) {
                items_.push_back({path, true, st});
                Fd sub(::openat(dirFd, name.constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (!sub.valid())
                    throw Failure(systemError("cannot open folder " + nameOf(path)));
                walk(sub.get(), path, report);
            } else if (S_ISREG(st.st_mode)) {
                items_.push_back({path, false, st});
            } else {
                report.warning("skipped " + nameOf(path) + ": links and special files stay");
            }
        }
    }

    static std::vector<QByteArray> namesIn(int dirFd, const QByteArray& below) {
        const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!dir) {
            if (fd >= 0)
                ::close(fd);
            throw Failure(systemError("cannot list folder " + nameOf(below)));
        }
        std::vector<QByteArray> names;
        errno = 0;
        while (const struct dirent* e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name != "." && name != "..")
                names.push_back(name);
        }
        const int error = errno;
        ::closedir(dir);
        if (error != 0)
            throw Failure(systemError("cannot list folder " + nameOf(below), error));
        std::sort(names.begin(), names.end());
        return names;
    }

    QByteArray entryName(const QByteArray& path) const {
        return prefix_.isEmpty() ? path : prefix_ + '/' + path;
    }

    void write() {
        Rar5Writer writer(temporary_.get(), archivePath_);
        writer.begin();
        if (!prefix_.isEmpty())
            addFolder(writer, prefix_, folderStat_);
        for (const Item& item : items_) {
            if (item.folder)
                addFolder(writer, entryName(item.path), item.st);
            else
                addFile(writer, item);
        }
        if (existing_)
            carryOver(writer);
        writer.finish();
    }

    void addFolder(Rar5Writer& writer, const QByteArray& name, const struct stat& st) {
        writer.addFolder(name, st.st_mtim.tv_sec, entryMode(st));
        written_.insert(name);
    }

    void addFile(Rar5Writer& writer, const Item& item) {
        const QString name = nameOf(item.path);
        Fd in(::openat(folder_.get(), item.path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.valid())
            throw Failure(systemError("cannot read " + name));
        struct stat before;
        if (::fstat(in.get(), &before) != 0 || !sameFile(before, item.st))
            throw Failure(name + " changed while it was being packed");
        writer.addFile(entryName(item.path), std::uint64_t(before.st_size), before.st_mtim.tv_sec,
                       entryMode(before), [&](char* buffer, std::size_t capacity) {
                           return readSome(in.get(), buffer, capacity, "cannot read " + name);
                       });
        struct stat after;
        char more;
        if (::fstat(in.get(), &after) != 0 || !sameFile(before, after) ||
            readSome(in.get(), &more, 1, "cannot read " + name) != 0)
            throw Failure(name + " changed while it was being packed");
        written_.insert(entryName(item.path));
    }

    // The entries of the archive that was there before, except those that
    // the folder has just given anew.
    void carryOver(Rar5Writer& writer) {
        ArchiveReader old(archivePath_);
        ArchiveEntry entry;
        while (old.next(entry)) {
            QByteArray name = entry.name;
            name.replace('\\', '/');
            while (name.endsWith('/'))
                name.chop(1);
            if (written_.contains(name))
                continue;
            if (entry.kind == ArchiveEntry::folder) {
                writer.addFolder(name, entry.mtime, entry.mode);
            } else if (entry.kind == ArchiveEntry::file && entry.sizeKnown) {
                writer.addFile(
                    name, entry.size, entry.mtime, entry.mode,
                    [&](char* buffer, std::size_t capacity) { return old.read(buffer, capacity); });
            } else {
                throw Failure("cannot carry over " + nameOf(name) + " from " + archivePath_);
            }
            written_.insert(name);
        }
        old.checkComplete();
    }

    void commit() {
        syncFd(temporary_.get(), "cannot write " + archivePath_);
        temporary_.close("cannot write " + archivePath_);
        if (::rename(encodePath(temporaryPath_).constData(),
                     encodePath(archivePath_).constData()) != 0)
            throw Failure(systemError("cannot create " + archivePath_));
        syncFolder(QFileInfo(archivePath_).absolutePath());
    }

    // Deletes what went into the archive: every file that is still the one
    // packed, then the emptied folders, deepest first.
    void deletePacked(Report& report) {
        for (const Item& item : items_) {
            if (item.folder)
                continue;
            struct stat now;
            if (!statAt(folder_.get(), item.path, now))
                continue;
            if (!sameFile(now, item.st))
                report.warning(nameOf(item.path) + " changed after it was packed and stays");
            else if (::unlinkat(folder_.get(), item.path.constData(), 0) != 0)
                report.error(systemError("cannot delete " + nameOf(item.path)));
        }
        for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
            if (item->folder &&
                ::unlinkat(folder_.get(), item->path.constData(), AT_REMOVEDIR) != 0)
                report.warning(systemError("folder " + nameOf(item->path) + " stays"));
        }
    }

    QString archivePath_;
    QString folderPath_;
    QByteArray prefix_;
    Fd folder_;
    struct stat folderStat_ {};
    Fd temporary_;
    QString temporaryPath_;
    struct stat temporaryStat_ {};
    bool existing_ = false;
    struct stat existingStat_ {};
    std::vector<Item> items_;
    QSet<QByteArray> written_;
};

} // namespace

int pack(const QString& archivePath, const QString& folder) {
    Report report;
    try {
        Packing packing(archivePath, fw::hostPath(folder), entryPrefix(folder));
        packing.run(report);
    } catch (const Failure& failure) {
        report.error(failure.message() + "; nothing was deleted");
    }
    return report.exitCode();
}

QByteArray entryPrefix(const QString& windowsFolder) {
    static const QRegularExpression drive("^[A-Za-z]:");
    QString path = windowsFolder;
    path.remove(drive);
    path.replace('\\', '/');
    QStringList parts;
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        if (part == "..")
            throw Failure("folder " + windowsFolder + " climbs with ..");
        if (part != ".")
            parts.append(part);
    }
    return parts.join('/').toUtf8();
}

} // namespace rar
