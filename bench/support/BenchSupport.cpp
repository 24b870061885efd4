#include "BenchSupport.h"

#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <cstdio>
#include <malloc.h>
#include <stdexcept>
#include <unistd.h>

namespace bench {

void fail(const QString& what) {
    throw std::runtime_error(what.toStdString());
}

namespace {
void print(const char* kind, const QString& text) {
    std::printf("  [%s] %s\n", kind, qPrintable(text));
}
} // namespace

void PrintedDialogs::showMessage(const QString& text) {
    print("message", text);
}

int PrintedDialogs::messageBox(const QString& text, const QString&, unsigned) {
    print("question", text);
    return fw::IDOK;
}

int PrintedDialogs::messageDlg(const QString& text, fw::MsgDlgType, fw::MsgDlgButtons) {
    print("question", text);
    return fw::mrYes;
}

void PrintedDialogs::showError(const QString& message) {
    print("ERROR", message);
    ++errors;
}

Cluster::Cluster() {
    if (!m_folder.isValid())
        fail("no temporary folder");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const QString port = QString::number(probe.serverPort());
    probe.close();
    const QString data = m_folder.path() + "/pgdata";
    qputenv("MORVEL_PGDATA", data.toUtf8());
    qputenv("MORVEL_PGSOCKET", data.toUtf8());
    qputenv("MORVEL_PGLISTEN", "127.0.0.1");
    qputenv("PGPORT", port.toUtf8());
    qputenv("PGHOST", data.toUtf8());
    run("init");
    run("start");
}

Cluster::~Cluster() {
    try {
        run("stop");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
}

void Cluster::run(const QString& command) {
    QProcess db;
    db.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    db.start(MORVEL_DB_SCRIPT, {command});
    if (!db.waitForFinished(180000) || db.exitCode() != 0)
        fail("morvel-db " + command + " failed");
}

QSqlDatabase catalog() {
    QSqlDatabase db = QSqlDatabase::database("bench", false);
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase("QPSQL", "bench");
        db.setHostName(qEnvironmentVariable("PGHOST"));
        db.setPort(qEnvironmentVariableIntValue("PGPORT"));
        db.setDatabaseName("Morvel");
    }
    if (!db.isOpen() && !db.open())
        fail(db.lastError().text());
    return db;
}

void sql(const QString& statement, const QVariantList& values) {
    QSqlQuery query(catalog());
    bool done = false;
    if (values.isEmpty()) {
        done = query.exec(statement);
    } else if (query.prepare(statement)) {
        for (const QVariant& v : values)
            query.addBindValue(v);
        done = query.exec();
    }
    if (!done)
        fail(statement + ": " + query.lastError().text());
}

int count(const QString& statement) {
    QSqlQuery query(catalog());
    if (!query.exec(statement) || !query.next())
        fail(statement + ": " + query.lastError().text());
    return query.value(0).toInt();
}

long residentKb() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void resetPeak() {
    malloc_trim(0);
    QFile clear("/proc/self/clear_refs");
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        fail("cannot reset the peak of resident memory");
}

long peakKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

} // namespace bench
