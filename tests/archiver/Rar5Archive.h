#pragma once

#include <QByteArray>
#include <QList>

struct Rar5Entry {
    QByteArray name;
    QByteArray data;
    quint32 mode = 0100644; // a folder with S_IFDIR
};

// A RAR 5.0 archive with whatever names and modes the test asks for, made by
// the archiver's own writer.
QByteArray rar5Archive(const QList<Rar5Entry>& entries);
