#include "framework/core/Drives.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

namespace fw {

QString driveRoot(QChar letter) {
    const QChar upper = letter.toUpper();
    const QByteArray name = "MORVEL_DRIVE_" + QString(upper).toLatin1();
    const QString set = qEnvironmentVariable(name.constData());
    if (!set.isEmpty())
        return QDir::cleanPath(set);
    return QDir::homePath() + "/.local/share/Morvel/drives/" + QString(upper.toLower());
}

QString hostPath(const QString& windowsPath) {
    static const QRegularExpression drive("^[A-Za-z]:");
    QString rest = windowsPath;
    QString root;
    if (drive.match(windowsPath).hasMatch()) {
        root = driveRoot(windowsPath.at(0));
        rest = windowsPath.mid(2);
        if (!rest.isEmpty() && rest.at(0) != '\\' && rest.at(0) != '/')
            rest.prepend('/');
    }
    rest.replace('\\', '/');
    return root + rest;
}

QString executableFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith('/'))
        dir += '/';
    return dir;
}

} // namespace fw
