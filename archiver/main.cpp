#include "archiver/Command.h"

#include <QCoreApplication>

#include <clocale>

int main(int argc, char** argv) {
    // Entry names reach the file system as UTF-8, whatever locale we start in.
    std::setlocale(LC_ALL, "C.UTF-8");
    QCoreApplication app(argc, argv);
    return rar::run(QCoreApplication::arguments().mid(1));
}
