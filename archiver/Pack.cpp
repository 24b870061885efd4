#include "archiver/Pack.h"

#include "archiver/ArchiveReader.h"
#include "archiver/Posix.h"
#include "archiver/Rar5Writer.h"
#include "archiver/Report.h"

#include "framework/core/Gbk.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rar {

namespace {

// A file or folder found below the work folder.
struct Item {
    QByteArray path; // below the folder as the file system names it, "/" between parts
    QByteArray name; // the same path as the archive names it, in UTF-8
    bool folder;
    struct stat st;
};

// What an archive's temporaries are called: the archive's name, this mark and
// six letters or digits.
const QByteArray partialMark = ".partial-";
constexpr qsizetype partialRandom = 6;

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

bool isUtf8(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// `name` made different from every name in `taken`: "报告 (2).doc".
QByteArray uniqueName(const QByteArray& name, const QSet<QByteArray>& taken) {
    if (!taken.contains(name))
        return name;
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    for (int n = 2;; ++n) {
        const QByteArray candidate = stem + " (" + QByteArray::number(n) + ")" + extension;
        if (!taken.contains(candidate))
            return candidate;
    }
}

// The names of one folder's entries in the archive. A name that is UTF-8 is
// kept; any other is read as code page 936 (the programs' code page, with the
// bytes that are not even that replaced), so one odd name never stops a
// hand-in; a name read so that meets another of the folder gets a number.
std::vector<QByteArray> archiveNames(const std::vector<QByteArray>& names) {
    QSet<QByteArray> taken;
    for (const QByteArray& name : names)
        if (isUtf8(name))
            taken.insert(name);
    std::vector<QByteArray> out;
    out.reserve(names.size());
    for (const QByteArray& name : names) {
        if (isUtf8(name)) {
            out.push_back(name);
            continue;
        }
        out.push_back(uniqueName(fw::fromGbk(name).toUtf8(), taken));
        taken.insert(out.back());
    }
    return out;
}

std::vector<QByteArray> namesIn(int dirFd, const QString& shown) {
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        throw Failure(systemError("cannot list folder " + shown));
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
        throw Failure(systemError("cannot list folder " + shown, error));
    std::sort(names.begin(), names.end());
    return names;
}

// Whether `name` in the folder `dirFd` is a temporary that a run packing into
// the archive `archiveName` left behind: named so, a plain file of ours, not
// locked by a run that is still writing it, and holding nothing but the
// beginning of a RAR 5.0 archive.
bool isLeftover(int dirFd, const QByteArray& name, const QByteArray& archiveName) {
    const QByteArray prefix = archiveName + partialMark;
    if (name.size() != prefix.size() + partialRandom || !name.startsWith(prefix))
        return false;
    for (char c : name.mid(prefix.size()))
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    const Fd file(
        ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    char head[rar5SignatureSize];
    const ssize_t got = ::pread(file.get(), head, sizeof head, 0);
    if (got < 0 || std::memcmp(head, rar5Signature, std::size_t(got)) != 0)
        return false;
    struct stat now;
    return ::fstatat(dirFd, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(now, st);
}

class Packing {
public:
    Packing(const NamedPath& archive, const NamedPath& folder, const QByteArray& prefix)
        : archive_(archive), folderPath_(folder), prefix_(prefix) {}

    void run(Report& report) {
        openFolder();
        removeLeftovers();
        createTemporary();
        try {
            walk(folder_.get(), QByteArray(), QByteArray(), report);
            write();
            commit();
        } catch (...) {
            ::unlink(temporaryPath_.constData());
            throw;
        }
        deletePacked(report);
    }

private:
    QString shown(const QByteArray& name) const { return folderPath_.shownBelow(name); }

    void openFolder() {
        folder_ = Fd(
            ::open(encodePath(folderPath_.host).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder_.valid())
            throw Failure(systemError("cannot open folder " + folderPath_.shown));
        if (::fstat(folder_.get(), &folderStat_) != 0)
            throw Failure(systemError("cannot look at folder " + folderPath_.shown));
    }

    // A run that was killed leaves its temporary beside the archive; the next
    // run into the same archive takes it away.
    void removeLeftovers() {
        const QByteArray host = encodePath(archive_.host);
        const qsizetype slash = host.lastIndexOf('/');
        const QByteArray folder = slash < 0    ? QByteArray(".")
                                  : slash == 0 ? QByteArray("/")
                                               : host.left(slash);
        const QByteArray archiveName = host.mid(slash + 1);
        const Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir.valid())
            return; // creating the temporary tells why
        std::vector<QByteArray> names;
        try {
            names = namesIn(dir.get(), QString());
        } catch (const Failure&) {
            return; // a folder we may write but not list: nothing to find
        }
        for (const QByteArray& name : names)
            if (isLeftover(dir.get(), name, archiveName))
                ::unlinkat(dir.get(), name.constData(), 0);
    }

    void createTemporary() {
        QByteArray name = encodePath(archive_.host) + partialMark + QByteArray(partialRandom, 'X');
        temporary_ = Fd(::mkostemp(name.data(), O_CLOEXEC));
        if (!temporary_.valid())
            throw Failure(systemError("cannot create " + archive_.shown));
        temporaryPath_ = name;
        // Locked while this run writes it, so that another run's clean-up
        // leaves it alone.
        if (::flock(temporary_.get(), LOCK_EX | LOCK_NB) != 0 ||
            ::fchmod(temporary_.get(), 0666 & ~currentUmask()) != 0 ||
            ::fstat(temporary_.get(), &temporaryStat_) != 0) {
            const QString message = systemError("cannot create " + archive_.shown);
            ::unlink(name.constData());
            throw Failure(message);
        }
        struct stat st;
        existing_ = statAt(AT_FDCWD, encodePath(archive_.host), st, archive_.shown);
        if (existing_)
            existingStat_ = st;
    }

    bool isOurArchive(const struct stat& st) const {
        return sameInode(st, temporaryStat_) || (existing_ && sameInode(st, existingStat_));
    }

    void walk(int dirFd, const QByteArray& below, const QByteArray& belowName, Report& report) {
        const std::vector<QByteArray> names = namesIn(dirFd, shown(belowName));
        const std::vector<QByteArray> entryNames = archiveNames(names);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const QByteArray& raw = names[i];
            const QByteArray path = below.isEmpty() ? raw : below + '/' + raw;
            const QByteArray name =
                belowName.isEmpty() ? entryNames[i] : belowName + '/' + entryNames[i];
            struct stat st;
            if (!statAt(dirFd, raw, st, shown(name)) || isOurArchive(st))
                continue; // gone meanwhile: neither packed nor deleted
            if (S_ISDIR(st.st_mode)) {
                items_.push_back({path, name, true, st});
                Fd sub(::openat(dirFd, raw.constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (!sub.valid())
                    throw Failure(systemError("cannot open folder " + shown(name)));
                walk(sub.get(), path, name, report);
            } else if (S_ISREG(st.st_mode)) {
                items_.push_back({path, name, false, st});
            } else {
                report.warning("skipped " + shown(name) + ": links and special files stay");
            }
        }
    }

    QByteArray entryName(const QByteArray& name) const {
        return prefix_.isEmpty() ? name : prefix_ + '/' + name;
    }

    void write() {
        Rar5Writer writer(temporary_.get(), archive_.shown);
        writer.begin();
        if (!prefix_.isEmpty())
            addFolder(writer, prefix_, folderStat_);
        for (const Item& item : items_) {
            if (item.folder)
                addFolder(writer, entryName(item.name), item.st);
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
        const QString name = shown(item.name);
        Fd in(::openat(folder_.get(), item.path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.valid())
            throw Failure(systemError("cannot read " + name));
        struct stat before;
        if (::fstat(in.get(), &before) != 0 || !sameFile(before, item.st))
            throw Failure(name + " changed while it was being packed");
        writer.addFile(entryName(item.name), std::uint64_t(before.st_size), before.st_mtim.tv_sec,
                       entryMode(before), [&](char* buffer, std::size_t capacity) {
                           return readSome(in.get(), buffer, capacity, "cannot read " + name);
                       });
        struct stat after;
        char more;
        if (::fstat(in.get(), &after) != 0 || !sameFile(before, after) ||
            readSome(in.get(), &more, 1, "cannot read " + name) != 0)
            throw Failure(name + " changed while it was being packed");
        written_.insert(entryName(item.name));
    }

    // The entries of the archive that was there before, except those that
    // the folder has just given anew.
    void carryOver(Rar5Writer& writer) {
        ArchiveReader old(archive_.host, archive_.shown);
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
                throw Failure("cannot carry over " + QString::fromUtf8(name) + " from " +
                              archive_.shown);
            }
            written_.insert(name);
        }
        old.checkComplete();
    }

    void commit() {
        syncFd(temporary_.get(), "cannot write " + archive_.shown);
        temporary_.close("cannot write " + archive_.shown);
        if (::rename(temporaryPath_.constData(), encodePath(archive_.host).constData()) != 0)
            throw Failure(systemError("cannot create " + archive_.shown));
        syncFolder(QFileInfo(archive_.host).absolutePath());
    }

    // Deletes what went into the archive: every file that is still the one
    // packed, then the emptied folders, deepest first.
    void deletePacked(Report& report) {
        for (const Item& item : items_) {
            if (item.folder)
                continue;
            struct stat now;
            if (!statAt(folder_.get(), item.path, now, shown(item.name)))
                continue;
            if (!sameFile(now, item.st))
                report.warning(shown(item.name) + " changed after it was packed and stays");
            else if (::unlinkat(folder_.get(), item.path.constData(), 0) != 0)
                report.error(systemError("cannot delete " + shown(item.name)));
        }
        for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
            if (item->folder &&
                ::unlinkat(folder_.get(), item->path.constData(), AT_REMOVEDIR) != 0)
                report.warning(systemError("folder " + shown(item->name) + " stays"));
        }
    }

    NamedPath archive_;
    NamedPath folderPath_;
    QByteArray prefix_;
    Fd folder_;
    struct stat folderStat_ {};
    Fd temporary_;
    QByteArray temporaryPath_;
    struct stat temporaryStat_ {};
    bool existing_ = false;
    struct stat existingStat_ {};
    std::vector<Item> items_;
    QSet<QByteArray> written_;
};

} // namespace

int pack(const QString& archive, const QString& folder) {
    Report report;
    try {
        Packing packing(NamedPath::given(archive), NamedPath::given(folder), entryPrefix(folder));
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
