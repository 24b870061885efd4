#pragma once

#include "framework/desktop/WindowTitles.h"

#include <QStringList>

// The double of fw::WindowTitles: the desktop holds the windows titled as
// `titles` says. Counts the walks. Installs itself for its lifetime.
class ListedWindowTitles : public fw::WindowTitles {
public:
    ListedWindowTitles() { fw::setWindowTitles(this); }
    ~ListedWindowTitles() override { fw::setWindowTitles(nullptr); }

    QStringList titles() override {
        ++walks;
        return windows;
    }

    QStringList windows;
    int walks = 0;
};
