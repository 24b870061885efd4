#include "framework/core/Application.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace fw {

namespace {
bool g_terminated = false;
} // namespace

void terminate() {
    g_terminated = true;
    // Queued, so that a loop which has not started yet still ends on its
    // first turn; a running one ends on its next.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool terminated() {
    return g_terminated;
}

void resetTerminated() {
    g_terminated = false;
}

} // namespace fw
