// The listener: real TCP clients on the loopback address.
#include "framework/core/Error.h"
#include "framework/core/Sockets.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <memory>

using fw::ClientConnection;
using fw::ServerSocket;

namespace {

// A port that nothing listens on right now.
quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, 0))
        return 0;
    return probe.serverPort();
}

std::unique_ptr<QTcpSocket> connectedClient(quint16 port) {
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
    client->waitForConnected(5000);
    return client;
}

} // namespace

class TestSockets : public QObject {
    Q_OBJECT

private:
    quint16 m_port = 0;
    std::unique_ptr<ServerSocket> m_server;
    QList<QByteArray> m_reads;
    QStringList m_peers;

    // Waits until the listener has delivered n reads.
    bool waitForReads(int n) {
        return QTest::qWaitFor([&] { return m_reads.size() >= n; }, 5000);
    }

private slots:
    void init() {
        m_port = freePort();
        QVERIFY(m_port != 0);
        m_server = std::make_unique<ServerSocket>();
        m_server->setPort(m_port);
        m_reads.clear();
        m_peers.clear();
        connect(m_server.get(), &ServerSocket::clientRead, this, [this](ClientConnection* c) {
            m_reads << c->receiveBytes();
            m_peers << c->remoteAddress();
            if (m_reads.last().startsWith('1'))
                c->sendBytes("00");
        });
    }

    void cleanup() { m_server.reset(); }

    void readDeliversBytesAndTheAnswerGoesBack() {
        m_server->open();
        QVERIFY(m_server->active());
        auto client = connectedClient(m_port);
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);

        const QByteArray login = QByteArray("1\xD5\xC5\xC8\xFD") + "0001"; // GBK bytes
        client->write(login);
        QVERIFY(waitForReads(1));
        QCOMPARE(m_reads, QList<QByteArray>{login});
        QCOMPARE(m_peers, QStringList{"127.0.0.1"});

