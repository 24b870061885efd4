#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace fw {

// Non-blocking TCP client on the GUI thread: open() starts a connection and
// returns at once; the connection, every data-readable event and every
// socket error arrive later as signals from the event loop. The remote
// address is a dotted-decimal IPv4 address and is never looked up as a host
// name.
class ClientSocket : public QObject {
    Q_OBJECT
public:
    explicit ClientSocket(QObject* parent = nullptr);
    ~ClientSocket() override;

    // Refused with fw::Error while connected, unless the new address is the
    // same one (compared without regard to case).
    void setAddress(const QString& address);
    QString address() const { return m_address; }
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }

    // Starts connecting to the address and port; nothing while connected or
    // while an attempt is under way, so one connection carries one connect
    // event. An address that is not dotted-decimal IPv4 is reported through
    // error() at once; if the handler leaves the code set, it raises.
    void open();
    // Drops the connection or the attempt under way.
    void close();
    bool connected() const;
    bool connecting() const;

    QByteArray read();                  // everything pending, at once
    void send(const QByteArray& bytes); // one send; lost without notice when not connected

    // "a.b.c.d", four decimal numbers from 0 to 255 of at most three digits.
    static bool isDottedIPv4(const QString& address);

signals:
    void connectedToServer();
    void dataArrived();
    // Every socket error (address, connect, send, receive, close) with the
    // socket layer's code; the handler may set it to 0. Nothing else is done
    // about an error that arrives from the event loop.
    void error(int& errorCode);

private:
    QTcpSocket* m_socket;
    QString m_address;
    quint16 m_port = 0;
};

} // namespace fw
