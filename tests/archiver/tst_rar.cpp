#include "archiver/Rar5Writer.h"
#include "framework/core/Gbk.h"
#include "tests/archiver/Rar5Archive.h"
#include "tests/support/FileTree.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run {
    int code = -1;
    QString err;
};

// A RAR 1.5-4.x archive built by hand: stored entries only.
class Rar4Archive {
public:
    enum Host : quint8 { msdos = 0, os2 = 1, win32 = 2, unixHost = 3 };

    // Names in the OEM code page of a Chinese Windows: 936.
    void addFolder(const QString& name) { add(fw::toGbk(name), {}, 0x00e0, win32, 0x10); }
    void addFile(const QString& name, const QByteArray& data) {
        add(fw::toGbk(name), data, 0, win32, 0x20);
    }
    // A name's bytes as a system of the given kind stored them.
    void addRawFile(const QByteArray& name, const QByteArray& data, Host host) {
        add(name, data, 0, host, host == unixHost ? 0100644 : 0x20);
    }
    // The name twice: as "oem" bytes and in RAR's Unicode encoding.
    void addUnicodeFile(const QString& name, const QByteArray& data, Host host = win32) {
        QByteArray field = "_.txt";
        field.append('\0');
        field.append('\0'); // high byte, unused: every character below has both bytes
        const QList<char16_t> units(name.utf16(), name.utf16() + name.size());
        for (qsizetype i = 0; i < units.size(); ++i) {
            if (i % 4 == 0)
                field.append(char(0xaa)); // four characters of two bytes each
            field.append(char(units[i] & 0xff));
            field.append(char(units[i] >> 8));
        }
        add(field, data, 0x0200, host, host == unixHost ? 0100644 : 0x20);
    }
    void addUnixSymlink(const QString& name, const QByteArray& target) {
        add(fw::toGbk(name), target, 0, unixHost, 0120777);
    }
    // The archive's lock attribute: it may not be changed any more.
    void lock() { mainFlags_ = 0x0004; }

    QByteArray bytes() const {
        QByteArray out("Rar!\x1a\x07\x00", 7);
        out += block(0x73, mainFlags_, QByteArray(6, '\0'));
        out += body_;
        out += block(0x7b, 0x4000, {});
        return out;
    }

private:
    static void le(QByteArray& out, quint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((value >> (8 * i)) & 0xff));
    }
    static QByteArray block(quint8 type, quint16 flags, const QByteArray& fields) {
        QByteArray head;
        head.append(char(type));
        le(head, flags, 2);
        le(head, quint64(7 + fields.size()), 2);
        head += fields;
        QByteArray out;
        le(out, rar::crc32(0, head.constData(), std::size_t(head.size())) & 0xffff, 2);
        return out + head;
    }
    void add(const QByteArray& name, const QByteArray& data, quint16 flags, Host host,
             quint32 attr) {
        QByteArray fields;
        le(fields, quint64(data.size()), 4); // packed
        le(fields, quint64(data.size()), 4); // unpacked
        fields.append(char(host));
        le(fields, rar::crc32(0, data.constData(), std::size_t(data.size())), 4);
        le(fields, (quint32(2020 - 1980) << 25) | (3u << 21) | (14u << 16) | (9u << 11), 4);
        fields.append(char(20));   // version needed: 2.0
        fields.append(char(0x30)); // stored
        le(fields, quint64(name.size()), 2);
        le(fields, attr, 4);
        fields += name;
        body_ += block(0x74, quint16(0x8000 | flags), fields) + data;
    }

    QByteArray body_;
    quint16 mainFlags_ = 0;
};

// Writes a file under a name given as the bytes the file system takes.
void writeRaw(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), std::size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

