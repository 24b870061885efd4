#pragma once

#include <QByteArray>
#include <QStringList>

namespace fw {

// The titles of the desktop's top-level windows. The X11 walk for the
// programs, a double that lists titles for tests.
class WindowTitles {
public:
    virtual ~WindowTitles() = default;

    // The title of every top-level window, shown or hidden, of every program,
    // the calling one's own included, whole; windows without a title are left
    // out. Nothing when there is no desktop to look at.
    virtual QStringList titles() = 0;
};

// The walk over an X display with xcb. Top-level windows are the children of
// each screen's root window, and, below a child that is a window manager's
// frame, the client windows it holds (those carrying WM_STATE), which a
// reparenting window manager puts there while they are shown. A title is
// _NET_WM_NAME, else WM_NAME.
class X11WindowTitles : public WindowTitles {
public:
    // The display named so (":1"); empty: the display in DISPLAY, and none
    // while the application runs on a platform without a display (offscreen,
    // minimal).
    explicit X11WindowTitles(const QByteArray& display = QByteArray());
    QStringList titles() override;

private:
    QByteArray m_display;
};

// The program's window titles: the X11 walk unless replaced (tests).
WindowTitles& windowTitles();
void setWindowTitles(WindowTitles* titles); // nullptr restores the X11 walk

} // namespace fw
