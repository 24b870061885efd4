#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

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

private:
    QTcpSocket* m_socket;
};

// Non-blocking TCP listener on the GUI thread: every data-readable event of an
// accepted connection arrives as clientRead, every socket error as
// clientError with the socket layer's code. Nothing else is done about an
// error, whatever the handler leaves in errorCode; a connection that the error
// closed is dropped like any other that closes.
class ServerSocket : public QObject {
    Q_OBJECT
public:
    explicit ServerSocket(QObject* parent = nullptr);
    ~ServerSocket() override;

    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }
    void setListenBacklog(int size) { m_backlog = size; }
    int listenBacklog() const { return m_backlog; }

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

private:
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    int m_backlog = 5;
};

} // namespace fw
