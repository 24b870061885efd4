#pragma once

#include "framework/core/Process.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <variant>

// The scripted double of fw::Processes: records every run asked for and
// answers from a script, or runs the program for real where the script says
// so. Installs itself for its lifetime.
class ScriptedProcesses : public fw::Processes {
public:
    struct Call {
        QString program;
        QStringList arguments;
        fw::WhenCallerEnds whenCallerEnds;
    };

    ScriptedProcesses();
    ~ScriptedProcesses() override;

    // Answers, taken in order by the runs: a result, or runForReal() for a
    // real run. A run with an empty script fails the test and answers "not
    // started".
    void answer(const fw::ProcessRun& run) { m_script.append(run); }
    void runForReal() { m_script.append(Real{}); }
    // Runs inside the next run, before it answers, to play what the events
    // served during the wait do (a close button pressed meanwhile); with a
    // real run, before the program starts.
    void whileWaiting(std::function<void()> f) { m_whileWaiting = std::move(f); }

    // Results as a script gives them.
    static fw::ProcessRun exited(int code, const QString& output = QString());
    static fw::ProcessRun notStarted(const QString& error = QStringLiteral("No such file"));

    QList<Call> calls;
    int pendingAnswers() const { return int(m_script.size()); }
    void clear();

    fw::ProcessRun runAndWait(const QString& program, const QStringList& arguments,
                              fw::WhenCallerEnds whenCallerEnds) override;

private:
    struct Real {};
    QList<std::variant<fw::ProcessRun, Real>> m_script;
    std::function<void()> m_whileWaiting;
};
