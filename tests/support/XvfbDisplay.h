#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

// An X display of the test's own (Xvfb on the first free display number),
// and windows made on it with xcb. Header only: the suites that use it link
// xcb themselves.
class XvfbDisplay {
public:
    ~XvfbDisplay() {
        if (c_)
            xcb_disconnect(c_);
        if (xvfb_.state() != QProcess::NotRunning) {
            xvfb_.terminate();
            xvfb_.waitForFinished();
        }
    }

    // Starts the server; false when Xvfb is not installed. The test fails
    // when it does not come up.
    bool start() {
        const QString program = QStandardPaths::findExecutable("Xvfb");
        if (program.isEmpty())
            return false;
        // -displayfd: the server takes the first free display number and
        // writes it to the descriptor given, here its standard output.
        xvfb_.setProgram(program);
        xvfb_.setArguments({"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
        xvfb_.setProcessChannelMode(QProcess::SeparateChannels);
        xvfb_.start();
        [&] {
            QVERIFY(xvfb_.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(xvfb_.canReadLine(), 30000);
            display_ = ":" + xvfb_.readLine().trimmed();
            c_ = xcb_connect(display_.constData(), nullptr);
            QVERIFY(!xcb_connection_has_error(c_));
            root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        }();
        return true;
    }

    QByteArray name() const { return display_; } // ":1"
    xcb_window_t root() const { return root_; }

    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r->atom;
        std::free(r);
        return a;
    }

    xcb_window_t window(xcb_window_t parent, bool mapped) {
        const xcb_window_t w = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, parent, 0, 0, 100, 80, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (mapped)
            xcb_map_window(c_, w);
        return w;
    }

    void set(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const QByteArray& value) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, property, type, 8,
                            std::uint32_t(value.size()), value.constData());
    }
    void setNetWmName(xcb_window_t w, const QString& title) {
        set(w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), title.toUtf8());
    }
    void setWmName(xcb_window_t w, const QByteArray& latin1) {
        set(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, latin1);
    }
    // What a window manager puts on the client windows it manages.
    void setWmState(xcb_window_t w) {
        const std::uint32_t normal[2] = {1, 0};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("WM_STATE"), atom("WM_STATE"), 32, 2,
                            normal);
    }

    // Everything asked for has reached the server.
    void sync() {
        xcb_flush(c_);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }

private:
    QProcess xvfb_;
    QByteArray display_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
};
