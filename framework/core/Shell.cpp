#include "framework/core/Shell.h"

#include "framework/core/Drives.h"
#include "framework/core/Service.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace fw {
namespace {

// The first of `programs` found on the search path, else nothing.
QString firstFound(const QStringList& programs) {
    for (const QString& program : programs) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

bool isWebBrowser(const QString& program) {
    QString name = program;
    name.replace('\\', '/');
    return QFileInfo(name).fileName().compare("IEXPLORE.EXE", Qt::CaseInsensitive) == 0;
}

void startDetached(const QString& program, const QStringList& arguments) {
    if (program.isEmpty())
        return;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

class DesktopShell : public Shell {
public:
    void openProgram(const QString& program, const QString& parameter) override {
        const QStringList arguments = parameter.isEmpty() ? QStringList() : QStringList{parameter};
        if (isWebBrowser(program))
            startDetached(firstFound({"x-www-browser", "sensible-browser", "xdg-open"}), arguments);
        else
            startDetached(firstFound({program}), arguments);
    }

    void openPath(const QString& path) override {
        startDetached(firstFound({"xdg-open"}), {hostPath(path)});
    }
};

Service<Shell, DesktopShell> g_service;

} // namespace

Shell& shell() {
    return g_service.get();
}

void setShell(Shell* s) {
    g_service.set(s);
}

} // namespace fw
