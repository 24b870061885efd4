// The office check before a hand-in: which window titles hold it up, on a
// listed desktop and on an X display of the test's own (Xvfb) walked for
// real.
#include "tests/support/ListedWindowTitles.h"
#include "tests/support/TestMain.h"
#include "tests/support/XvfbDisplay.h"

#include "client/Unit_Common.h"

class TestOfficeWindows : public QObject {
    Q_OBJECT

private slots:
    // The five fragments, case-sensitive, anywhere within the first 254
    // bytes of a title in code page 936.
    void aTitleHoldingAFragment_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("open");
        QTest::newRow("Word") << "Microsoft Word - 文档.doc" << true;
        QTest::newRow("Excel") << "Microsoft Excel - 成绩.xls" << true;
        QTest::newRow("PowerPoint") << "Microsoft PowerPoint - 演示.ppt" << true;
        QTest::newRow("FrontPage") << "Microsoft FrontPage - index.htm" << true;
        QTest::newRow("Access") << "Microsoft Access - bank.mdb" << true;
        QTest::newRow("at the end") << "文档.doc - Microsoft Word" << true;
        QTest::newRow("lower case") << "microsoft excel - book1.xls" << false;
        QTest::newRow("capitals") << "MICROSOFT WORD" << false;
        QTest::newRow("another office") << "LibreOffice Calc - 成绩.xls" << false;
        QTest::newRow("ending at byte 254") << QString(240, 'x') + "Microsoft Word" << true;
        QTest::newRow("ending at byte 255") << QString(241, 'x') + "Microsoft Word" << false;
        // two bytes a character: 135 characters, but 256 bytes
        QTest::newRow("Chinese, ending at byte 254")
            << QString(120, QChar(0x6587)) + "Microsoft Word" << true;
        QTest::newRow("Chinese, ending at byte 256")
            << QString(121, QChar(0x6587)) + "Microsoft Word" << false;
    }
    void aTitleHoldingAFragment() {
        QFETCH(QString, title);
        QFETCH(bool, open);
        ListedWindowTitles windows;
        windows.windows = {"Morvel", title, "终端"};
        QCOMPARE(client::OfficeWindowOpen(), open);
        QCOMPARE(windows.walks, 1);
    }

    void noWindowAtAll() {
        ListedWindowTitles windows;
        QVERIFY(!client::OfficeWindowOpen());
    }

    // The real walk: a hidden window counts, a title in lower case does not.
    void onAnXDisplay() {
        XvfbDisplay x;
        if (!x.start())
            QSKIP("Xvfb is not installed (scripts/install-deps installs it)");
        fw::X11WindowTitles walk(x.name());
        fw::setWindowTitles(&walk);
        x.setWmName(x.window(x.root(), true), "microsoft excel - book1.xls");
        x.sync();
        const bool lowerCaseOnly = client::OfficeWindowOpen();
        x.setNetWmName(x.window(x.root(), false), "Microsoft Excel - 成绩.xls");
        x.sync();
        const bool hiddenExcel = client::OfficeWindowOpen();
        fw::setWindowTitles(nullptr);
        QVERIFY(!lowerCaseOnly);
        QVERIFY(hiddenExcel);
    }
};

MORVEL_TEST_MAIN(TestOfficeWindows)
#include "tst_officewindows.moc"
