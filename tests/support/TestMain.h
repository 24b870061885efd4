#pragma once

#include <QApplication>
#include <QLocale>
#include <QStyleFactory>
#include <QTest>

// A test main that pins locale and style, so texts and sizes don't depend on
// the machine.
#define MORVEL_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv) {                                                              \
        QApplication app(argc, argv);                                                              \
        QLocale::setDefault(QLocale::c());                                                         \
        QApplication::setStyle(QStyleFactory::create("Fusion"));                                   \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
