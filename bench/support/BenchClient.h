#pragma once

#include <QString>
#include <QStringList>

// What the benchmarks of the examinee client share: one examinee admitted to
// a started exam, and the client run in a process of its own.
namespace bench {

// The examinee, of the class 机房, admitted from 127.0.0.1.
extern const QString Examinee;

// The paper, the tasks and the client's rights as the console leaves them
// for a started exam, with the sample question bank; the answer archives
// stored as they come, as the RAR archives of work folders hardly compress.
void prepareExam();

// In the client's process: the program started and the login's lookup done
// as "确定" runs it (the status connection plays no part: a report on a
// connection that is not open is dropped).
void logIn();

// This program run again, offscreen, with `option`, as the client of a PC
// whose drive e: is `drive`. It prints a line beginning with `tag` followed
// by its figures, the last one 1 when it went well; those figures, or the
// run fails with what the client printed.
QStringList runClient(const QString& option, const QString& drive, const QString& tag);

} // namespace bench
