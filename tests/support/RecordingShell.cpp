#include "RecordingShell.h"

RecordingShell::RecordingShell() {
    fw::setShell(this);
}

RecordingShell::~RecordingShell() {
    fw::setShell(nullptr);
}

void RecordingShell::openProgram(const QString& program, const QString& parameter) {
    calls.append({Kind::Program, program, parameter});
}

void RecordingShell::openPath(const QString& path) {
    calls.append({Kind::Path, path, QString()});
}