int modeOf(const QString& path) {
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestRar : public QObject {
    Q_OBJECT

    QTemporaryDir* scratch_ = nullptr;

    QString drive(char letter) const { return scratch_->filePath(QString("drive-") + letter); }

    QString rarProgram() const { return qEnvironmentVariable("MORVEL_CLIENT_BIN_DIR") + "/rar"; }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (char letter : {'d', 'e', 'f', 'g'})
            env.insert(QString("MORVEL_DRIVE_") + char(std::toupper(letter)), drive(letter));
        return env;
    }

    // Runs rar with a parameter string split at blanks.
    Run rar(const QString& parameters) { return rar(parameters.split(' ', Qt::SkipEmptyParts)); }

    Run rar(const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(rarProgram(), arguments);
        Run run;
        if (!process.waitForStarted() || !process.waitForFinished(120000))
            return run;
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    Run pack(const QString& drive, const QString& workDir) {
        return rar("a -df " + drive + "\\考生文件夹 " + workDir);
    }
    Run unpack(const QString& drive) { return rar("x -o- " + drive + "\\tmp.rar " + drive + "\\"); }

    static QStringList listWith(const QString& reader, const QString& archive) {
        QProcess process;
        if (reader == "lsar")
            process.start("lsar", {archive});
        else
            process.start("bsdtar", {"-t", "-f", archive});
        process.waitForFinished(60000);
        QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
        if (reader == "lsar")
            lines.removeFirst(); // "x.rar: RAR 5"
        for (QString& line : lines)
            if (line.endsWith('/'))
                line.chop(1);
        lines.removeAll(QString());
        lines.sort();
        return lines;
    }

    static Tree sampleWork() {
        Tree tree;
        tree["文档.txt"] = "第一题的答案\r\n";
        tree["空文件.doc"] = "";
        tree["子目录"] = folderMark;
        tree["子目录/表格.xls"] = randomBytes(70000);
        tree["子目录/空"] = folderMark;
        tree["子目录/更深/a b.txt"] = "blank in the name";
        tree["子目录/更深"] = folderMark;
        return tree;
    }

private slots:
    void init() {
        scratch_ = new QTemporaryDir;
        QVERIFY(scratch_->isValid());
        for (char letter : {'d', 'e', 'f', 'g'})
            QDir().mkpath(drive(letter));
    }
    void cleanup() {
        delete scratch_;
        scratch_ = nullptr;
    }

    void roundTrip_data() {
        QTest::addColumn<Tree>("work");
        QTest::newRow("chinese names, nested and empty folders") << sampleWork();
        QTest::newRow("empty work folder") << Tree();
        Tree empties;
        empties["a"] = "";
        empties["空/b"] = "";
        empties["空"] = folderMark;
        QTest::newRow("empty files") << empties;
        Tree big;
        big["大文件.bin"] = randomBytes(6 * 1024 * 1024 + 123);
        big["小.txt"] = "x";
        QTest::newRow("file of several MB") << big;
    }
    void roundTrip() {
        QFETCH(Tree, work);
        const QString workDir = drive('e') + "/考生文件夹";
        writeTree(workDir, work);

        const Run run = pack("e:", "e:\\考生文件夹");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QVERIFY2(QFileInfo(workDir).isDir(), "the work folder itself stays");
        QCOMPARE(treeOf(workDir), Tree());
        const QString archive = drive('e') + "/考生文件夹.rar";
        QVERIFY(QFileInfo::exists(archive));
        QCOMPARE(QDir(drive('e')).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"考生文件夹", "考生文件夹.rar"}));

        // Our own extraction into the root of a fresh drive gives the folder back.
        QFile::copy(archive, drive('f') + "/tmp.rar");
        const Run back = unpack("f:");
        QCOMPARE(back.err, QString());
        QCOMPARE(back.code, 0);
        QCOMPARE(treeOf(drive('f') + "/考生文件夹"), work);

        for (const QString reader : {"unar", "bsdtar"}) {
            const QString dest = scratch_->filePath(reader);
            QVERIFY2(extractWith(reader, archive, dest), qPrintable(reader));
            QCOMPARE(treeOf(dest + "/考生文件夹"), work);
        }
    }

    void listedByIndependentReaders_data() {
        QTest::addColumn<QString>("reader");
        QTest::newRow("lsar") << "lsar";
        QTest::newRow("bsdtar") << "bsdtar";
    }
    void listedByIndependentReaders() {
        QFETCH(QString, reader);
        writeTree(drive('e') + "/考生文件夹", sampleWork());
        QCOMPARE(pack("e:", "e:\\考生文件夹").code, 0);
        QStringList expected{"考生文件夹"};
        for (const QString& path : sampleWork().keys())
            expected << "考生文件夹/" + path;
        expected.sort();
        QCOMPARE(listWith(reader, drive('e') + "/考生文件夹.rar"), expected);
    }

    void independentReadersCheckCrcs() {
        writeTree(drive('e') + "/考生文件夹", sampleWork());
        QCOMPARE(pack("e:", "e:\\考生文件夹").code, 0);
        QProcess lsar;
        lsar.start("lsar", {"-t", drive('e') + "/考生文件夹.rar"});
        QVERIFY(lsar.waitForFinished());
        const QString out = QString::fromUtf8(lsar.readAllStandardOutput());
        QCOMPARE(lsar.exitCode(), 0);
        QVERIFY2(out.contains("8 passed, 0 failed"), qPrintable(out)); // 4 folders, 4 files
    }

    void modificationTimesKept() {
        const QString file = drive('e') + "/考生文件夹/文档.txt";
        writeFile(file, "answer");
        const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1700000000);
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
        }
        QCOMPARE(pack("e:", "e:\\考生文件夹").code, 0);
        QFile::copy(drive('e') + "/考生文件夹.rar", drive('f') + "/tmp.rar");
        QCOMPARE(unpack("f:").code, 0);
        QCOMPARE(QFileInfo(drive('f') + "/考生文件夹/文档.txt").lastModified(), stamp);
        QVERIFY(extractWith("bsdtar", drive('e') + "/考生文件夹.rar", scratch_->filePath("b")));
        QCOMPARE(QFileInfo(scratch_->filePath("b/考生文件夹/文档.txt")).lastModified(), stamp);
    }

    void workFolderDeeperOnOtherDrive() {
        writeTree(drive('d') + "/exam/考生文件夹", sampleWork());
        const Run run = pack("d:", "d:\\exam\\考生文件夹");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QVERIFY(QFileInfo::exists(drive('d') + "/考生文件夹.rar"));
        QCOMPARE(treeOf(drive('d') + "/exam"), Tree({{"考生文件夹", folderMark}}));

        QFile::copy(drive('d') + "/考生文件夹.rar", drive('g') + "/tmp.rar");
        QCOMPARE(unpack("g:").code, 0);
        QCOMPARE(treeOf(drive('g') + "/exam/考生文件夹"), sampleWork());
    }

    void driveRootAsWorkFolder() {
        writeTree(drive('e'), sampleWork());
        const Run run = pack("e:", "e:\\");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QVERIFY(QFileInfo(drive('e')).isDir());
        QCOMPARE(treeOf(drive('e')).keys(), QStringList{"考生文件夹.rar"});
        const QString archive = drive('e') + "/考生文件夹.rar";
        QStringList expected = sampleWork().keys();
        expected.sort();
        QCOMPARE(listWith("bsdtar", archive), expected);
        QVERIFY(extractWith("unar", archive, scratch_->filePath("u")));
        QCOMPARE(treeOf(scratch_->filePath("u")), sampleWork());
    }

    void archiveInsideWorkFolderIsNotPackedIntoItself() {
        writeTree(drive('e') + "/w", sampleWork());
        const Run run = rar("a -df e:\\w\\out e:\\w");
        QCOMPARE(run.code, 0);
        QCOMPARE(treeOf(drive('e') + "/w").keys(), QStringList{"out.rar"});
        QVERIFY(extractWith("bsdtar", drive('e') + "/w/out.rar", scratch_->filePath("b")));
        QCOMPARE(treeOf(scratch_->filePath("b/w")), sampleWork());
    }

    void existingArchiveKeepsItsEntries() {
        writeTree(drive('e') + "/考生文件夹", {{"old.txt", "earlier"}, {"same.txt", "old"}});
        QCOMPARE(pack("e:", "e:\\考生文件夹").code, 0);
        writeTree(drive('e') + "/考生文件夹", {{"new.txt", "later"}, {"same.txt", "new"}});
        const Run run = pack("e:", "e:\\考生文件夹");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QVERIFY(extractWith("unar", drive('e') + "/考生文件夹.rar", scratch_->filePath("u")));
        QCOMPARE(treeOf(scratch_->filePath("u/考生文件夹")),
                 Tree({{"old.txt", "earlier"}, {"new.txt", "later"}, {"same.txt", "new"}}));
    }

    void clientCommandLines() {
        // The template the client writes to the root, unpacked and packed with
        // exactly the client's parameter strings.
        makeTemplate(sampleWork());

        const Run x = rar(QString("x -o- ") + "e:" + "\\tmp.rar " + "e:\\");
        QCOMPARE(x.err, QString());
        QCOMPARE(x.code, 0);
        QCOMPARE(treeOf(drive('e') + "/考生文件夹"), sampleWork());

        const Run a = rar(QString("a -df ") + "e:" + "\\考生文件夹 " + "e:\\考生文件夹");
        QCOMPARE(a.err, QString());
        QCOMPARE(a.code, 0);
        QVERIFY(extractWith("bsdtar", drive('e') + "/考生文件夹.rar", scratch_->filePath("b")));
        QCOMPARE(treeOf(scratch_->filePath("b/考生文件夹")), sampleWork());
    }

    void unpackKeepsChangedFiles() {
        makeTemplate(sampleWork());
        QCOMPARE(unpack("e:").code, 0);

        // The examinee's work, then a readmission: the template is unpacked again.
        const QString work = drive('e') + "/考生文件夹";
        writeFile(work + "/文档.txt", "changed by the examinee");
        QVERIFY(QFile::remove(work + "/子目录/表格.xls"));
        const Run again = unpack("e:");
        QCOMPARE(again.err, QString());
        QCOMPARE(again.code, 0);
        Tree expected = sampleWork();
        expected["文档.txt"] = "changed by the examinee";
        QCOMPARE(treeOf(work), expected);
    }

    // Whatever modes the template carries and whatever the mask takes away,
    // the examinee can read and change what was unpacked.
    void unpackedIsTheExamineesToChange_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("usual mask") << 022;
        QTest::newRow("mask taking the owner's rights") << 0277;
    }
    void unpackedIsTheExamineesToChange() {
        QFETCH(int, mask);
        writeFile(drive('e') + "/tmp.rar",
                  rar5Archive({{"考生文件夹", {}, 040500},
                               {"考生文件夹/无权限.txt", "none", 0100000},
                               {"考生文件夹/只读.txt", "read only", 0100444},
                               {"考生文件夹/子目录", {}, 040000},
                               {"考生文件夹/子目录/a.txt", "a", 0100400},
                               {"考生文件夹/隐含/b.txt", "folder without an entry", 0100644}}));
        const mode_t before = ::umask(mode_t(mask));
        const Run run = unpack("e:");
        ::umask(before);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);

        const QString work = drive('e') + "/考生文件夹";
        for (const QString file : {"无权限.txt", "只读.txt", "子目录/a.txt", "隐含/b.txt"})
            QCOMPARE(modeOf(work + "/" + file), (0666 & ~mask) | 0600);
        for (const QString folder : {"", "/子目录", "/隐含"})
            QCOMPARE(modeOf(work + folder), (0777 & ~mask) | 0700);
        writeFile(work + "/只读.txt", "changed");
        writeFile(work + "/子目录/new.txt", "added");
    }

    void pathsWithBlanksAsOneArgument() {
        writeTree(drive('e') + "/my work", sampleWork());
        const Run a = rar(QStringList{"a", "-df", "e:\\my work", "e:\\my work"});
        QCOMPARE(a.err, QString());
        QCOMPARE(a.code, 0);
        QCOMPARE(treeOf(drive('e') + "/my work"), Tree());
        const Run x = rar(QStringList{"x", "-o-", "e:\\my work.rar", "f:\\"});
        QCOMPARE(x.err, QString());
        QCOMPARE(x.code, 0);
        QCOMPARE(treeOf(drive('f') + "/my work"), sampleWork());
    }

    // A name that is not UTF-8 is packed as read in code page 936, or with
    // the bytes that are not even that replaced; a name read so never takes
    // the place of another; every such file is deleted as any other.
    void namesThatAreNotUtf8() {
        const QString work = drive('e') + "/考生文件夹";
        writeTree(work, {{"文档.txt", "utf-8 name"}});
        const QByteArray at = QFile::encodeName(work) + '/';
        writeRaw(at + fw::toGbk("成绩.xls"), "gbk name");
        writeRaw(at + fw::toGbk("文档.txt"), "gbk twin of a utf-8 name");
        writeRaw(at + "\xff\xfe.txt", "not even gbk");
        QCOMPARE(::mkdir((at + fw::toGbk("子目录")).constData(), 0777), 0);
        writeRaw(at + fw::toGbk("子目录") + '/' + fw::toGbk("报告.doc"), "in a gbk folder");

        const Run run = pack("e:", "e:\\考生文件夹");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                      QDir::System),
                 QStringList());

        const Tree expected{{"文档.txt", "utf-8 name"},
                            {"成绩.xls", "gbk name"},
                            {"文档 (2).txt", "gbk twin of a utf-8 name"},
                            {"\uFFFD\uFFFD.txt", "not even gbk"},
                            {"子目录", folderMark},
                            {"子目录/报告.doc", "in a gbk folder"}};
        QVERIFY(extractWith("bsdtar", drive('e') + "/考生文件夹.rar", scratch_->filePath("b")));
        QCOMPARE(treeOf(scratch_->filePath("b/考生文件夹")), expected);
        QFile::copy(drive('e') + "/考生文件夹.rar", drive('f') + "/tmp.rar");
        QCOMPARE(unpack("f:").code, 0);
        QCOMPARE(treeOf(drive('f') + "/考生文件夹"), expected);
    }

    void unsafeEntriesSkipped_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<quint32>("mode");
        QTest::newRow("parent") << QByteArray("../evil.txt") << quint32(0100644);
        QTest::newRow("parent inside") << QByteArray("a/../../evil.txt") << quint32(0100644);
        QTest::newRow("windows parent") << QByteArray("..\\evil.txt") << quint32(0100644);
        QTest::newRow("absolute") << QByteArray("<drive g>/evil.txt") << quint32(0100644);
        QTest::newRow("windows absolute") << QByteArray("\\evil.txt") << quint32(0100644);
        QTest::newRow("drive letter") << QByteArray("c:/evil.txt") << quint32(0100644);
        QTest::newRow("link") << QByteArray("evil.txt") << quint32(0120777);
    }
    void unsafeEntriesSkipped() {
        QFETCH(QByteArray, name);
        QFETCH(quint32, mode);
        name.replace("<drive g>", QFile::encodeName(drive('g')));
        writeFile(drive('e') + "/tmp.rar", rar5Archive({{"考生文件夹/ok.txt", "fine"},
                                                        {name, "../../g/evil.txt", mode},
                                                        {"考生文件夹/after.txt", "fine too"}}));
        // Aim into drive g from inside e's folders.
        QDir().mkpath(drive('e') + "/考生文件夹/a");
        const Run run = unpack("e:");
        QVERIFY2(run.code != 0, qPrintable(run.err));
        QVERIFY2(run.err.contains("skipped " + QString::fromUtf8(name)), qPrintable(run.err));
        QCOMPARE(treeOf(drive('e')).keys(),
                 QStringList({"tmp.rar", "考生文件夹", "考生文件夹/a", "考生文件夹/after.txt",
                              "考生文件夹/ok.txt"}));
        QCOMPARE(treeOf(drive('g')), Tree());
        QCOMPARE(treeOf(scratch_->path()).keys().filter("evil"), QStringList());
    }

    void linkInDestinationNotFollowed() {
        writeFile(drive('e') + "/tmp.rar", rar5Archive({{"考生文件夹/x.txt", "data"}}));
        QVERIFY(QFile::link(drive('g'), drive('e') + "/考生文件夹"));
        const Run run = unpack("e:");
        QVERIFY(run.code != 0);
        QVERIFY2(run.err.contains("e:\\考生文件夹\\x.txt: cannot enter folder e:\\考生文件夹"),
                 qPrintable(run.err));
        QCOMPARE(treeOf(drive('g')), Tree());
    }

    void rar4Archive() {
        Rar4Archive archive;
        archive.addFolder("考生文件夹");
        archive.addFolder("考生文件夹\\sub");
        archive.addFile("考生文件夹\\sub\\plain.txt", "ascii name");
        archive.addFile("考生文件夹\\文档.txt", "oem name in code page 936");
        archive.addUnicodeFile("考生文件夹\\表格.xls", randomBytes(5000));
        archive.addFile("考生文件夹\\empty", "");
        archive.addUnixSymlink("考生文件夹\\link", "/etc/passwd");
        writeFile(drive('e') + "/tmp.rar", archive.bytes());

        const Run run = unpack("e:");
        QVERIFY2(run.err.contains("skipped 考生文件夹/link"), qPrintable(run.err));
        QCOMPARE(run.code, 1);
        QCOMPARE(treeOf(drive('e') + "/考生文件夹"),
                 Tree({{"sub", folderMark},
                       {"sub/plain.txt", "ascii name"},
                       {"文档.txt", "oem name in code page 936"},
                       {"表格.xls", randomBytes(5000)},
                       {"empty", ""}}));
    }

    // Code page 936 characters whose second byte is the byte of "\".
    void rar4OemNameWithBackslashByte_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << "深淺‐禱.txt";
        QTest::newRow("in a folder") << "祈禱/a.txt";
    }
    void rar4OemNameWithBackslashByte() {
        QFETCH(QString, name);
        QVERIFY(fw::toGbk(name).contains('\\'));
        Rar4Archive archive;
        archive.addFile("考生文件夹\\" + QString(name).replace('/', '\\'), "kept");
        archive.addFile("考生文件夹\\after.txt", "after");
        writeFile(drive('e') + "/tmp.rar", archive.bytes());

        const Run run = unpack("e:");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        Tree expected{{name, "kept"}, {"after.txt", "after"}};
        if (name.contains('/'))
            expected[name.section('/', 0, 0)] = folderMark;
        QCOMPARE(treeOf(drive('e') + "/考生文件夹"), expected);
    }

    // A RAR 4 name without a Unicode field is read by the system that made
    // it: code page 936 from Windows, OS/2 and DOS, UTF-8 from Unix where it
    // is UTF-8; the Unicode field wins wherever it is.
    void rar4NamesByTheirSystem_data() {
        QTest::addColumn<int>("host");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("name");
        const QString name = "成绩 表.txt";
        QTest::newRow("windows") << int(Rar4Archive::win32) << fw::toGbk(name) << name;
        QTest::newRow("dos") << int(Rar4Archive::msdos) << fw::toGbk(name) << name;
        QTest::newRow("os/2") << int(Rar4Archive::os2) << fw::toGbk(name) << name;
        QTest::newRow("windows, bytes that are utf-8 too")
            << int(Rar4Archive::win32) << name.toUtf8() << fw::fromGbk(name.toUtf8());
        QTest::newRow("unix, utf-8") << int(Rar4Archive::unixHost) << name.toUtf8() << name;
        QTest::newRow("unix, not utf-8") << int(Rar4Archive::unixHost) << fw::toGbk(name) << name;
        QTest::newRow("unix, unicode field") << int(Rar4Archive::unixHost) << QByteArray() << name;
        QTest::newRow("windows, unicode field") << int(Rar4Archive::win32) << QByteArray() << name;
    }
    void rar4NamesByTheirSystem() {
        QFETCH(int, host);
        QFETCH(QByteArray, stored);
        QFETCH(QString, name);
        Rar4Archive archive;
        if (stored.isEmpty())
            archive.addUnicodeFile(name, "data", Rar4Archive::Host(host));
        else
            archive.addRawFile(stored, "data", Rar4Archive::Host(host));
        writeFile(drive('e') + "/tmp.rar", archive.bytes());

        const Run run = unpack("e:");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        Tree unpacked = treeOf(drive('e'));
        unpacked.remove("tmp.rar");
        QCOMPARE(unpacked, Tree({{name, "data"}}));
    }

    void damagedRar4_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("extracted");
        QTest::newRow("data byte flipped")
            << "flip" << false << "b.bin" << QStringList{"a.txt", "c.txt"};
        QTest::newRow("locked, data byte flipped")
            << "flip" << true << "b.bin" << QStringList{"a.txt", "c.txt"};
        QTest::newRow("truncated in a file's data")
            << "truncate" << false << "b.bin" << QStringList{"a.txt"};
        QTest::newRow("truncated in a header")
            << "truncate header" << false << "truncated" << QStringList{"a.txt", "b.bin"};
    }
    void damagedRar4() {
        QFETCH(QString, damage);
        QFETCH(bool, locked);
        QFETCH(QString, message);
        QFETCH(QStringList, extracted);
        const QByteArray big = randomBytes(100000);
        Rar4Archive archive;
        if (locked)
            archive.lock();
        archive.addFile("考生文件夹\\a.txt", "first");
        archive.addFile("考生文件夹\\b.bin", big);
        archive.addFile("考生文件夹\\c.txt", "third");
        QByteArray bytes = archive.bytes();
        const qsizetype middle = bytes.indexOf(big) + big.size() / 2;
        if (damage == "truncate")
            bytes.truncate(middle);
        else if (damage == "truncate header")
            bytes.truncate(bytes.indexOf(big) + big.size() + 3);
        else
            bytes[middle] = char(bytes[middle] ^ 0x55);
        writeFile(drive('e') + "/tmp.rar", bytes);

        const Run run = unpack("e:");
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(treeOf(drive('e') + "/考生文件夹").keys(), extracted);
    }

    void damagedArchives_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QStringList>("extracted");
        QTest::newRow("truncated in a file's data") << "truncate" << QStringList{"a.txt"};
        QTest::newRow("data byte flipped") << "flip" << QStringList{"a.txt", "c.txt"};
        QTest::newRow("empty") << "empty" << QStringList{};
        QTest::newRow("not an archive") << "garbage" << QStringList{};
        QTest::newRow("signature only") << "signature" << QStringList{};
    }
    void damagedArchives() {
        QFETCH(QString, damage);
        QFETCH(QStringList, extracted);
        const QByteArray big = randomBytes(1 << 20);
        makeTemplate({{"a.txt", "first"}, {"b.bin", big}, {"c.txt", "third"}});
        QByteArray bytes = readFile(drive('e') + "/tmp.rar");
        const qsizetype middle = bytes.indexOf(big) + big.size() / 2;
        if (damage == "truncate")
            bytes.truncate(middle);
        else if (damage == "flip")
            bytes[middle] = char(bytes[middle] ^ 0x55);
        else if (damage == "empty")
            bytes.clear();
        else if (damage == "garbage")
            bytes = randomBytes(4096);
        else
            bytes.truncate(8);
        writeFile(drive('e') + "/tmp.rar", bytes);

        const Run run = unpack("e:");
        QVERIFY2(run.code > 0, qPrintable(run.err)); // an exit code, not a crash
        QVERIFY(!run.err.isEmpty());
        QStringList files = treeOf(drive('e') + "/考生文件夹").keys();
        QCOMPARE(files, extracted);
    }

    void missingArchive() {
        const Run run = unpack("e:");
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains("tmp.rar"), qPrintable(run.err));
    }

    // What cannot be read stops the packing with a message that names it and
    // the cause, and deletes nothing.
    void unreadableDeletesNothing_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("permissions");
        QTest::addColumn<QString>("message");
        QTest::newRow("file") << "子目录/表格.xls" << 0200
                              << "cannot read e:\\考生文件夹\\子目录\\表格.xls: Permission denied";
        QTest::newRow("folder that cannot be read")
            << "子目录" << 0300 << "cannot open folder e:\\考生文件夹\\子目录: Permission denied";
        QTest::newRow("folder that cannot be searched")
            << "子目录" << 0600 << "cannot list folder e:\\考生文件夹\\子目录: Permission denied";
    }
    void unreadableDeletesNothing() {
        QFETCH(QString, path);
        QFETCH(int, permissions);
        QFETCH(QString, message);
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        const QString work = drive('e') + "/考生文件夹";
        writeTree(work, sampleWork());
        const QByteArray denied = QFile::encodeName(work + "/" + path);
        QCOMPARE(::chmod(denied.constData(), mode_t(permissions)), 0);
        const Run run = pack("e:", "e:\\考生文件夹");
        ::chmod(denied.constData(), permissions == 0200 ? 0600 : 0700);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(message + "; nothing was deleted"), qPrintable(run.err));
        QCOMPARE(treeOf(work), sampleWork());
        QCOMPARE(treeOf(drive('e')).keys().filter(".rar"), QStringList());
    }

    // A full drive: the message names the file that could not be written and
    // the cause, and nothing is lost or left half written.
    void fullDrive_data() {
        QTest::addColumn<bool>("packing");
        QTest::addColumn<QString>("message");
        QTest::newRow("packing") << true
                                 << "cannot write f:\\考生文件夹.rar: No space left on device; "
                                    "nothing was deleted";
        QTest::newRow("unpacking")
            << false << "f:\\考生文件夹\\大.bin: cannot write: No space left on device";
    }
    void fullDrive() {
        QFETCH(bool, packing);
        QFETCH(QString, message);
        const Tree work{{"a.txt", "small"}, {"大.bin", randomBytes(1 << 20)}};
        QStringList arguments;
        if (packing) {
            writeTree(drive('e') + "/考生文件夹", work);
            arguments = {"a", "-df", "f:\\考生文件夹", "e:\\考生文件夹"};
        } else {
            makeTemplate(work);
            arguments = {"x", "-o-", "e:\\tmp.rar", "f:\\"};
        }
        QStringList left;
        const Run run = rarOnSmallDrive('f', 256, arguments, left);
        if (run.code == noSmallDrive)
            QSKIP("no small file system can be mounted here");
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        if (packing) {
            QCOMPARE(treeOf(drive('e') + "/考生文件夹"), work);
            QCOMPARE(left, QStringList());
        } else {
            QCOMPARE(left, QStringList{"考生文件夹/a.txt"});
        }
    }

    // Packing that cannot be done leaves the drive as it was.
    void packRefused_data() {
        QTest::addColumn<Tree>("before");
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing work folder") << Tree() << "e:\\考生文件夹"
                                             << "考生文件夹";
        QTest::newRow("work folder climbs")
            << Tree({{"x", folderMark}, {"x/a.txt", "a"}}) << "e:\\考生文件夹\\..\\x"
            << "climbs";
        QTest::newRow("work folder is a file")
            << Tree({{"考生文件夹", "a file"}}) << "e:\\考生文件夹"
            << "Not a directory";
        QTest::newRow("earlier archive damaged")
            << Tree({{"考生文件夹", folderMark},
                     {"考生文件夹/a.txt", "a"},
                     {"考生文件夹.rar", QByteArray("Rar!\x1a\x07\x01\x00garbage", 15)}})
            << "e:\\考生文件夹"
            << "考生文件夹.rar";
    }
    void packRefused() {
        QFETCH(Tree, before);
        QFETCH(QString, workDir);
        QFETCH(QString, message);
        writeTree(drive('e'), before);
        const Run run = pack("e:", workDir);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY2(run.err.contains("nothing was deleted"), qPrintable(run.err));
        QCOMPARE(treeOf(drive('e')), before);
    }

    void linksInWorkFolderStay() {
        const QString work = drive('e') + "/考生文件夹";
        writeTree(work, {{"a.txt", "a"}});
        writeFile(drive('g') + "/outside.txt", "not the examinee's");
        QVERIFY(QFile::link(drive('g') + "/outside.txt", work + "/link.txt"));
        const Run run = pack("e:", "e:\\考生文件夹");
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains("link.txt"), qPrintable(run.err));
        QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{"link.txt"});
        QCOMPARE(readFile(drive('g') + "/outside.txt"), QByteArray("not the examinee's"));
        QCOMPARE(listWith("bsdtar", drive('e') + "/考生文件夹.rar"),
                 QStringList({"考生文件夹", "考生文件夹/a.txt"}));
    }

    // The packing is stopped at a step, a file is changed or removed, and the
    // packing goes on.
    void fileChangesMeanwhile_data() {
        QTest::addColumn<bool>("afterRename");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("changed while packing")
            << false << false << 2 << "e:\\考生文件夹\\z.txt changed while it was being packed";
        QTest::newRow("vanished while packing")
            << false << true << 2 << "cannot read e:\\考生文件夹\\z.txt: No such file or directory";
        QTest::newRow("changed after packing")
            << true << false << 1 << "e:\\考生文件夹\\z.txt changed after it was packed and stays";
    }
    void fileChangesMeanwhile() {
        QFETCH(bool, afterRename);
        QFETCH(bool, remove);
        QFETCH(int, code);
        QFETCH(QString, message);
        const QString work = drive('e') + "/考生文件夹";
        Tree tree{{"a.bin", randomBytes(32 << 20)}, {"z.txt", "original"}};
        writeTree(work, tree);

        FolderWatch watch(afterRename ? drive('e') : work, afterRename ? IN_MOVED_TO : IN_OPEN);
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(rarProgram(), {"a", "-df", "e:\\考生文件夹", "e:\\考生文件夹"});
        QVERIFY(process.waitForStarted());
        QVERIFY(watch.waitFor(afterRename ? QByteArray() : QByteArray("a.bin")));
        ::kill(pid_t(process.processId()), SIGSTOP);
        // The stop lands a moment after the rename: when the deletions have
        // already passed z.txt, the new z.txt is simply a file rar never saw.
        // Either way nothing may be lost (checked below).
        if (afterRename && !QFile::exists(work + "/z.txt")) {
            code = 0;
            message.clear();
        }
        if (remove) {
            QVERIFY(QFile::remove(work + "/z.txt"));
            tree.remove("z.txt");
        } else {
            writeFile(work + "/z.txt", "changed meanwhile");
        }
        ::kill(pid_t(process.processId()), SIGCONT);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), code);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));

        const QString archive = drive('e') + "/考生文件夹.rar";
        if (afterRename) {
            QCOMPARE(treeOf(work), Tree({{"z.txt", "changed meanwhile"}}));
            QVERIFY(extractWith("bsdtar", archive, scratch_->filePath("b")));
            QCOMPARE(treeOf(scratch_->filePath("b/考生文件夹")), tree);
        } else {
            if (!remove)
                tree["z.txt"] = "changed meanwhile";
            QCOMPARE(treeOf(work), tree);
            QCOMPARE(treeOf(drive('e')).keys().filter(".rar"), QStringList());
        }
    }

    // A kill at the moment the archive has been renamed into place, and at the
    // first deletion of a packed file.
    void killAtAStep_data() {
        QTest::addColumn<bool>("atDeletion");
        QTest::newRow("archive in place") << false;
        QTest::newRow("first file deleted") << true;
    }
    void killAtAStep() {
        QFETCH(bool, atDeletion);
        const QString work = drive('e') + "/考生文件夹";
        Tree tree;
        for (int i = 0; i < 600; ++i)
            tree[QString("f%1.txt").arg(i, 3, 10, QChar('0'))] = randomBytes(100 + i);
        writeTree(work, tree);

        FolderWatch watch(atDeletion ? work : drive('e'), atDeletion ? IN_DELETE : IN_MOVED_TO);
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(rarProgram(), {"a", "-df", "e:\\考生文件夹", "e:\\考生文件夹"});
        QVERIFY(process.waitForStarted());
        QVERIFY(watch.waitFor());
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();

        QVERIFY(QFileInfo::exists(drive('e') + "/考生文件夹.rar"));
        if (atDeletion)
            QVERIFY(treeOf(work).size() < tree.size());
        checkNothingLost(tree);
    }

    void killAtAnyMoment_data() {
        QTest::addColumn<int>("delayMs");
        for (int delay : {0, 5, 10, 15, 20, 25, 30, 35, 40, 60})
            QTest::newRow(qPrintable(QString("%1 ms").arg(delay))) << delay;
    }
    void killAtAnyMoment() {
        QFETCH(int, delayMs);
        Tree tree;
        tree["大.bin"] = randomBytes(8 << 20);
        for (int i = 0; i < 200; ++i)
            tree[QString("子/f%1").arg(i)] = randomBytes(50 + i);
        writeTree(drive('e') + "/考生文件夹", tree);
        tree["子"] = folderMark;

        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(rarProgram(), {"a", "-df", "e:\\考生文件夹", "e:\\考生文件夹"});
        QVERIFY(process.waitForStarted());
        QTest::qSleep(delayMs);
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();

        checkNothingLost(tree);
    }

    // An extraction killed in the middle of a file leaves no part of it: a
    // file is there whole or not at all, and the next run completes the rest.
    void killedExtractionLeavesNoHalfFile() {
        const Tree tree{{"a.txt", "first"}, {"大.bin", randomBytes(48 << 20)}, {"z.txt", "last"}};
        makeTemplate(tree);
        const QString work = drive('e') + "/考生文件夹";
        QVERIFY(QDir().mkpath(work));
        FolderWatch watch(work, IN_CREATE);
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(rarProgram(), {"x", "-o-", "e:\\tmp.rar", "e:\\"});
        QVERIFY(process.waitForStarted());
        QVERIFY(watch.waitFor("a.txt"));
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();

        const Tree left = treeOf(work);
        for (auto it = left.begin(); it != left.end(); ++it)
            QCOMPARE(it.value(), tree.value(it.key()));
        QCOMPARE(unpack("e:").code, 0);
        QCOMPARE(treeOf(work), tree);
    }

    // A run killed while it writes leaves its temporary beside the archive;
    // the next run into that archive takes it away and packs everything.
    void killedRunsTemporaryGoesWithTheNextRun() {
        const QString work = drive('e') + "/考生文件夹";
        const Tree tree{{"a.bin", randomBytes(32 << 20)}, {"z.txt", "last"}};
        writeTree(work, tree);
        FolderWatch watch(work, IN_OPEN);
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(rarProgram(), {"a", "-df", "e:\\考生文件夹", "e:\\考生文件夹"});
        QVERIFY(process.waitForStarted());
        QVERIFY(watch.waitFor("a.bin"));
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished();
        QCOMPARE(QDir(drive('e')).entryList({"考生文件夹.rar.partial-*"}, QDir::Files).size(), 1);
        QCOMPARE(treeOf(work), tree);

        const Run run = pack("e:", "e:\\考生文件夹");
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QCOMPARE(QDir(drive('e')).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"考生文件夹", "考生文件夹.rar"}));
        QVERIFY(extractWith("bsdtar", drive('e') + "/考生文件夹.rar", scratch_->filePath("b")));
        QCOMPARE(treeOf(scratch_->filePath("b/考生文件夹")), tree);
    }

    // The clean-up takes only what a run into the same archive left: named
    // so, a plain file, no run holding it, the beginning of an archive.
    void onlyItsOwnTemporariesGo() {
        writeTree(drive('e') + "/考生文件夹", {{"a.txt", "a"}});
        const QByteArray begun("Rar!\x1a\x07\x01\x00 and what a killed run wrote", 40);
        const Tree others{{"考生文件夹.rar.partial-abc", begun},
                          {"考生文件夹.rar.partial-abc-de", begun},
                          {"考生文件夹.rar.partial-Notrar", "an examinee's own file"},
                          {"其他.rar.partial-Xy12Z9", begun},
                          {"考生文件夹.rar.partial-Folder", folderMark},
                          {"考生文件夹.rar.partial-Locked", begun}};
        writeTree(drive('e'), others);
        const QString e = drive('e') + "/";
        QVERIFY(QFile::link(e + "其他.rar.partial-Xy12Z9", e + "考生文件夹.rar.partial-Linked"));
        writeFile(e + "考生文件夹.rar.partial-Left01", begun);
        writeFile(e + "考生文件夹.rar.partial-Empty0", "");
        writeFile(e + "考生文件夹.rar.partial-Sig123", "Rar!");
        const int locked =
            ::open(QFile::encodeName(e + "考生文件夹.rar.partial-Locked").constData(),
                   O_RDONLY | O_CLOEXEC);
        QVERIFY(locked >= 0);
        QCOMPARE(::flock(locked, LOCK_EX), 0); // a run that is still writing it

        const Run run = pack("e:", "e:\\考生文件夹");
        ::close(locked);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QStringList expected = others.keys();
        expected << "考生文件夹.rar.partial-Linked"
                 << "考生文件夹"
                 << "考生文件夹.rar";
        expected.sort();
        QCOMPARE(
            QDir(drive('e'))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                           QDir::Name),
            expected);
    }

    void usage_data() {
        QTest::addColumn<QString>("parameters");
        QTest::newRow("none") << "";
        QTest::newRow("unknown command") << "l e:\\tmp.rar";
        QTest::newRow("x without -o-") << "x e:\\tmp.rar e:\\";
        QTest::newRow("a without -df") << "a e:\\考生文件夹 e:\\考生文件夹";
        QTest::newRow("blank splits a path") << "a -df e:\\考生文件夹 e:\\my work";
    }
    void usage() {
        QFETCH(QString, parameters);
        const Run run = rar(parameters);
        QCOMPARE(run.code, 7);
        QVERIFY2(run.err.startsWith("usage: rar x -o- ARCHIVE DEST"), qPrintable(run.err));
        QCOMPARE(treeOf(drive('e')), Tree());
    }

