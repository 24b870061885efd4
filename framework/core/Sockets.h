#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace fw {

// One accepted connection of a ServerSocket.
class ClientConnection : public QObject {
    Q_OBJECT
public:
    explicit ClientConnection(QTcpSocket* socket, QObject* parent = nullptr);
    QByteArray receiveBytes();               // everything pending, at once
    void sendBytes(const QByteArray& bytes); // one send; lost without notice when closed
    QString remoteAddress() const;           // dotted decimal (IPv4-mapped IPv6 unwrapped)
    QTcpSocket* socket() const { return m_socket; }

    // Whether the peer has sent anything since the connection was accepted,
    // bytes still waiting unread included.
    bool heardFrom() const;
    qint64 acceptedAt() const { return m_acceptedAt; } // steady clock, ms

private:
    friend class ServerSocket;
    QTcpSocket* m_socket;
    qint64 m_acceptedAt = 0;
    bool m_heard = false;
};

// Non-blocking TCP listener on the GUI thread: every data-readable event of an
// accepted connection arrives as clientRead, every socket error as
// clientError with the socket layer's code. Nothing else is done about an
// error, whatever the handler leaves in errorCode; a connection that the error
// closed is dropped like any other that closes.
//
// Against a flood: when accepting fails (no descriptor left, for instance)
// or stalls with connections waiting, the listener says so by acceptError
// and tries again a moment later; with a silence limit set, a connection
// that has sent nothing that long after it was accepted is closed
// (silentClosed).
class ServerSocket : public QObject {
    Q_OBJECT
public:
    explicit ServerSocket(QObject* parent = nullptr);
    ~ServerSocket() override;

    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }
    void setListenBacklog(int size) { m_backlog = size; }
    int listenBacklog() const { return m_backlog; }
    // 0 (the default): a connection may stay silent for ever.
    void setSilenceLimit(int milliseconds) { m_silenceLimit = milliseconds; }
    int silenceLimit() const { return m_silenceLimit; }

    // Listens on all IPv4 addresses; nothing when listening already. A bind error
    // raises fw::Error with the socket layer's message.
    void open();
    // Stops listening and closes every accepted connection.
    void close();
    bool active() const;
    int connectionCount() const;

signals:
    void clientRead(fw::ClientConnection* socket);
    void clientError(fw::ClientConnection* socket, int& errorCode);
    void acceptError(const QString& reason);
    void silentClosed(const QString& peer);

private:
    void accepted();
    void closeSilentOnes();
    void resumeStalledAccepting();

    QTcpServer* m_server = nullptr;
    QTimer* m_resume = nullptr;
    QTimer* m_sweep = nullptr;
    quint16 m_port = 0;
    int m_backlog = 5;
    int m_silenceLimit = 0;
    int m_acceptedSinceLook = 0;
};

} // namespace fw
