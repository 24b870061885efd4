#include "server/Program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (const auto exitCode = server::StartProgram())
        return *exitCode;
    const int exitCode = app.exec();
    server::EndProgram();
    return exitCode;
}
