// The walk over the titles of the X display's top-level windows, on an Xvfb
// of its own: hidden and shown windows, a client inside a window manager's
// frame, long titles, the two title properties; and no display, no window.
#include "framework/desktop/WindowTitles.h"
#include "tests/support/ListedWindowTitles.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstring>
#include <xcb/xcb.h>

using namespace fw;

class TestWindowTitles : public QObject {
    Q_OBJECT

    QProcess xvfb_;
    QByteArray display_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;

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

private slots:
    void initTestCase() {
        const QString program = QStandardPaths::findExecutable("Xvfb");
        if (program.isEmpty())
            QSKIP("Xvfb is not installed (scripts/install-deps installs it)");
        // -displayfd: the server takes the first free display number and
        // writes it to the descriptor given, here its standard output.
        xvfb_.setProgram(program);
        xvfb_.setArguments({"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
        xvfb_.setProcessChannelMode(QProcess::SeparateChannels);
        xvfb_.start();
        QVERIFY(xvfb_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(xvfb_.canReadLine(), 30000);
        display_ = ":" + xvfb_.readLine().trimmed();
        c_ = xcb_connect(display_.constData(), nullptr);
        QVERIFY(!xcb_connection_has_error(c_));
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    void cleanupTestCase() {
        if (c_)
            xcb_disconnect(c_);
        xvfb_.terminate();
        xvfb_.waitForFinished();
    }

    void everyTopLevelTitle() {
        const QString excel = "Microsoft Excel - 成绩.xls";
        const xcb_window_t hidden = window(root_, false);
        setNetWmName(hidden, excel);
        const xcb_window_t control = window(hidden, true); // a window inside it
        setNetWmName(control, "Microsoft Access - not a top-level window");

        const xcb_window_t lower = window(root_, true);
        setWmName(lower, "microsoft excel - book1.xls");

        const QString longTitle = "Microsoft Word - " + QString(300, QChar(0x6587)) + ".doc";
        setNetWmName(window(root_, false), longTitle);

        const xcb_window_t both = window(root_, true);
        setNetWmName(both, "新的标题");
        setWmName(both, "old title");

        // A reparenting window manager's frame, the client two levels down.
        const xcb_window_t frame = window(root_, true);
        setWmName(frame, "");
        const xcb_window_t client = window(window(frame, true), true);
        setWmState(client);
        setNetWmName(client, "Microsoft PowerPoint - 演示.ppt");
        setNetWmName(window(client, true), "inside the client");

        window(root_, true); // untitled
        xcb_flush(c_);
        xcb_aux_sync();

        QStringList titles = X11WindowTitles(display_).titles();
        titles.sort();
        QStringList expected{excel, "microsoft excel - book1.xls", longTitle, "新的标题",
                             "Microsoft PowerPoint - 演示.ppt"};
        expected.sort();
        QCOMPARE(titles, expected);
    }

    void noDisplayNoWindow() {
        QCOMPARE(X11WindowTitles(":65000").titles(), QStringList());
        const QByteArray before = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        QCOMPARE(X11WindowTitles().titles(), QStringList());
        // The application runs offscreen: it is on no display, even when
        // DISPLAY names a live one.
        qputenv("DISPLAY", display_);
        QCOMPARE(X11WindowTitles().titles(), QStringList());
        qputenv("DISPLAY", before);
    }

    void listedDouble() {
        ListedWindowTitles listed;
        listed.windows = {"Microsoft Word - a.doc"};
        QCOMPARE(windowTitles().titles(), QStringList{"Microsoft Word - a.doc"});
        QCOMPARE(listed.walks, 1);
    }

private:
    void xcb_aux_sync() {
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
};

MORVEL_TEST_MAIN(TestWindowTitles)
#include "tst_windowtitles.moc"
