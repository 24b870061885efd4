// GrantPermissions and the client's login Morvel: after the grant the login
// can do everything the client does, on the rows of the examinee admitted from
// its address, and nothing else.

#include "Catalog.h"

#include "../support/TestMain.h"

class TestRights : public QObject {
    Q_OBJECT

    PgSession db = PgSession::owner();

    // Every right that Morvel holds in the catalog, as one sorted text.
    QString rightsOfMorvel() {
        return db
            .value(
                "select string_agg(r, ', ' order by r) from ("
                " select 'database ' || privilege_type as r from (select (aclexplode(datacl)).* "
                "  from pg_database where datname = current_database()) a"
                "  where grantee = (select oid from pg_roles where rolname = 'Morvel')"
                " union all select 'schema ' || privilege_type from (select "
                "  (aclexplode(nspacl)).* from pg_namespace where nspname = 'public') a"
                "  where grantee = (select oid from pg_roles where rolname = 'Morvel')"
                " union all select 'table ' || table_name || ' ' || privilege_type"
                "  from information_schema.role_table_grants where grantee = 'Morvel'"
                " union all select 'column ' || table_name || '.' || column_name || ' ' || "
                "  privilege_type from information_schema.column_privileges c"
                "  where grantee = 'Morvel' and not exists (select 1 from "
                "  information_schema.role_table_grants t where t.grantee = 'Morvel' and "
                "  t.table_name = c.table_name and t.privilege_type = c.privilege_type)"
                " union all select 'routine ' || p.proname from pg_proc p, aclexplode(p.proacl) a"
                "  where a.grantee = (select oid from pg_roles where rolname = 'Morvel')) x")
            .toString();
    }
    // 0001 was admitted from this test's address (the client sessions come
    // from 127.0.0.1), 0002 from another PC; 0003 sat at this address in an
    // exam that is collected.
    void seed() {
        resetCatalog(db);
        db.must("insert into 考试情况 (班级, 是否选择, 是否已考) values ('一班', 1, 0), ('二班', "
                "0, 0), ('三班', 1, 1)");
        db.must("insert into 考生信息 (准考证号, 姓名, 班级, ip, 登录标志) values ('0001', '张三', "
                "'一班', '127.0.0.1', 1), ('0002', '李四', '一班', '10.0.0.2', 1), ('0003', "
                "'王五', '三班', '127.0.0.1', 1), ('0004', '赵六', '二班', '', 0)");
        db.must("insert into 选择题 (id, subject, a, b, c, d, answer) values (1, 'q', 'a', 'b', "
                "'c', 'd', 'A')");
        db.must("insert into 判断题 (id, subject, answer) values (1, 'q', '1')");
        db.must("insert into 填空题 (id, subject, answer) values (1, 'q', 'x')");
        db.must("insert into 操作题 (id, subject1, examfolder) values (1, 't', '\\x52617221')");
        db.must(
            "insert into 试卷表 (准考证号, 题号, 试题类别, 答题结果) values ('0001', 1, 1, ''), "
            "('0001', 1, 2, ''), ('0001', 1, 3, ''), ('0002', 1, 1, 'C'), ('0003', 1, 1, 'D')");
        db.must("insert into 作弊处理 (准考证号, 备注) values ('0002', '夹带')");
        db.must("insert into 操作题答卷 (准考证号, 操作题答卷) values ('0002', 'Rar!other'), "
                "('0003', 'Rar!earlier')");
    }
    // What another examinee's rows hold; no statement of the client may
    // change it.
    QStringList othersRows() {
        QStringList out;
        for (const auto& row :
             db.must("select 准考证号 || ':' || coalesce(答题结果, '') from 试卷表 where 准考证号 "
                     "<> '0001' union all select 准考证号 || ':' || encode(操作题答卷, 'escape') "
                     "from 操作题答卷 where 准考证号 <> '0001' order by 1"))
            out << row.value(0).toString();
        return out;
    }

private slots:
    void initTestCase() { QVERIFY2(db.connected(), qPrintable(db.connectError())); }

