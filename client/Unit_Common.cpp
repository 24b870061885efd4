#include "client/Unit_Common.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/core/Gbk.h"
#include "framework/data/Dataset.h"
#include "framework/desktop/Image.h"
#include "framework/desktop/WindowTitles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace client {

void ShowBlobImage(const fw::Field& Field, fw::Image* Image) {
    const QByteArray jpeg = Field.isNull() ? QByteArray() : Field.asBytes();
    if (jpeg.isEmpty())
        Image->clear();
    else
        Image->loadJpeg(jpeg);
}

fw::ProcessRun RunAndWait(const QString& Program, const QStringList& Parameters) {
    return fw::processes().runAndWait(Program, Parameters, fw::WhenCallerEnds::Ends);
}

QString ArchiverPath() {
    return fw::executableFolder() + "rar";
}

bool OfficeWindowOpen() {
    static const QStringList fragments{"Microsoft Word", "Microsoft Excel", "Microsoft PowerPoint",
                                       "Microsoft FrontPage", "Microsoft Access"};
    bool open = false;
    for (const QString& title : fw::windowTitles().titles()) {
        // What a buffer of 255 bytes takes of the title in the client's code
        // page; a character cut in two there is no letter of a fragment.
        const QString read = fw::fromGbk(fw::toGbk(title).left(254));
        for (const QString& fragment : fragments)
            open = open || read.contains(fragment, Qt::CaseSensitive);
    }
    return open;
}

// ---- the work folder ----
//
// No work is lost by a hand-in that fails or is cut short, and nobody finds
// another examinee's work. The archiver's "a -df" deletes what it packed, so
// from then on until the archive is stored the examinee's work may live only
// in 考生文件夹.rar; a kill can come at any moment, and the next start on the
// PC unpacks the template with "-o-", which would put the template's files
// where the examinee's were. So:
//
// - A note beside the archive, 考生文件夹.owner, says whose work the work
//   folder and the archive hold and how far the hand-in got: working,
//   packing (from just before the archiver runs: the archive may hold work
//   that is nowhere else) or stored (the archive is in the database). It is
//   replaced whole (written aside, flushed, renamed), never half written.
// - The archiver ends with the client (RunAndWait), so nothing changes the
//   drive behind the next start's back; it survives being killed at any
//   moment itself (the archive appears whole by a rename before anything is
//   deleted, a file extracted gets its name only once whole).
// - A hand-in that fails after the packing may have run puts the archive's
//   files back into the work folder ("x -o-": the folder's own files, the
//   same or newer, stay) and deletes the archive only when that worked; so the
//   examinee works on and a retry packs the whole folder again. Before that
//   put-back, a pending edit or insert of the archive row is cancelled.
// - The start of the same examinee (readmitted on this PC) does the same
//   first thing, before the template is unpacked: the examinee's files win.
// - When a put-back cannot be done, the note stays at packing and the
//   archive stays: the next packing leaves it in place and the archiver
//   carries its entries over into the new archive, the folder's own files
//   winning. Otherwise an archive left on the drive is deleted first.
// - The start of another examinee moves whatever the earlier one left (the
//   work folder, an archive not known to be stored) into
//   考生文件夹.保留\<exam number> <time> on the drive; an archive that is
//   stored goes.

namespace {

enum class WorkState { Working, Packing, Stored };

// What the note says; known is false without a note or with one that
// cannot be read.
struct WorkNote {
    bool known = false;
    QString owner;
    WorkState state = WorkState::Working;
};

const char* const stateNames[] = {"working", "packing", "stored"};

QString WorkDrive(const QString& WorkDir) {
    return WorkDir.left(2);
}

QString WorkRoot(const QString& WorkDir) {
    return WorkDir.left(3);
}

QString TemplateArchive(const QString& WorkDir) {
    return WorkDrive(WorkDir) + "\\tmp.rar";
}

QString NotePath(const QString& WorkDir) {
    return WorkDrive(WorkDir) + "\\考生文件夹.owner";
}

// Where the archive's entry names start: the archiver names them by the
// work folder's path below its drive's root.
QString ArchiveBase(const QString& WorkDir) {
    if (WorkDir.size() >= 2 && WorkDir.at(0).isLetter() && WorkDir.at(0).unicode() < 128 &&
        WorkDir.at(1) == ':')
        return WorkDir.left(2) + "\\";
    if (WorkDir.startsWith('\\') || WorkDir.startsWith('/'))
        return "\\";
    return ".";
}

bool Exists(const QString& path) {
    return QFileInfo::exists(fw::hostPath(path));
}

WorkNote ReadNote(const QString& WorkDir) {
    QFile file(fw::hostPath(NotePath(WorkDir)));
    WorkNote note;
    if (!file.open(QIODevice::ReadOnly))
        return note;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    const QString state = o.value("state").toString();
    for (int i = 0; i < 3; ++i)
        if (state == stateNames[i] && o.value("examNo").isString()) {
            note.known = true;
            note.owner = o.value("examNo").toString();
            note.state = WorkState(i);
        }
    return note;
}

void WriteNote(const QString& WorkDir, const QString& ExamNo, WorkState state) {
    QSaveFile file(fw::hostPath(NotePath(WorkDir)));
    const QJsonObject o{{"examNo", ExamNo}, {"state", stateNames[int(state)]}};
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(o).toJson()) < 0 ||
        !file.commit())
        throw fw::Error(QString("无法写入 %1：%2").arg(NotePath(WorkDir), file.errorString()));
}

