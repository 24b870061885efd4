// The client socket: real TCP connections to a listener on the loopback
// address, served by the test's event loop.
#include "framework/core/ClientSocket.h"
#include "framework/core/Error.h"
#include "tests/support/TestMain.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

using fw::ClientSocket;

class TestClientSocket : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTcpServer> m_server;
    QList<QPointer<QTcpSocket>> m_accepted;
    QList<QByteArray> m_received;
    std::unique_ptr<ClientSocket> m_socket;
    int m_connects = 0;
    QList<QByteArray> m_reads;
    QList<int> m_errors;
    int m_leaveCode = 0; // what the error handler leaves in the code

    quint16 port() const { return m_server->serverPort(); }
    QTcpSocket* peer(int i = 0) {
        return QTest::qWaitFor([&] { return m_accepted.size() > i; }, 5000)
                   ? m_accepted.at(i).data()
                   : nullptr;
    }
    void connectToServer() {
        m_socket->setAddress("127.0.0.1");
        m_socket->open();
        QVERIFY(QTest::qWaitFor([&] { return m_socket->connected(); }, 5000));
        QVERIFY(peer());
    }

private slots:
    void init() {
        m_server = std::make_unique<QTcpServer>();
        QVERIFY(m_server->listen(QHostAddress("127.0.0.1"), 0));
        m_accepted.clear();
        m_received.clear();
        connect(m_server.get(), &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server->nextPendingConnection()) {
                m_accepted << s;
                connect(s, &QTcpSocket::readyRead, this, [this, s] { m_received << s->readAll(); });
            }
        });
        m_socket = std::make_unique<ClientSocket>();
        m_socket->setPort(port());
        m_connects = 0;
        m_reads.clear();
        m_errors.clear();
        m_leaveCode = 0;
        connect(m_socket.get(), &ClientSocket::connectedToServer, this, [this] { ++m_connects; });
        connect(m_socket.get(), &ClientSocket::dataArrived, this,
                [this] { m_reads << m_socket->read(); });
        connect(m_socket.get(), &ClientSocket::error, this, [this](int& code) {
            m_errors << code;
            code = m_leaveCode;
        });
    }

    void cleanup() {
        m_socket.reset();
        m_server.reset();
    }

    void connectsSendsAndReads() {
        m_socket->setAddress("127.0.0.1");
        m_socket->open();
        QVERIFY(!m_socket->connected()); // open returns at once
        QVERIFY(QTest::qWaitFor([&] { return m_connects == 1; }, 5000));
        QVERIFY(m_socket->connected());

        m_socket->send(QByteArray("1\xd5\xc5") + "0001");
        QVERIFY(QTest::qWaitFor([&] { return !m_received.isEmpty(); }, 5000));
        QCOMPARE(m_received, QList<QByteArray>{QByteArray("1\xd5\xc5") + "0001"});

        peer()->write("0011");
        QVERIFY(QTest::qWaitFor([&] { return !m_reads.isEmpty(); }, 5000));
        QCOMPARE(m_reads.join(), QByteArray("0011"));
        QVERIFY(m_errors.isEmpty());
    }

    void readTakesEverythingPending() {
        connectToServer();
        peer()->write("00");
        peer()->write("11");
        peer()->flush();
        QVERIFY(QTest::qWaitFor([&] { return m_reads.join().size() == 4; }, 5000));
        QCOMPARE(m_reads.join(), QByteArray("0011"));
        QCOMPARE(m_socket->read(), QByteArray());
    }

    void onlyDottedIPv4IsTaken_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("taken");
        QTest::newRow("dotted") << "127.0.0.1" << true;
        QTest::newRow("leading zeros") << "127.000.0.01" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("a host name") << "localhost" << false;
        QTest::newRow("three parts") << "127.0.1" << false;
        QTest::newRow("five parts") << "127.0.0.1.1" << false;
        QTest::newRow("a part above 255") << "127.0.0.256" << false;
        QTest::newRow("four digits") << "127.0.0.0001" << false;
        QTest::newRow("an empty part") << "127..0.1" << false;
        QTest::newRow("hexadecimal") << "0x7f.0.0.1" << false;
        QTest::newRow("a blank") << " 127.0.0.1" << false;
        QTest::newRow("a sign") << "+127.0.0.1" << false;
        QTest::newRow("IPv6") << "::1" << false;
        QTest::newRow("full-width digits") << "１２７.0.0.1" << false;
    }

    void onlyDottedIPv4IsTaken() {
        QFETCH(QString, address);
        QFETCH(bool, taken);
        QCOMPARE(ClientSocket::isDottedIPv4(address), taken);
    }

    void aHostNameIsNeverLookedUp() {
        m_socket->setAddress("localhost");
        m_socket->open();
        // reported at once, and nothing reaches the listener
        QCOMPARE(m_errors, QList<int>{int(QAbstractSocket::HostNotFoundError)});
        QVERIFY(!m_socket->connecting());
        QTest::qWait(200);
        QVERIFY(m_accepted.isEmpty());
        QCOMPARE(m_connects, 0);
    }

    void anAddressErrorLeftSetRaises() {
        m_leaveCode = int(QAbstractSocket::HostNotFoundError);
        m_socket->setAddress("exam-server");
        QVERIFY_THROWS_EXCEPTION(fw::Error, m_socket->open());
        QCOMPARE(m_errors.size(), 1);
    }

    void aRefusedConnectionIsAnErrorAndTheNextOpenTriesAgain() {
        const quint16 closedPort = port();
        m_server->close();
        m_socket->setAddress("127.0.0.1");
        m_socket->open();
        QVERIFY(QTest::qWaitFor([&] { return !m_errors.isEmpty(); }, 5000));
        QCOMPARE(m_errors.first(), int(QAbstractSocket::ConnectionRefusedError));
        QVERIFY(!m_socket->connected());

        QVERIFY(m_server->listen(QHostAddress("127.0.0.1"), closedPort));
        m_socket->open();
        QVERIFY(QTest::qWaitFor([&] { return m_connects == 1; }, 5000));
    }

    void openWhileConnectingOrConnectedMakesNoSecondConnection() {
        m_socket->setAddress("127.0.0.1");
        m_socket->open();
        QVERIFY(m_socket->connecting());
        m_socket->open(); // still pending: no second attempt
        QVERIFY(QTest::qWaitFor([&] { return m_connects == 1; }, 5000));
        m_socket->open(); // connected: nothing
        QTest::qWait(200);
        QCOMPARE(m_connects, 1);
        QCOMPARE(m_accepted.size(), 1);
    }

    void theAddressOfAConnectedSocketStays() {
        connectToServer();
        QVERIFY_THROWS_EXCEPTION(fw::Error, m_socket->setAddress("127.0.0.2"));
        QCOMPARE(m_socket->address(), QString("127.0.0.1"));
        m_socket->setAddress("127.0.0.1"); // the same one: no error
        QVERIFY(m_socket->connected());

        m_socket->close();
        m_socket->setAddress("127.0.0.2"); // closed: taken
        QCOMPARE(m_socket->address(), QString("127.0.0.2"));
    }

    void aSendWithoutConnectionIsLostWithoutNotice() {
        m_socket->send("3x"); // never opened
        connectToServer();
        m_socket->close();
        QVERIFY(!m_socket->connected());
        m_socket->send("3y");
        QTest::qWait(200);
        QVERIFY(m_received.isEmpty());
        QVERIFY(m_errors.isEmpty());
    }

    void closeDropsTheConnectionAndOpenConnectsAnew() {
        connectToServer();
        QPointer<QTcpSocket> first = peer();
        m_socket->close();
        QVERIFY(first->state() == QAbstractSocket::UnconnectedState ||
                first->waitForDisconnected(5000));
        m_socket->open();
        QVERIFY(QTest::qWaitFor([&] { return m_connects == 2; }, 5000));
        QVERIFY(peer(1));
        m_socket->send("1A");
        QVERIFY(QTest::qWaitFor([&] { return !m_received.isEmpty(); }, 5000));
    }

    void aServerThatClosesIsAnError() {
        connectToServer();
        peer()->close();
        QVERIFY(QTest::qWaitFor([&] { return !m_errors.isEmpty(); }, 5000));
        QCOMPARE(m_errors.first(), int(QAbstractSocket::RemoteHostClosedError));
        QVERIFY(QTest::qWaitFor([&] { return !m_socket->connected(); }, 5000));
    }
};

MORVEL_TEST_MAIN(TestClientSocket)
#include "tst_clientsocket.moc"
