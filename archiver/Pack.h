#pragma once

#include <QByteArray>
#include <QString>

namespace rar {

// "a -df NAME FOLDER": packs `folder` with everything below it into the RAR
// 5.0 archive `archive` (both paths in Windows form on a mapped drive, or
// host paths), every entry named by entryPrefix(folder) + "/" + its path
// below the folder (the folder itself is an entry too unless it is the drive
// root), then deletes the packed files and the folders below `folder`;
// `folder` itself stays. A name that is not UTF-8 is stored as read in code
// page 936. The archive is written under a temporary name (the archive's name,
// ".partial-" and six letters or digits), flushed and renamed into place
// before anything is deleted; the temporaries that killed runs left beside
// the archive go first. Entries of an archive that exists already are carried
// over unless the folder holds an entry of the same name. Every message names
// the file as the command line would (e:\考生文件夹\子目录\a.txt) and the cause.
// Returns the exit code.
int pack(const QString& archive, const QString& folder);

// The entry name of a folder given in Windows form: its path below the drive
// root, "/" between its parts ("e:\考生文件夹" gives "考生文件夹", "e:\" gives
// ""). Throws on a path that climbs with "..".
QByteArray entryPrefix(const QString& windowsFolder);

} // namespace rar