// For the put-back, whose outcome the note records as far as it can.
void TryWriteNote(const QString& WorkDir, const QString& ExamNo, WorkState state) {
    try {
        WriteNote(WorkDir, ExamNo, state);
    } catch (const fw::Error&) {
    }
}

bool HoldsAnything(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return false;
    return !info.isDir() || !QDir(path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                QDir::Hidden | QDir::System);
}

// A folder of its own for what an earlier examinee left, named by that
// examinee's exam number ("未知" when no note says) and the time.
QString KeepFolder(const QString& WorkDir, const WorkNote& note) {
    QString who = note.known && !note.owner.isEmpty() ? note.owner : QString("未知");
    for (QChar& c : who)
        if (!c.isLetterOrNumber() && c != '-' && c != '_')
            c = '_';
    const QString base = WorkDrive(WorkDir) + "\\考生文件夹.保留\\" + who + " " +
                         QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss");
    QDir().mkpath(fw::hostPath(WorkDrive(WorkDir) + "\\考生文件夹.保留"));
    QString folder = base;
    for (int n = 2; !QDir().mkdir(fw::hostPath(folder)); ++n) {
        if (n > 100)
            throw fw::Error(QString("无法建立文件夹 %1").arg(base));
        folder = base + "-" + QString::number(n);
    }
    return folder;
}

void MoveInto(const QString& from, const QString& folder) {
    const QString host = QDir::cleanPath(fw::hostPath(from));
    const QString to = fw::hostPath(folder) + "/" + QFileInfo(host).fileName();
    if (!QFile::rename(host, to))
        throw fw::Error(
            QString("考生文件夹中有上一位考生的文件，无法把 %1 移到 %2").arg(from, folder));
}

// What an earlier examinee left goes aside, never to the next one.
void KeepAside(const QString& WorkDir, const WorkNote& note) {
    const QString archive = AnswerArchive(WorkDir);
    if (note.known && note.state == WorkState::Stored && Exists(archive))
        QFile::remove(fw::hostPath(archive)); // it is in the database
    const bool workLeft = HoldsAnything(QDir::cleanPath(fw::hostPath(WorkDir)));
    const bool archiveLeft = Exists(archive);
    if (!workLeft && !archiveLeft)
        return;
    const QString folder = KeepFolder(WorkDir, note);
    if (workLeft)
        MoveInto(WorkDir, folder);
    if (archiveLeft)
        MoveInto(archive, folder);
}

} // namespace

QString AnswerArchive(const QString& WorkDir) {
    return WorkDrive(WorkDir) + "\\考生文件夹.rar";
}

void PrepareWorkFolder(const fw::Field& ExamFolder, const QString& WorkDir, const QString& ExamNo) {
    const WorkNote note = ReadNote(WorkDir);
    const bool readmitted = note.known && note.owner == ExamNo;
    if (readmitted)
        PutBackWorkFolder(WorkDir, ExamNo);
    else
        KeepAside(WorkDir, note);
    ExamFolder.saveToFile(TemplateArchive(WorkDir));
    if (!readmitted)
        WriteNote(WorkDir, ExamNo, WorkState::Working);
    RunAndWait(ArchiverPath(), {"x", "-o-", TemplateArchive(WorkDir), WorkRoot(WorkDir)});
}

void PackWorkFolder(const QString& WorkDir, const QString& ExamNo) {
    const QString archive = AnswerArchive(WorkDir);
    const WorkNote note = ReadNote(WorkDir);
    const bool pending = note.known && note.owner == ExamNo && note.state == WorkState::Packing;
    if (!pending && Exists(archive) && !QFile::remove(fw::hostPath(archive)))
        throw fw::Error(QString("无法删除 %1").arg(archive));
    WriteNote(WorkDir, ExamNo, WorkState::Packing);
    const fw::ProcessRun run =
        RunAndWait(ArchiverPath(), {"a", "-df", WorkDrive(WorkDir) + "\\考生文件夹", WorkDir});
    if (!run.started)
        throw fw::Error(QString("无法运行压缩程序 %1：%2").arg(ArchiverPath(), run.error));
    if (!run.finished)
        throw fw::Error("程序正在退出，交卷没有完成。");
    if (run.crashed || run.exitCode > 1) {
        const QString message = run.output.trimmed();
        throw fw::Error(!message.isEmpty()
                            ? message
                            : QString("压缩程序出错（退出代码 %1）。").arg(run.exitCode));
    }
}

void WorkFolderStored(const QString& WorkDir, const QString& ExamNo) {
    WriteNote(WorkDir, ExamNo, WorkState::Stored);
}

QString PutBackWorkFolder(const QString& WorkDir, const QString& ExamNo) {
    const QString archive = AnswerArchive(WorkDir);
    if (!Exists(archive)) {
        TryWriteNote(WorkDir, ExamNo, WorkState::Working);
        return QString();
    }
    const fw::ProcessRun run =
        RunAndWait(ArchiverPath(), {"x", "-o-", archive, ArchiveBase(WorkDir)});
    if (run.finished && !run.crashed && run.exitCode <= 1 && QFile::remove(fw::hostPath(archive))) {
        TryWriteNote(WorkDir, ExamNo, WorkState::Working);
        return QString();
    }
    TryWriteNote(WorkDir, ExamNo, WorkState::Packing);
    QString why = run.output.trimmed();
    if (!run.started)
        why = run.error;
    return QString("%1 中的文件未能全部放回考生文件夹，它留在原处，下次交卷时一并打包。%2")
        .arg(archive, why);
}

} // namespace client
