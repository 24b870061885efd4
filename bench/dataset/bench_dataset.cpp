// The dataset layer beside plain QSqlQuery doing the same work in the same run.
//
//   bench_dataset [rows=10000] [edits=1000]
//
// It works in a scratch database "fwbench_dataset" of the cluster that
// PGHOST/PGPORT name (created afresh, dropped at the end), reached like the
// console: local socket, the operating-system user as role. For example, as
// the unprivileged user who builds:
//
//   export MORVEL_PGDATA=/tmp/bench-pg PGPORT=45432
//   build/database/morvel-db init && build/database/morvel-db start
//   eval "$(build/database/morvel-db env)"
//   build/bench/dataset/bench_dataset
//   build/database/morvel-db stop
//
// Printed: the time and rows per second of opening and walking the table,
// and of locating a row by exam number, editing and posting it; each beside
// the plain query's figure.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>

namespace {

const char* const kCatalog = "fwbench_dataset";

QString consoleText(const QString& catalog) {
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                          "Info=False;Initial Catalog=%1;Data Source=(local)")
        .arg(catalog);
}

QString examNo(int i) {
    return QStringLiteral("K%1").arg(i, 6, 10, QChar('0'));
}

void print(const char* what, int rows, qint64 ms, qint64 plainMs) {
    const auto rate = [rows](qint64 t) { return t > 0 ? rows * 1000.0 / double(t) : 0.0; };
    std::printf("%-28s %7d rows  dataset %7lld ms %10.0f rows/s   plain %7lld ms %10.0f rows/s\n",
                what, rows, static_cast<long long>(ms), rate(ms), static_cast<long long>(plainMs),
                rate(plainMs));
}

void run(int rows, int edits) {
    fw::Connection admin;
    admin.setConnectionString(consoleText(QStringLiteral("postgres")));
    admin.execute(QStringLiteral("set client_min_messages = warning"));
    admin.execute(QStringLiteral("drop database if exists %1 with (force)").arg(kCatalog));
    admin.execute(QStringLiteral("create database %1").arg(kCatalog));

    {
        fw::Connection db;
        db.setConnectionString(consoleText(QString::fromLatin1(kCatalog)));
        db.execute(QStringLiteral(
            "create table 考生信息 (考生ID integer primary key, 准考证号 varchar(50), "
            "姓名 varchar(50), 考试状态 varchar(50), 登录标志 integer)"));
        db.execute(QStringLiteral("insert into 考生信息 select i, 'K' || lpad(i::text, 6, '0'), "
                                  "'考生' || i, '', 0 from generate_series(1, %1) i")
                       .arg(rows));

        QVector<int> picks(edits);
        for (int& p : picks)
            p = QRandomGenerator::global()->bounded(rows) + 1;

        // The dataset layer.
        fw::Table table;
        table.setConnection(&db);
        table.setTableName(QStringLiteral("考生信息"));
        QElapsedTimer timer;
        timer.start();
        table.open();
        qint64 sum = 0;
        for (table.first(); !table.eof(); table.next())
            sum += table.fieldByName(QStringLiteral("考生ID")).asInteger() +
                   table.fieldByName(QStringLiteral("姓名")).asString().size();
        const qint64 walk = timer.elapsed();
        timer.restart();
        for (int i = 0; i < edits; ++i) {
            if (!table.locate(QStringLiteral("准考证号"), examNo(picks[i])))
                throw fw::Error(QStringLiteral("row %1 not found").arg(picks[i]));
            table.edit();
            table.fieldByName(QStringLiteral("考试状态"))
                .setAsString(QStringLiteral("正在考试中..."));
            table.fieldByName(QStringLiteral("登录标志")).setAsInteger(i % 2);
            table.post();
        }
        const qint64 post = timer.elapsed();

        // Plain Qt SQL, the same work.
        QSqlDatabase sqlDb = db.database();
        timer.restart();
        qint64 plainSum = 0;
        {
            QSqlQuery q(sqlDb);
            if (!q.exec(QStringLiteral("select * from 考生信息")))
                throw fw::DbError(q.lastError().text());
            while (q.next())
                plainSum += q.value(0).toInt() + q.value(2).toString().size();
        }
        const qint64 plainWalk = timer.elapsed();
        timer.restart();
        {
            QSqlQuery q(sqlDb);
            if (!q.prepare(QStringLiteral(
                    "update 考生信息 set 考试状态 = ?, 登录标志 = ? where 准考证号 = ?")))
                throw fw::DbError(q.lastError().text());
            for (int i = 0; i < edits; ++i) {
                q.addBindValue(QStringLiteral("交卷结束!"));
                q.addBindValue(i % 2);
                q.addBindValue(examNo(picks[i]));
                if (!q.exec())
                    throw fw::DbError(q.lastError().text());
            }
        }
        const qint64 plainPost = timer.elapsed();
        if (sum != plainSum)
            throw fw::Error(QStringLiteral("the walks read different values"));

        print("open and walk", rows, walk, plainWalk);
        print("locate, edit and post", edits, post, plainPost);
    }
    admin.execute(QStringLiteral("drop database if exists %1 with (force)").arg(kCatalog));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args.at(1).toInt() : 10000;
    const int edits = args.size() > 2 ? args.at(2).toInt() : 1000;
    if (rows < 1 || edits < 0) {
        std::fprintf(stderr, "usage: bench_dataset [rows] [edits]\n");
        return 2;
    }
    try {
        run(rows, edits);
    } catch (const fw::Error& e) {
        std::fprintf(stderr, "bench_dataset: %s\n", e.what());
        return 1;
    }
    return 0;
}
