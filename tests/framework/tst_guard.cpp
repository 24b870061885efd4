// The handler guard: an exception that escapes a handler is shown in the
// standard error box and the program goes on.
#include "framework/core/Error.h"
#include "framework/widgets/Guard.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestMain.h"

#include <QPushButton>
#include <functional>
#include <stdexcept>

using Raise = std::function<void()>;
Q_DECLARE_METATYPE(Raise)

class Form : public QObject {
    Q_OBJECT
public:
    Raise body;
    QObject* sender = nullptr;
    int runs = 0;
    void Button1Click(QObject* s) {
        sender = s;
        ++runs;
        body();
    }
};

// A component whose event passes values, one of them by reference.
class Socket : public QObject {
    Q_OBJECT
signals:
    void error(int& errorCode, const QString& what);
};

class Window : public QObject {
    Q_OBJECT
public:
    QObject* sender = nullptr;
    QString what;
    void Socket1Error(QObject* Sender, int& ErrorCode, const QString& What) {
        sender = Sender;
        what = What;
        ErrorCode = 0;
    }
    void Socket1ErrorCodeOnly(QObject* Sender, int& ErrorCode) {
        sender = Sender;
        if (ErrorCode == 7)
            throw fw::Error(QStringLiteral("code 7"));
    }
};

class TestGuard : public QObject {
    Q_OBJECT

private slots:
    void anEscapingErrorIsShownAndTheProgramGoesOn_data() {
        QTest::addColumn<Raise>("raise");
        QTest::addColumn<QString>("shown");
        QTest::newRow("framework error")
            << Raise([] { throw fw::Error(QStringLiteral("'abc' is not a valid integer value")); })
            << "'abc' is not a valid integer value";
        QTest::newRow("database error")
            << Raise([] { throw fw::DbError(QStringLiteral("关系 \"x\" 不存在")); })
            << "关系 \"x\" 不存在";
        QTest::newRow("standard exception")
            << Raise([] { throw std::out_of_range("index out of range"); }) << "index out of range";
        QTest::newRow("anything else") << Raise([] { throw 42; }) << "Unknown error";
    }

    void anEscapingErrorIsShownAndTheProgramGoesOn() {
        QFETCH(Raise, raise);
        QFETCH(QString, shown);
        ScriptedDialogs boxes;
        QPushButton button;
        Form form;
        form.body = raise;
        fw::on(&button, &QPushButton::clicked, &form, &Form::Button1Click);

        button.click();
        QCOMPARE(boxes.errors(), QStringList{shown});
        QCOMPARE(boxes.calls.first().caption, fw::applicationTitle());
        QCOMPARE(form.sender, &button);

        // the next click runs the handler again, and a clean run shows nothing
        form.body = [] {};
        button.click();
        QCOMPARE(form.runs, 2);
        QCOMPARE(boxes.calls.size(), 1);
    }

    void theHandlerGetsTheSignalsArguments() {
        ScriptedDialogs boxes;
        Socket socket;
        Window window;
        fw::on(&socket, &Socket::error, &window, &Window::Socket1Error);
        int code = 10061;
        emit socket.error(code, QStringLiteral("connect"));
        QCOMPARE(window.sender, &socket);
        QCOMPARE(window.what, QString("connect"));
        QCOMPARE(code, 0); // set through the reference
        QVERIFY(boxes.calls.isEmpty());
    }

    void aHandlerMayTakeTheFirstArgumentsOnly() {
        ScriptedDialogs boxes;
        Socket socket;
        Window window;
        fw::on(&socket, &Socket::error, &window, &Window::Socket1ErrorCodeOnly);
        int code = 7;
        emit socket.error(code, QStringLiteral("read"));
        QCOMPARE(window.sender, &socket);
        QCOMPARE(boxes.errors(), QStringList{"code 7"}); // through the guard
    }

    void guardTellsWhetherTheHandlerRaised() {
        ScriptedDialogs boxes;
        QVERIFY(fw::guard([] {}));
        QVERIFY(!fw::guard([] { throw fw::Error(QStringLiteral("x")); }));
        QCOMPARE(boxes.errors(), QStringList{"x"});
    }
};

MORVEL_TEST_MAIN(TestGuard)
#include "tst_guard.moc"
