#include "framework/core/Sockets.h"

#include "framework/core/Error.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <cstring>

namespace fw {

ClientConnection::ClientConnection(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket) {
    socket->setParent(this);
}

QByteArray ClientConnection::receiveBytes() {
    return m_socket->readAll();
}

void ClientConnection::sendBytes(const QByteArray& bytes) {
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_socket->write(bytes);
    m_socket->flush();
}

QString ClientConnection::remoteAddress() const {
    const QHostAddress peer = m_socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : peer.toString();
}

namespace {

// The operating system's text for a bind failure, as the socket layer words it.
QString bindErrorText(const QTcpServer& server) {
    switch (server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        return QString::fromLocal8Bit(std::strerror(EADDRINUSE));
    case QAbstractSocket::SocketAccessError:
        return QString::fromLocal8Bit(std::strerror(EACCES));
    default:
        return server.errorString();
    }
}

// A connection leaves the listener's list at once and is freed when the event
// loop that dropped it runs again, so a handler still running for it is safe.
void drop(ClientConnection* connection) {
    connection->setParent(nullptr);
    connection->socket()->abort();
    connection->deleteLater();
}

} // namespace

ServerSocket::ServerSocket(QObject* parent) : QObject(parent), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            auto* connection = new ClientConnection(socket, m_server);
            connect(socket, &QTcpSocket::readyRead, connection,
                    [this, connection] { emit clientRead(connection); });
            connect(socket, &QTcpSocket::errorOccurred, connection,
                    [this, connection](QAbstractSocket::SocketError error) {
                        int code = int(error);
                        emit clientError(connection, code);
                    });
            connect(socket, &QTcpSocket::disconnected, connection, [connection] {
                if (connection->parent())
                    drop(connection);
            });
        }
    });
}

ServerSocket::~ServerSocket() {
    close();
}

void ServerSocket::open() {
    if (m_server->isListening())
        return;
    m_server->setListenBacklogSize(m_backlog);
    // Every IPv4 address of the machine: the protocol and the examinee table
    // carry dotted IPv4 addresses (at most 15 characters), which an IPv6 peer
    // would not fit.
    if (!m_server->listen(QHostAddress::AnyIPv4, m_port))
        throw Error(bindErrorText(*m_server));
}

void ServerSocket::close() {
    m_server->close();
    const auto connections = m_server->findChildren<ClientConnection*>(Qt::FindDirectChildrenOnly);
    for (ClientConnection* connection : connections)
        drop(connection);
}

bool ServerSocket::active() const {
    return m_server->isListening();
}

int ServerSocket::connectionCount() const {
    return int(m_server->findChildren<ClientConnection*>(Qt::FindDirectChildrenOnly).size());
}

} // namespace fw
