// The dataset layer beside plain Qt SQL and plain libpq doing the same work in
// the same run.
//
//   bench_dataset [rows=10000] [edits=1000] [runs=5]
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
// Printed, each the median of the runs beside its yardstick measured in the
// same runs, with the ratio and the goal:
// - opening the table of examinees and walking its rows, beside a plain
//   QSqlQuery that reads the same rows;
// - locating a row by exam number, editing two columns and posting it, as many
//   times as asked, beside one prepared QSqlQuery update of a twin table run
//   as often;
// - a hand-in's post of a 2 MB archive through a table of archives that
//   defers its blobs (locate, edit, load the file, post), beside libpq reading
//   the file and upserting it with a binary parameter.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <libpq-fe.h>

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

double median(QVector<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

double msSince(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

struct Figure {
    const char* what;
    QVector<double> ours, yardstick;
    const char* yardstickName;
    double goal;
};

bool print(const Figure& f) {
    const double ours = median(f.ours), yard = median(f.yardstick);
    const double ratio = yard > 0 ? ours / yard : 0;
    const bool met = ratio <= f.goal;
    std::printf("%-34s %9.1f ms   %-30s %9.1f ms   %5.2fx   goal <= %.1fx  %s\n", f.what, ours,
                f.yardstickName, yard, ratio, f.goal, met ? "met" : "NOT MET");
    return met;
}

PGconn* libpq(fw::Connection& c) {
    const QVariant handle = c.database().driver()->handle();
    return *static_cast<PGconn* const*>(handle.constData());
}

bool run(int rows, int edits, int runs) {
    fw::Connection admin;
    admin.setConnectionString(consoleText(QStringLiteral("postgres")));
    admin.execute(QStringLiteral("set client_min_messages = warning"));
    admin.execute(QStringLiteral("drop database if exists %1 with (force)").arg(kCatalog));
    admin.execute(QStringLiteral("create database %1").arg(kCatalog));

    Figure walk{"open and walk", {}, {}, "plain QSqlQuery", 3.0};
    Figure post{"locate + edit + post", {}, {}, "one prepared update", 1.1};
    Figure store{"store a 2 MB archive (hand-in)", {}, {}, "libpq upsert, binary", 1.5};
    {
        fw::Connection db;
        db.setConnectionString(consoleText(QString::fromLatin1(kCatalog)));
        db.execute(QStringLiteral(
            "create table 考生信息 (考生ID integer primary key, 准考证号 varchar(50), "
            "姓名 varchar(50), 考试状态 varchar(50), 登录标志 integer)"));
        db.execute(QStringLiteral("insert into 考生信息 select i, 'K' || lpad(i::text, 6, '0'), "
                                  "'考生' || i, '', 0 from generate_series(1, %1) i")
                       .arg(rows));
        // The plain update finds its row by an index, as a post does by the key.
        db.execute(QStringLiteral("create unique index on 考生信息 (准考证号)"));
        // The plain updates go to a twin, so that they never meet the
        // dataset's rows.
        db.execute(QStringLiteral("create table 考生信息2 (like 考生信息 including all)"));
        db.execute(QStringLiteral("insert into 考生信息2 select * from 考生信息"));
        db.execute(QStringLiteral("create table 操作题答卷 (准考证号 text primary key, "
                                  "操作题答卷 bytea)"));
        db.execute(QStringLiteral("insert into 操作题答卷 select 'K' || lpad(i::text, 6, '0'), "
                                  "null from generate_series(1, 60) i"));
        db.execute(QStringLiteral("vacuum analyze"));
        QSqlDatabase sqlDb = db.database();

        QTemporaryDir folder;
        const QString archive = folder.path() + "/考生文件夹.rar";
        {
            QByteArray bytes(2 * 1024 * 1024, Qt::Uninitialized);
            for (char& b : bytes)
                b = char(QRandomGenerator::global()->bounded(256));
            QFile f(archive);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                throw fw::Error(QStringLiteral("cannot write %1").arg(archive));
        }

        for (int r = 0; r < runs; ++r) {
            QVector<int> picks(edits);
            for (int& p : picks)
                p = QRandomGenerator::global()->bounded(rows) + 1;

            // Open and walk: the dataset layer, then plain Qt SQL.
            QElapsedTimer timer;
            timer.start();
            qint64 sum = 0;
            fw::Table table;
            table.setConnection(&db);
            table.setTableName(QStringLiteral("考生信息"));
            table.open();
            for (table.first(); !table.eof(); table.next())
                sum += table.fieldByName(QStringLiteral("考生ID")).asInteger() +
                       table.fieldByName(QStringLiteral("姓名")).asString().size();
            walk.ours << msSince(timer);
            timer.restart();
            qint64 plainSum = 0;
            {
                QSqlQuery q(sqlDb);
                if (!q.exec(QStringLiteral("select * from 考生信息")))
                    throw fw::DbError(q.lastError().text());
                while (q.next())
                    plainSum += q.value(0).toInt() + q.value(2).toString().size();
            }
            walk.yardstick << msSince(timer);
            if (sum != plainSum)
                throw fw::Error(QStringLiteral("the walks read different values"));

            // Locate, edit and post; then one prepared update as often. In
            // turns of 50, so that both see the same load of the machine.
            QSqlQuery update(sqlDb);
            if (!update.prepare(QStringLiteral(
                    "update 考生信息2 set 考试状态 = ?, 登录标志 = ? where 准考证号 = ?")))
                throw fw::DbError(update.lastError().text());
            double ours = 0, plain = 0;
            for (int from = 0; from < edits; from += 50) {
                const int to = std::min(edits, from + 50);
                timer.restart();
                for (int i = from; i < to; ++i) {
                    if (!table.locate(QStringLiteral("准考证号"), examNo(picks[i])))
                        throw fw::Error(QStringLiteral("row %1 not found").arg(picks[i]));
                    table.edit();
                    table.fieldByName(QStringLiteral("考试状态"))
                        .setAsString(QStringLiteral("正在考试中..."));
                    table.fieldByName(QStringLiteral("登录标志")).setAsInteger(i % 2);
                    table.post();
                }
                ours += msSince(timer);
                timer.restart();
                for (int i = from; i < to; ++i) {
                    update.addBindValue(QStringLiteral("正在考试中..."));
                    update.addBindValue(i % 2);
                    update.addBindValue(examNo(picks[i]));
                    if (!update.exec())
                        throw fw::DbError(update.lastError().text());
                }
                plain += msSince(timer);
            }
            post.ours << ours;
            post.yardstick << plain;
            table.close();

            // A hand-in's post, through the table of archives as the exam
            // window holds it; then libpq's upsert of the same file.
            fw::Table archives;
            archives.setConnection(&db);
            archives.setTableName(QStringLiteral("操作题答卷"));
            archives.setBlobsDeferred(true);
            archives.open();
            for (int k = 0; k < 3; ++k) {
                const QString no = examNo(r * 6 + k * 2 + 1);
                timer.restart();
                if (archives.locate(QStringLiteral("准考证号"), no)) {
                    archives.edit();
                } else {
                    archives.append();
                    archives.fieldByName(QStringLiteral("准考证号")).setAsString(no);
                }
                archives.fieldByName(QStringLiteral("操作题答卷")).loadFromFile(archive);
                archives.post();
                store.ours << msSince(timer);

                timer.restart();
                QFile file(archive);
                if (!file.open(QIODevice::ReadOnly))
                    throw fw::Error(QStringLiteral("cannot read %1").arg(archive));
                const QByteArray bytes = file.readAll();
                const QByteArray key = examNo(r * 6 + k * 2 + 2).toUtf8();
                const char* values[] = {key.constData(), bytes.constData()};
                const int lengths[] = {0, int(bytes.size())};
                const int formats[] = {0, 1};
                PGresult* res = PQexecParams(
                    libpq(db),
                    "insert into 操作题答卷 (准考证号, 操作题答卷) values ($1, $2) "
                    "on conflict (准考证号) do update set 操作题答卷 = excluded.操作题答卷",
                    2, nullptr, values, lengths, formats, 0);
                const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
                PQclear(res);
                if (!ok)
                    throw fw::DbError(QStringLiteral("the upsert failed"));
                store.yardstick << msSince(timer);
            }
            archives.close();
        }
    }
    admin.execute(QStringLiteral("drop database if exists %1 with (force)").arg(kCatalog));

    std::printf("%d rows, %d edits, medians of %d runs\n", rows, edits, runs);
    bool met = print(walk);
    met = print(post) && met;
    met = print(store) && met;
    return met;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args.at(1).toInt() : 10000;
    const int edits = args.size() > 2 ? args.at(2).toInt() : 1000;
    const int runs = args.size() > 3 ? args.at(3).toInt() : 5;
    if (rows < 1 || edits < 1 || runs < 1) {
        std::fprintf(stderr, "usage: bench_dataset [rows] [edits] [runs]\n");
        return 2;
    }
    try {
        return run(rows, edits, runs) ? 0 : 1;
    } catch (const fw::Error& e) {
        std::fprintf(stderr, "bench_dataset: %s\n", e.what());
        return 2;
    }
}