    // Before any grant (rights taken back as a fresh catalog has them) the
    // login cannot even connect; afterwards it holds exactly its list.
    void grantsExactlyTheClientsRights() {
        db.must("revoke all on database \"Morvel\" from \"Morvel\"");
        db.must("revoke all on schema public from \"Morvel\"");
        db.must("revoke all on all tables in schema public from \"Morvel\"");
        db.must("revoke all on all functions in schema public from \"Morvel\"");
        QCOMPARE(rightsOfMorvel(), QString());
        PgSession before = PgSession::client();
        QVERIFY(!before.connected());
        QVERIFY2(before.connectError().contains("permission denied for database"),
                 qPrintable(before.connectError()));

        const auto out = db.run("call grantpermissions()");
        QVERIFY2(out.ok, qPrintable(out.message));
        const QString granted = rightsOfMorvel();
        QCOMPARE(granted,
                 QString("column 判断题.id SELECT, column 判断题.pic SELECT, column 判断题.subject "
                         "SELECT, column 填空题.id SELECT, column 填空题.pic SELECT, column "
                         "填空题.subject SELECT, column 操作题答卷.准考证号 INSERT, column "
                         "操作题答卷.准考证号 UPDATE, column 操作题答卷.操作题答卷 INSERT, column "
                         "操作题答卷.操作题答卷 UPDATE, column 试卷表.答题结果 UPDATE, column "
                         "选择题.a SELECT, column 选择题.b SELECT, column 选择题.c SELECT, column "
                         "选择题.d SELECT, column 选择题.id SELECT, column 选择题.pic SELECT, "
                         "column 选择题.subject SELECT, database CONNECT, routine "
                         "morvel_client_address, schema USAGE, table 操作题 SELECT, table "
                         "操作题答卷 SELECT, table 考生信息 SELECT, table 考试情况 SELECT, table "
                         "试卷表 SELECT"));

        // again and again: the same rights; extra rights are taken back
        db.must("grant insert, delete on 考生信息 to \"Morvel\"");
        db.must("grant select on 作弊处理 to \"Morvel\"");
        QVERIFY(db.run("call grantpermissions()").ok);
        QVERIFY(db.run("call grantpermissions()").ok);
        QCOMPARE(rightsOfMorvel(), granted);
    }

