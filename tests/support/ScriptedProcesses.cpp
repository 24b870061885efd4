#include "ScriptedProcesses.h"

#include <QTest>

ScriptedProcesses::ScriptedProcesses() {
    fw::setProcesses(this);
}

ScriptedProcesses::~ScriptedProcesses() {
    fw::setProcesses(nullptr);
}

fw::ProcessRun ScriptedProcesses::exited(int code, const QString& output) {
    fw::ProcessRun run;
    run.started = true;
    run.finished = true;
    run.exitCode = code;
    run.output = output;
    return run;
}

fw::ProcessRun ScriptedProcesses::notStarted(const QString& error) {
    fw::ProcessRun run;
    run.error = error;
    return run;
}

void ScriptedProcesses::clear() {
    calls.clear();
    m_script.clear();
    m_whileWaiting = nullptr;
}

fw::ProcessRun ScriptedProcesses::runAndWait(const QString& program, const QStringList& arguments,
                                             fw::WhenCallerEnds whenCallerEnds) {
    calls.append({program, arguments, whenCallerEnds});
    auto whileWaiting = std::exchange(m_whileWaiting, nullptr);
    if (m_script.isEmpty()) {
        QTest::qFail(qPrintable(QString("unscripted run: %1 %2").arg(program, arguments.join(' '))),
                     __FILE__, __LINE__);
        return notStarted(QStringLiteral("unscripted"));
    }
    const auto next = m_script.takeFirst();
    if (whileWaiting)
        whileWaiting();
    if (std::holds_alternative<Real>(next)) {
        fw::setProcesses(nullptr);
        const fw::ProcessRun run = fw::processes().runAndWait(program, arguments, whenCallerEnds);
        fw::setProcesses(this);
        return run;
    }
    return std::get<fw::ProcessRun>(next);
}
