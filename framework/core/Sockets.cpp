#include "framework/core/Sockets.h"

#include "framework/core/Error.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

bool ClientConnection::heardFrom() const {
    if (m_heard || m_socket->bytesAvailable() > 0)
        return true;
    // Bytes the kernel holds that no read event has fetched yet (the
    // program was busy) count as well.
    int pending = 0;
    const qintptr fd = m_socket->socketDescriptor();
    return fd >= 0 && ::ioctl(int(fd), FIONREAD, &pending) == 0 && pending > 0;
}

QString ClientConnection::remoteAddress() const {
    const QHostAddress peer = m_socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : peer.toString();
}

namespace {

// After a failed accept the listener tries again this much later.
constexpr int ResumeDelay = 100;
// How often silent connections are looked for.
constexpr int SweepInterval = 500;

qint64 steadyNow() {
    return QDeadlineTimer::current().deadline();
}

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

ServerSocket::ServerSocket(QObject* parent)
    : QObject(parent), m_server(new QTcpServer(this)), m_resume(new QTimer(this)),
      m_sweep(new QTimer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, &ServerSocket::accepted);
    // Qt stops accepting after an error other than a passing one; nothing
    // would start it again.
    m_resume->setSingleShot(true);
    m_resume->setInterval(ResumeDelay);
    connect(m_resume, &QTimer::timeout, this, [this] {
        if (m_server->isListening())
            m_server->resumeAccepting();
    });
    connect(m_server, &QTcpServer::acceptError, this, [this] {
        m_resume->start();
        emit acceptError(m_server->errorString());
    });
    m_sweep->setInterval(SweepInterval);
    connect(m_sweep, &QTimer::timeout, this, [this] {
        resumeStalledAccepting();
        closeSilentOnes();
    });
}

void ServerSocket::accepted() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto* connection = new ClientConnection(socket, m_server);
        connection->m_acceptedAt = steadyNow();
        ++m_acceptedSinceLook;
        connect(socket, &QTcpSocket::readyRead, connection, [this, connection] {
            connection->m_heard = true;
            emit clientRead(connection);
        });
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
}

// Connections wait in the listen queue and none was accepted since the last
// look: accepting has stopped. Qt stops after an error such as running out
// of descriptors, and does not always say so; nothing would start it again.
void ServerSocket::resumeStalledAccepting() {
    const int accepted = std::exchange(m_acceptedSinceLook, 0);
    if (!m_server->isListening() || accepted > 0)
        return;
    pollfd queue{int(m_server->socketDescriptor()), POLLIN, 0};
    if (::poll(&queue, 1, 0) != 1 || !(queue.revents & POLLIN))
        return;
    m_server->resumeAccepting();
    // Said only when it is for want of descriptors.
    const int probe = ::fcntl(queue.fd, F_DUPFD_CLOEXEC, 0);
    if (probe >= 0)
        ::close(probe);
    else
        emit acceptError(QString::fromLocal8Bit(std::strerror(errno)));
}

void ServerSocket::closeSilentOnes() {
    if (m_silenceLimit <= 0)
        return;
    const qint64 now = steadyNow();
    const auto connections = m_server->findChildren<ClientConnection*>(Qt::FindDirectChildrenOnly);
    for (ClientConnection* connection : connections) {
        if (connection->m_heard || now - connection->m_acceptedAt < m_silenceLimit)
            continue;
        if (connection->heardFrom()) {
            connection->m_heard = true;
            continue;
        }
        const QString peer = connection->remoteAddress();
        drop(connection);
        emit silentClosed(peer);
    }
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
    m_sweep->start();
}

void ServerSocket::close() {
    m_resume->stop();
    m_sweep->stop();
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