    // What the client sends, in the platform's dialect, works as Morvel.
    void clientWorksAsMorvel() {
        seed();
        QVERIFY(db.run("call grantpermissions()").ok);
        PgSession client = PgSession::client();
        QVERIFY2(client.connected(), qPrintable(client.connectError()));

        QCOMPARE(client
                     .must("select a.* from 考生信息 a inner join 考试情况 b on a.班级=b.班级 "
                           "where b.是否选择=1 and b.是否已考=0 and a.准考证号= $1",
                           {"0001"})
                     .size(),
                 1);
        const auto choice = client.must(
            "select a.ID,a.subject,a.a,a.b,a.c,a.d,a.pic,b.QuestionID,b.准考证号,b.题号,"
            "b.试题类别,b.答题结果 from 选择题 a inner join 试卷表 b on a.id=b.题号 where "
            "试题类别=1 "
            "and  准考证号=$1 order by random() limit 5",
            {"0001"});
        QCOMPARE(choice.size(), 1);
        for (const char* table : {"判断题", "填空题"}) {
            const int kind = QString(table) == "判断题" ? 2 : 3;
            QCOMPARE(client
                         .must(QString("select a.ID,a.subject,a.pic,b.QuestionID,b.准考证号,b.题号,"
                                       "b.试题类别,b.答题结果 from %1 a  inner join 试卷表 b on "
                                       "a.id=b.题号 where  试题类别=%2 and 准考证号=$1 order by "
                                       "random() limit 5")
                                   .arg(table)
                                   .arg(kind),
                               {"0001"})
                         .size(),
                     1);
        }
        QCOMPARE(client.must("select * from 操作题").size(), 1);
        QCOMPARE(client.must("select * from 考试情况").size(), 3);

        // the data-aware posts: an answer by the paper row's key, an archive
        // appended and then replaced
        const QVariant question = choice[0][7];
        QCOMPARE(client
                     .must("update 试卷表 set 答题结果 = $1 where questionid = $2 returning *",
                           {"B", question})
                     .size(),
                 1);
        QCOMPARE(client.must("select * from 操作题答卷").size(), 0); // not another's
        QCOMPARE(client
                     .must("insert into 操作题答卷 (准考证号, 操作题答卷) values ($1, $2) "
                           "returning *",
                           {"0001", QByteArray("Rar!first")})
                     .size(),
                 1);
        QCOMPARE(client
                     .must("update 操作题答卷 set 操作题答卷 = $1 where 准考证号 = $2 returning *",
                           {QByteArray("Rar!second"), "0001"})
                     .size(),
                 1);
        QCOMPARE(
            db.value("select 操作题答卷 from 操作题答卷 where 准考证号 = '0001'").toByteArray(),
            QByteArray("Rar!second"));
        QCOMPARE(
            db.value("select 答题结果 from 试卷表 where questionid = $1", {question}).toString(),
            QString("B"));
    }

    void refusesEverythingElse_data() {
        QTest::addColumn<QString>("sql");
        QTest::newRow("update examinee") << "update 考生信息 set 登录标志 = 0";
        QTest::newRow("insert examinee") << "insert into 考生信息 (准考证号) values ('9999')";
        QTest::newRow("delete examinee") << "delete from 考生信息";
        QTest::newRow("update class") << "update 考试情况 set 是否选择 = 1";
        QTest::newRow("insert class") << "insert into 考试情况 (班级) values ('三班')";
        QTest::newRow("read cheating") << "select * from 作弊处理";
        QTest::newRow("write cheating") << "insert into 作弊处理 (准考证号) values ('0001')";
        QTest::newRow("change a paper's question") << "update 试卷表 set 题号 = 2";
        QTest::newRow("add a paper row")
            << "insert into 试卷表 (准考证号, 题号, 试题类别) values ('0001', 1, 1)";
        QTest::newRow("delete paper rows") << "delete from 试卷表";
        QTest::newRow("read multiple-choice answers") << "select answer from 选择题";
        QTest::newRow("read true/false answers") << "select * from 判断题";
        QTest::newRow("read fill-in answers") << "select answer from 填空题";
        QTest::newRow("change a question") << "update 选择题 set subject = 'x'";
        QTest::newRow("change a task") << "update 操作题 set subject1 = 'x'";
        QTest::newRow("delete an archive") << "delete from 操作题答卷";
        QTest::newRow("import examinees")
            << "call importexamineeinfo(filename => '/nonexistent.xls')";
        QTest::newRow("mark") << "call mark(scoredb => '/tmp/x.mdb', classname => '一班')";
        QTest::newRow("grant itself") << "call grantpermissions()";
        QTest::newRow("read files") << "select * from morvel_xls_sheet('/etc/passwd')";
        QTest::newRow("create a table") << "create table mine (x integer)";
        QTest::newRow("temporary table") << "create temporary table mine (x integer)";
        QTest::newRow("move a paper row to another examinee")
            << "update 试卷表 set 准考证号 = '0002' where 准考证号 = '0001'";
        QTest::newRow("lock the papers") << "lock table 试卷表 in exclusive mode";
        QTest::newRow("lock the archives") << "lock table 操作题答卷 in share row exclusive mode";
        QTest::newRow("lock the examinees") << "select * from 考生信息 for share";
        QTest::newRow("end another session") << "select pg_terminate_backend(pg_backend_pid())";
        QTest::newRow("cancel another session") << "select pg_cancel_backend(pg_backend_pid())";
        QTest::newRow("make a large object") << "select lo_creat(-1)";
        QTest::newRow("large object from bytes") << "select lo_from_bytea(0, 'x')";
        QTest::newRow("read other sessions' statements") << "select query from pg_stat_activity";
        QTest::newRow("a new password") << "alter role \"Morvel\" password 'mine'";
        QTest::newRow("a new password, as user") << "alter user current_user password 'mine'";
        QTest::newRow("a setting of its own")
            << "alter role \"Morvel\" set default_transaction_read_only = on";
        QTest::newRow("a setting in the catalog") << "alter role \"Morvel\" in database \"Morvel\" "
                                                     "set default_transaction_read_only = on";
        QTest::newRow("another role") << "set role none";
        QTest::newRow("another session user") << "set session authorization default";
    }
    void refusesEverythingElse() {
        QFETCH(QString, sql);
        seed();
        QVERIFY(db.run("call grantpermissions()").ok);
        PgSession client = PgSession::client();
        QVERIFY2(client.connected(), qPrintable(client.connectError()));
        client.must("begin"); // a table lock is taken inside a transaction only
        const auto out = client.run(sql);
        QVERIFY2(!out.ok, "the login was allowed to do it");
        QCOMPARE(out.sqlstate, QString("42501")); // insufficient_privilege
    }

