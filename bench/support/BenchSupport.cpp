#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <stdexcept>
#include <sys/resource.h>
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
    m_data = m_folder.path() + "/pgdata";
    qputenv("MORVEL_PGDATA", m_data.toUtf8());
    qputenv("MORVEL_PGSOCKET", m_data.toUtf8());
    qputenv("MORVEL_PGLISTEN", "127.0.0.1");
    qputenv("PGPORT", port.toUtf8());
    qputenv("PGHOST", m_data.toUtf8());
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

long Cluster::memoryKb() const {
    QFile pidFile(m_data + "/postmaster.pid");
    if (!pidFile.open(QIODevice::ReadOnly))
        return 0;
    const QString postmaster = QString::fromLatin1(pidFile.readLine().trimmed());
    long total = procKb(postmaster, "smaps_rollup", "Pss:");
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!pid.at(0).isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // pid (comm) state ppid ...
        const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && QString::fromLatin1(rest[1]) == postmaster)
            total += procKb(pid, "smaps_rollup", "Pss:");
    }
    return total;
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

long procKb(const QString& pid, const QString& file, const QByteArray& key) {
    QFile proc("/proc/" + pid + "/" + file);
    if (!proc.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : proc.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return 0;
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
    return procKb("self", "status", "VmHWM:");
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

void raiseFileLimit() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
}

} // namespace bench
