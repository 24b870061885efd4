#include "archiver/Command.h"

#include "archiver/Extract.h"
#include "archiver/Pack.h"
#include "archiver/Report.h"

#include <cstdio>

namespace rar {

namespace {

const char usage[] = R"(usage: rar x -o- ARCHIVE DEST
       rar a -df NAME FOLDER

  x -o-   extract ARCHIVE (RAR 4.x or RAR 5.0) into the folder DEST with the
          paths stored in it; files that exist are kept, entries that would
          land outside DEST and links are skipped
  a -df   pack FOLDER into the RAR 5.0 archive NAME.rar (".rar" is added
          unless NAME ends in it), with stored entries named by FOLDER's path
          below its drive root; then delete the packed files and folders
          below FOLDER (FOLDER itself stays)

Paths may be given in Windows form (e:\考生文件夹); a drive X: is the folder
named by MORVEL_DRIVE_X. Each path is one argument, blanks and all. Every
message names the file and the cause.
Exit codes: 0 done, 1 done with warnings, 2 failed, 7 wrong command line.
)";

QString archiveName(const QString& name) {
    return name.endsWith(".rar", Qt::CaseInsensitive) ? name : name + ".rar";
}

} // namespace

int run(const QStringList& arguments) {
    if (arguments.size() == 4 && arguments[0] == "x" && arguments[1] == "-o-")
        return extract(arguments[2], arguments[3]);
    if (arguments.size() == 4 && arguments[0] == "a" && arguments[1] == "-df")
        return pack(archiveName(arguments[2]), arguments[3]);
    std::fputs(usage, stderr);
    return usageError;
}

} // namespace rar
