#pragma once

#include <QByteArray>
#include <QString>

namespace rar {

// "a -df NAME FOLDER": packs `folder` (Windows form, on a mapped drive) with
// everything below it into the RAR 5.0 archive `archivePath`, every entry
// named by entryPrefix(folder) + "/" + its path below the folder (the folder
// itself is an entry too unless it is the drive root), then deletes the packed files and the
// folders below `folder`; `folder` itself stays. The archive is written under a temporary name,
// flushed and renamed into place before anything is deleted. Entries of an
// archive that exists already are carried over unless the folder holds an
// entry of the same name. Returns the exit code.
int pack(const QString& archivePath, const QString& folder);

// The entry name of a folder given in Windows form: its path below the drive
// root, "/" between its parts ("e:\考生文件夹" gives "考生文件夹", "e:\" gives
// ""). Throws on a path that climbs with "..".
QByteArray entryPrefix(const QString& windowsFolder);

} // namespace rar
