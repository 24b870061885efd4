#include "framework/core/ClientSocket.h"

#include "framework/core/Error.h"

#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>
#include <optional>

namespace fw {

ClientSocket::ClientSocket(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this)) {
    connect(m_socket, &QTcpSocket::connected, this, &ClientSocket::connectedToServer);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSocket::dataArrived);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        int code = int(e);
        emit error(code);
    });
}

ClientSocket::~ClientSocket() {
    // No event of the dying socket reaches the handlers.
    m_socket->disconnect(this);
    m_socket->abort();
}

namespace {

// The address of "a.b.c.d" (four decimal numbers from 0 to 255, leading
// zeros read as decimal), or nothing.
std::optional<quint32> dottedIPv4(const QString& address) {
    const QStringList parts = address.split('.');
    if (parts.size() != 4)
        return std::nullopt;
    quint32 ip = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (const QChar c : part)
            if (c < '0' || c > '9')
                return std::nullopt;
        const int n = part.toInt();
        if (n > 255)
            return std::nullopt;
        ip = ip << 8 | quint32(n);
    }
    return ip;
}

} // namespace

bool ClientSocket::isDottedIPv4(const QString& address) {
    return dottedIPv4(address).has_value();
}

void ClientSocket::setAddress(const QString& address) {
    if (address.compare(m_address, Qt::CaseInsensitive) == 0)
        return;
    if (connected())
        throw Error(QStringLiteral("The address of a connected socket cannot be changed."));
    m_address = address;
}

void ClientSocket::open() {
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    const std::optional<quint32> ip = dottedIPv4(m_address);
    if (!ip) {
        int code = int(QAbstractSocket::HostNotFoundError);
        emit error(code);
        if (code != 0)
            throw Error(
                QStringLiteral("'%1' is not a dotted-decimal IPv4 address.").arg(m_address));
        return;
    }
    m_socket->connectToHost(QHostAddress(*ip), m_port);
}

void ClientSocket::close() {
    m_socket->abort();
}

bool ClientSocket::connected() const {
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

bool ClientSocket::connecting() const {
    const auto state = m_socket->state();
    return state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
}

QByteArray ClientSocket::read() {
    return m_socket->readAll();
}

void ClientSocket::send(const QByteArray& bytes) {
    if (!connected())
        return;
    m_socket->write(bytes);
    m_socket->flush();
}

} // namespace fw
