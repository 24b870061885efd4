// The timer component: when OnTimer runs, and fire() playing an elapsed
// interval without the wait.
#include "framework/core/Timer.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>

using namespace fw;

class TestTimer : public QObject {
    Q_OBJECT

private slots:
    void firesOnlyWhileActive_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("fires");
        QTest::newRow("enabled") << true << 60000 << true;
        QTest::newRow("off") << false << 60000 << false;
        QTest::newRow("interval 0") << true << 0 << false;
    }
    void firesOnlyWhileActive() {
        QFETCH(bool, enabled);
        QFETCH(int, interval);
        QFETCH(bool, fires);
        Timer timer;
        timer.setInterval(interval);
        timer.setEnabled(enabled);
        QSignalSpy ticks(&timer, &Timer::timeout);
        QCOMPARE(timer.isActive(), fires);
        QCOMPARE(timer.fire(), fires);
        QCOMPARE(ticks.size(), fires ? 1 : 0);
    }

    void newTimerIsOff() {
        Timer timer;
        QVERIFY(!timer.enabled());
        QCOMPARE(timer.interval(), 1000);
        QVERIFY(!timer.fire());
    }

    void intervalsElapse() {
        Timer timer;
        timer.setInterval(10);
        timer.setEnabled(true);
        QSignalSpy ticks(&timer, &Timer::timeout);
        QTRY_VERIFY(ticks.size() >= 3);
        timer.setEnabled(false);
        const int seen = int(ticks.size());
        QTest::qWait(50);
        QCOMPARE(ticks.size(), seen);
    }

    // A handler that turns its timer off (the countdown at zero) is the last
    // tick, whether the tick was played or elapsed.
    void handlerTurnsItsTimerOff() {
        Timer timer;
        timer.setInterval(60000);
        timer.setEnabled(true);
        int ticks = 0;
        connect(&timer, &Timer::timeout, [&] {
            if (++ticks == 2)
                timer.setEnabled(false);
        });
        QVERIFY(timer.fire());
        QVERIFY(timer.fire());
        QVERIFY(!timer.fire());
        QCOMPARE(ticks, 2);
    }
};

MORVEL_TEST_MAIN(TestTimer)
#include "tst_timer.moc"
