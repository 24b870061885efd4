// The walk over the titles of the X display's top-level windows, on an Xvfb
// of its own: hidden and shown windows, a client inside a window manager's
// frame, long titles, the two title properties; and no display, no window.
#include "framework/desktop/WindowTitles.h"
#include "tests/support/ListedWindowTitles.h"
#include "tests/support/TestMain.h"
#include "tests/support/XvfbDisplay.h"

using namespace fw;

class TestWindowTitles : public QObject {
    Q_OBJECT

    XvfbDisplay x_;

private slots:
    void initTestCase() {
        if (!x_.start())
            QSKIP("Xvfb is not installed (scripts/install-deps installs it)");
    }

    void everyTopLevelTitle() {
        const QString excel = "Microsoft Excel - 成绩.xls";
        const xcb_window_t hidden = x_.window(x_.root(), false);
        x_.setNetWmName(hidden, excel);
        const xcb_window_t control = x_.window(hidden, true); // a window inside it
        x_.setNetWmName(control, "Microsoft Access - not a top-level window");

        const xcb_window_t lower = x_.window(x_.root(), true);
        x_.setWmName(lower, "microsoft excel - book1.xls");

        const QString longTitle = "Microsoft Word - " + QString(300, QChar(0x6587)) + ".doc";
        x_.setNetWmName(x_.window(x_.root(), false), longTitle);

        const xcb_window_t both = x_.window(x_.root(), true);
        x_.setNetWmName(both, "新的标题");
        x_.setWmName(both, "old title");

        // A reparenting window manager's frame, the client two levels down.
        const xcb_window_t frame = x_.window(x_.root(), true);
        x_.setWmName(frame, "");
        const xcb_window_t client = x_.window(x_.window(frame, true), true);
        x_.setWmState(client);
        x_.setNetWmName(client, "Microsoft PowerPoint - 演示.ppt");
        x_.setNetWmName(x_.window(client, true), "inside the client");

        x_.window(x_.root(), true); // untitled
        x_.sync();

        QStringList titles = X11WindowTitles(x_.name()).titles();
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
        qputenv("DISPLAY", x_.name());
        QCOMPARE(X11WindowTitles().titles(), QStringList());
        qputenv("DISPLAY", before);
    }

    void listedDouble() {
        ListedWindowTitles listed;
        listed.windows = {"Microsoft Word - a.doc"};
        QCOMPARE(windowTitles().titles(), QStringList{"Microsoft Word - a.doc"});
        QCOMPARE(listed.walks, 1);
    }
};

MORVEL_TEST_MAIN(TestWindowTitles)
#include "tst_windowtitles.moc"