    // The rows of 试卷表 and 操作题答卷 that the client may touch: its own
    // examinee's (admitted from this address, class sitting now), no one
    // else's. A statement that touches no row of its own answers 0 rows.
    void touchesOnlyItsOwnRows_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("rows");
        QTest::newRow("read its paper") << "select * from 试卷表" << 3;
        QTest::newRow("read another's answers")
            << "select * from 试卷表 where 准考证号 = '0002'" << 0;
        QTest::newRow("answer its question") << "update 试卷表 set 答题结果 = 'B' where 准考证号 = "
                                                "'0001' and 试题类别 = 1 returning *"
                                             << 1;
        QTest::newRow("answer another's question")
            << "update 试卷表 set 答题结果 = 'B' where 准考证号 <> '0001' returning *" << 0;
        QTest::newRow("row-lock its paper") << "select * from 试卷表 for update" << 3;
        QTest::newRow("row-lock another's paper")
            << "select * from 试卷表 where 准考证号 = '0002' for update" << 0;
        QTest::newRow("read the archives") << "select * from 操作题答卷" << 0;
        QTest::newRow("overwrite another's archive")
            << "update 操作题答卷 set 操作题答卷 = 'Rar!mine' returning *" << 0;
        QTest::newRow("row-lock another's archive") << "select * from 操作题答卷 for update" << 0;
        QTest::newRow("store its archive")
            << "insert into 操作题答卷 (准考证号, 操作题答卷) values ('0001', 'Rar!') returning *"
            << 1;
    }
    void touchesOnlyItsOwnRows() {
        QFETCH(QString, sql);
        QFETCH(int, rows);
        seed();
        QVERIFY(db.run("call grantpermissions()").ok);
        const QStringList others = othersRows();
        PgSession client = PgSession::client();
        QVERIFY2(client.connected(), qPrintable(client.connectError()));
        QCOMPARE(client.must(sql).size(), rows);
        QCOMPARE(othersRows(), others);
    }

    // Rows of another examinee, or of one whose exam is collected, cannot be
    // made or taken over.
    void refusesAnotherExamineesArchive_data() {
        QTest::addColumn<QString>("sql");
        QTest::newRow("another's, admitted elsewhere")
            << "insert into 操作题答卷 (准考证号, 操作题答卷) values ('0004', 'Rar!')";
        QTest::newRow("one collected, admitted here")
            << "insert into 操作题答卷 (准考证号, 操作题答卷) values ('0003', 'Rar!') on conflict "
               "(准考证号) do update set 操作题答卷 = excluded.操作题答卷";
        QTest::newRow("its own given away")
            << "update 操作题答卷 set 准考证号 = '0004' where 准考证号 = '0001'";
    }
    void refusesAnotherExamineesArchive() {
        QFETCH(QString, sql);
        seed();
        db.must("insert into 操作题答卷 (准考证号, 操作题答卷) values ('0001', 'Rar!mine')");
        QVERIFY(db.run("call grantpermissions()").ok);
        const QStringList others = othersRows();
        PgSession client = PgSession::client();
        const auto out = client.run(sql);
        QVERIFY2(!out.ok, "the login was allowed to do it");
        QCOMPARE(out.sqlstate, QString("42501"));
        QCOMPARE(othersRows(), others);
    }

    // The client's rows follow the address the console records: after a
    // readmission from another PC, the old address has none, the new one has
    // the examinee's rows with the answers already given.
    void followsTheRecordedAddress() {
        seed();
        QVERIFY(db.run("call grantpermissions()").ok);
        db.must("update 考生信息 set ip = '', 登录标志 = 0 where 准考证号 = '0001'");
        PgSession client = PgSession::client();
        QCOMPARE(client.must("select * from 试卷表").size(), 0);
        QCOMPARE(client.must("update 试卷表 set 答题结果 = 'A' returning *").size(), 0);
        db.must("update 考生信息 set ip = '127.0.0.1', 登录标志 = 1 where 准考证号 = '0001'");
        QCOMPARE(
            client.must("update 试卷表 set 答题结果 = 'A' where 试题类别 = 1 returning *").size(),
            1);
    }

    // No other database of the cluster lets the login in.
    void onlyThisCatalog() {
        QVERIFY(db.run("call grantpermissions()").ok);
        PgSession elsewhere = PgSession::client("5093718", "postgres");
        QVERIFY(!elsewhere.connected());
        QVERIFY2(elsewhere.connectError().contains("permission denied for database"),
                 qPrintable(elsewhere.connectError()));
    }

    // Whatever was done to the login (here by the owner, as a client could
    // before the cluster guarded it), the grant puts it back.
    void grantRepairsTheLogin() {
        seed();
        QVERIFY(db.run("call grantpermissions()").ok);
        db.must("alter role \"Morvel\" password 'other' connection limit 1");
        db.must("alter role \"Morvel\" set default_transaction_read_only = on");
        db.must("alter role \"Morvel\" in database \"Morvel\" set lock_timeout = 1");
        db.must("grant pg_signal_backend to \"Morvel\"");
        QVERIFY(!PgSession::client().connected());

        QVERIFY(db.run("call grantpermissions()").ok);
        PgSession client = PgSession::client();
        QVERIFY2(client.connected(), qPrintable(client.connectError()));
        QCOMPARE(client.value("show default_transaction_read_only").toString(), QString("off"));
        QCOMPARE(client.value("show lock_timeout").toString(), QString("0"));
        QCOMPARE(
            client.must("update 试卷表 set 答题结果 = 'C' where 试题类别 = 1 returning *").size(),
            1);
        QCOMPARE(
            db.value("select rolconnlimit::text from pg_roles where rolname = 'Morvel'").toString(),
            db.value("show morvel.max_clients").toString());
        QCOMPARE(db.value("select count(*)::text from pg_auth_members where member = "
                          "(select oid from pg_roles where rolname = 'Morvel')")
                     .toString(),
                 QString("0"));
    }

    void refusesAWrongPassword() {
        QVERIFY(db.run("call grantpermissions()").ok);
        PgSession client = PgSession::client("1234567");
        QVERIFY(!client.connected());
        QVERIFY(PgSession::client().connected());
    }
};

MORVEL_TEST_MAIN(TestRights)
#include "tst_rights.moc"
