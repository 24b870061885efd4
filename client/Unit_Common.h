#pragma once

#include "framework/core/Process.h"

#include <QString>
#include <QStringList>

namespace fw {
class Field;
class Image;
} // namespace fw

namespace client {

// Shows the JPEG picture of a blob field of the current row in a picture
// control, or clears the control when the field holds none. The bytes are
// always read as JPEG: anything else raises the decoder's error, and the
// control keeps what it showed.
void ShowBlobImage(const fw::Field& Field, fw::Image* Image);

// Starts a program hidden and waits for its end, the client's events served
// every 100 ms; the wait is given up once the program is told to end. Each
// parameter reaches the program as one argument, blanks and all. The program
// ends with the client: it never works on in the work folder behind the back
// of the client's next run. `started` of the run tells whether it could be
// started at all.
fw::ProcessRun RunAndWait(const QString& Program, const QStringList& Parameters);

// The archiver beside the client.
QString ArchiverPath();

// Whether a top-level window of the desktop, shown or hidden, of any program
// (the client's own included), has "Microsoft Word", "Microsoft Excel",
// "Microsoft PowerPoint", "Microsoft FrontPage" or "Microsoft Access" in its
// title, in this letter case and wholly within the title's first 254 bytes in
// code page 936.
bool OfficeWindowOpen();

// ---- the work folder (WorkDir) and its archives ----
//
// Cut from WorkDir by position: the work drive is its first two characters,
// the work root its first three. The template is written to work drive +
// "\tmp.rar" and unpacked into the work root; the hand-in packs the work
// folder into work drive + "\考生文件夹.rar".

QString AnswerArchive(const QString& WorkDir);

// The exam start's last step: the work folder made ready for ExamNo. What an
// earlier examinee left in it is moved aside; ExamNo's own work of an earlier
// login on this PC comes back from its archive first; then the template (the
// blob ExamFolder) is written as tmp.rar and unpacked without replacing any
// file. Raises when the template cannot be written or an earlier examinee's
// work cannot be moved aside; what the archiver does with the template is
// not looked at.
void PrepareWorkFolder(const fw::Field& ExamFolder, const QString& WorkDir, const QString& ExamNo);

// The hand-in's packing: the work folder packed into the answer archive by
// the archiver, which deletes what it packed. Raises with the archiver's own
// message when it fails (nothing deleted then).
void PackWorkFolder(const QString& WorkDir, const QString& ExamNo);

// The answer archive is stored in the exam database.
void WorkFolderStored(const QString& WorkDir, const QString& ExamNo);

// After a hand-in that failed once the packing may have run: what the answer
// archive holds comes back into the work folder (nothing there is replaced),
// and the archive goes. Returns what went wrong when that could not be done
// (the archive then stays, and the next packing takes its files along);
// empty when it was done.
QString PutBackWorkFolder(const QString& WorkDir, const QString& ExamNo);

} // namespace client