private:
    // Runs rar with drive `letter` on a file system of its own of `kilobytes`
    // (a tmpfs in a mount namespace of its own); `left` gets the files left
    // on that drive, below it. The code is noSmallDrive when the system
    // allows no such namespace.
    static constexpr int noSmallDrive = 99;
    Run rarOnSmallDrive(char letter, int kilobytes, const QStringList& arguments,
                        QStringList& left) {
        const QString script = "mount -t tmpfs -o size=\"$1\"k tmpfs \"$2\" || exit 99\n"
                               "drive=$2; shift 2\n"
                               "\"$@\"; code=$?\n"
                               "cd \"$drive\" && find . -type f | cut -c3-\n"
                               "exit $code\n";
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start("unshare",
                      QStringList{"-Urm", "sh", "-c", script, "sh", QString::number(kilobytes),
                                  drive(letter), rarProgram()} +
                          arguments);
        Run run;
        if (!process.waitForStarted() || !process.waitForFinished(120000))
            return run;
        run.err = QString::fromUtf8(process.readAllStandardError());
        run.code = process.exitCode();
        if (run.code == 1 && run.err.startsWith("unshare:"))
            run.code = noSmallDrive;
        left = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        left.sort();
        return run;
    }

    // A template archive with the top folder 考生文件夹, as e:\tmp.rar.
    void makeTemplate(const Tree& tree) {
        writeTree(drive('f') + "/考生文件夹", tree);
        QCOMPARE(rar("a -df f:\\tmp f:\\考生文件夹").code, 0);
        QVERIFY(QFile::rename(drive('f') + "/tmp.rar", drive('e') + "/tmp.rar"));
    }

    // After a kill: either every file is still in the work folder, or there is
    // a complete archive holding all of them (and what is left is intact).
    void checkNothingLost(const Tree& tree) {
        const QString work = drive('e') + "/考生文件夹";
        QVERIFY(QFileInfo(work).isDir());
        const Tree left = treeOf(work);
        for (auto it = left.begin(); it != left.end(); ++it)
            QCOMPARE(it.value(), tree.value(it.key()));
        const QString archive = drive('e') + "/考生文件夹.rar";
        if (!QFileInfo::exists(archive)) {
            QCOMPARE(left, tree);
            return;
        }
        QVERIFY(extractWith("bsdtar", archive, scratch_->filePath("b")));
        QCOMPARE(treeOf(scratch_->filePath("b/考生文件夹")), tree);
    }
};

MORVEL_TEST_MAIN(TestRar)
#include "tst_rar.moc"
