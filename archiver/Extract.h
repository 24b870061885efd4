#pragma once

#include <QString>

namespace rar {

// "x -o- ARCHIVE DEST": extracts every file and folder of the archive with
// the paths stored in it into DEST (created when missing); both paths in
// Windows form on a mapped drive, or host paths. A file that exists is never
// replaced; an entry that is absolute, climbs out with "..", runs through a
// link, or is a link itself is skipped and reported. What is written gets
// the usual modes of new files and folders, and always owner read and write
// (folders also search), whatever the archive says. A file gets its name only
// once it is whole, so a run killed at any moment leaves no half file. A
// damaged archive gives what could be read before the damage; a file whose
// data is damaged is removed again. Returns the exit code.
int extract(const QString& archivePath, const QString& destination);

} // namespace rar
