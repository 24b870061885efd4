#pragma once

#include "framework/core/Shell.h"

#include <QList>
#include <QString>

// The recording double of fw::Shell: notes every call and starts nothing.
// Installs itself for its lifetime.
class RecordingShell : public fw::Shell {
public:
    enum class Kind { Program, Path };
    struct Call {
        Kind kind;
        QString target;    // the program or the path
        QString parameter; // the program's parameter
        bool operator==(const Call& other) const = default;
    };

    RecordingShell();
    ~RecordingShell() override;

    QList<Call> calls;

    void openProgram(const QString& program, const QString& parameter) override;
    void openPath(const QString& path) override;
};