        QVERIFY(client->waitForReadyRead(5000));
        QCOMPARE(client->readAll(), QByteArray("00"));
    }

    void everyReadIsOneMessage() {
        m_server->open();
        auto client = connectedClient(m_port);
        client->write("2A");
        QVERIFY(waitForReads(1));
        client->write("3B");
        QVERIFY(waitForReads(2));
        QCOMPARE(m_reads, (QList<QByteArray>{"2A", "3B"}));
        QCOMPARE(m_server->connectionCount(), 1);
    }

    void eachConnectionIsAnsweredOnItsOwn() {
        m_server->open();
        auto first = connectedClient(m_port);
        auto second = connectedClient(m_port);
        second->write("1B");
        QVERIFY(waitForReads(1));
        QVERIFY(second->waitForReadyRead(5000));
        QCOMPARE(second->readAll(), QByteArray("00"));
        QCOMPARE(first->bytesAvailable(), 0);
        QVERIFY(!first->waitForReadyRead(200));
    }

    void closeDropsEveryClientAndStopsListening() {
        m_server->open();
        auto a = connectedClient(m_port);
        auto b = connectedClient(m_port);
        QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 2; }, 5000));

        m_server->close();
        QVERIFY(!m_server->active());
        QCOMPARE(m_server->connectionCount(), 0);
        for (QTcpSocket* c : {a.get(), b.get()})
            QVERIFY(c->state() == QAbstractSocket::UnconnectedState ||
                    c->waitForDisconnected(5000));

        QTcpSocket late;
        late.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), m_port);
        QVERIFY(!late.waitForConnected(2000));
        QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
    }

    void reopensAfterClose() {
        m_server->open();
        m_server->close();
        m_server->open();
        auto client = connectedClient(m_port);
        client->write("1X");
        QVERIFY(waitForReads(1));
        QVERIFY(client->waitForReadyRead(5000));
        QCOMPARE(client->readAll(), QByteArray("00"));
    }

    void openWhileListeningDoesNothing() {
        m_server->open();
        auto client = connectedClient(m_port);
        QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 1; }, 5000));
        m_server->open();
        QVERIFY(m_server->active());
        QCOMPARE(m_server->connectionCount(), 1);
        client->write("2A");
        QVERIFY(waitForReads(1));
    }

    void aClientThatLeavesIsFreed() {
        m_server->open();
        auto client = connectedClient(m_port);
        QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 1; }, 5000));
        client->disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 0; }, 5000));
        QVERIFY(m_server->active());
    }

    void sendOnAClosedConnectionIsLostWithoutNotice() {
        QPointer<ClientConnection> closed;
        bool handled = false;
        connect(m_server.get(), &ServerSocket::clientRead, this, [&](ClientConnection* c) {
            if (!m_reads.last().startsWith('9'))
                return;
            c->socket()->abort();
            c->sendBytes("11"); // nothing is sent, nothing raised
            closed = c;
            handled = true;
        });
        m_server->open();
        auto client = connectedClient(m_port);
        client->write("9A");
        QVERIFY(waitForReads(1));
        QVERIFY(handled);
        QVERIFY(client->state() == QAbstractSocket::UnconnectedState ||
                client->waitForDisconnected(5000));
        QCOMPARE(client->readAll(), QByteArray());
        QVERIFY(QTest::qWaitFor([&] { return closed.isNull(); }, 5000)); // and freed
        QCOMPARE(m_server->connectionCount(), 0);
    }

    void errorsReachTheHandlerAndAreDropped() {
        QList<int> codes;
        connect(m_server.get(), &ServerSocket::clientError, this,
                [&](ClientConnection* c, int& code) {
                    QVERIFY(c);
                    codes << code;
                    code = 0;
                });
        m_server->open();
        auto leaving = connectedClient(m_port);
        QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 1; }, 5000));
        leaving->abort();
        QVERIFY(QTest::qWaitFor([&] { return !codes.isEmpty(); }, 5000));
        QCOMPARE(codes.first(), int(QAbstractSocket::RemoteHostClosedError));
        // the listener and the other clients go on
        auto staying = connectedClient(m_port);
        staying->write("1A");
        QVERIFY(waitForReads(1));
        QVERIFY(staying->waitForReadyRead(5000));
        QCOMPARE(staying->readAll(), QByteArray("00"));
    }

    void bindErrorWhenThePortIsTaken() {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::Any, m_port));
        try {
            m_server->open();
            QFAIL("open() on a taken port did not raise");
        } catch (const fw::Error& e) {
            QCOMPARE(e.message(), QStringLiteral("Address already in use"));
        }
        QVERIFY(!m_server->active());
        holder.close();
        m_server->open(); // a further press succeeds once the port is free
        QVERIFY(m_server->active());
    }

    // With a silence limit, a connection that sent nothing that long after
    // it was accepted is closed and named; one that spoke stays, however
    // long it is silent afterwards.
    void silentConnectionsAreClosed() {
        QStringList closed;
        connect(m_server.get(), &ServerSocket::silentClosed, this,
                [&](const QString& peer) { closed << peer; });
        m_server->setSilenceLimit(300);
        m_server->open();
        auto silent = connectedClient(m_port);
        auto speaking = connectedClient(m_port);
        speaking->write("1A");
        QVERIFY(waitForReads(1));
        QVERIFY(speaking->waitForReadyRead(5000));
        QVERIFY(QTest::qWaitFor([&] { return !closed.isEmpty(); }, 5000));
        QCOMPARE(closed, QStringList{"127.0.0.1"});
        QVERIFY(silent->state() == QAbstractSocket::UnconnectedState ||
                silent->waitForDisconnected(5000));
        QTest::qWait(800);
        QCOMPARE(m_server->connectionCount(), 1);
        QCOMPARE(speaking->state(), QAbstractSocket::ConnectedState);
    }

    // Bytes that arrived while the program was busy, not yet read, count as
    // sent: the connection is not closed for silence.
    void bytesWaitingUnreadCountAsSent() {
        QStringList closed;
        connect(m_server.get(), &ServerSocket::silentClosed, this,
                [&](const QString& peer) { closed << peer; });
        m_server->setSilenceLimit(300);
        m_server->open();
        auto client = connectedClient(m_port);
        QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 1; }, 5000));
        auto* connection = m_server->findChild<ClientConnection*>();
        QVERIFY(connection);
        QVERIFY(!connection->heardFrom());
        client->write("1A");
        client->flush();
        QThread::msleep(800); // busy: no event is handled, the bytes wait in the system
        QVERIFY(connection->heardFrom());
        QVERIFY(waitForReads(1));
        QTest::qWait(800);
        QCOMPARE(closed, QStringList());
        QCOMPARE(m_server->connectionCount(), 1);
    }

    void listensOnIPv4AddressesWithAQueueOfFive() {
        QCOMPARE(m_server->listenBacklog(), 5);
        m_server->open();
        // An IPv6 peer's address would not fit the examinee table's IP.
        QTcpSocket v6;
        v6.connectToHost(QHostAddress::LocalHostIPv6, m_port);
        QVERIFY(!v6.waitForConnected(2000));
        auto v4 = connectedClient(m_port);
        v4->write("2A");
        QVERIFY(waitForReads(1));
        QCOMPARE(m_peers, QStringList{"127.0.0.1"});
    }
};

MORVEL_TEST_MAIN(TestSockets)
#include "tst_sockets.moc"
