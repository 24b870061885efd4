#pragma once

#include <QString>

namespace fw {

// Paths keep their Windows form ("e:\考生文件夹") in the programs and are cut
// by position as before. Where a path meets the file system it goes through
// hostPath(): a drive "X:" is the host folder named by MORVEL_DRIVE_X (default
// $HOME/.local/share/Morvel/drives/x) and every "\" becomes "/". A path without
// a drive letter only has its backslashes turned.
QString hostPath(const QString& windowsPath);

// The host folder that stands for drive letter `letter` (created on demand by
// callers, not here).
QString driveRoot(QChar letter);

// The folder of the running executable with a trailing "/".
QString executableFolder();

} // namespace fw
