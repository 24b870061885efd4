// Stored-procedure calls as the console makes them: by name, parameters
// fetched from the database or declared in code, errors from the procedure.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "tests/framework/DbScratch.h"
#include "tests/support/TestMain.h"

#include <QSqlQuery>

using dbtest::dbErrorOf;
using dbtest::errorOf;
using fw::StoredProc;

namespace {

const char* const kSchema[] = {
    "create table calls (proc text, a text, b text)",
    "create procedure ImportExamineeInfo(filename varchar) language plpgsql as $$ "
    "begin insert into calls values ('import', filename, null); end $$",
    "create procedure mark(ScoreDB varchar(255), ClassName varchar(255)) language plpgsql as $$ "
    "begin if ClassName = '坏班' then raise exception '班级 % 不存在', ClassName; end if; "
    "insert into calls values ('mark', ScoreDB, ClassName); end $$",
    "create procedure \"GrantPermissions\"() language plpgsql as $$ "
    "begin insert into calls values ('grant', null, null); end $$",
    "create procedure counted(n integer, note text) language plpgsql as $$ "
    "begin insert into calls values ('counted', n * 2, note); end $$",
};

} // namespace

class TestDbStoredProc : public QObject {
    Q_OBJECT

private:
    dbtest::Scratch m_scratch{QStringLiteral("fwtest_storedproc")};
    fw::Connection* m_db = nullptr;

    QString calls() {
        QSqlQuery q(m_db->database());
        q.exec("select string_agg(concat_ws('|', proc, a, b), ';' order by ctid) from calls");
        return q.next() ? q.value(0).toString() : QString();
    }

private slots:
    void initTestCase() {
        m_scratch.create();
        m_db = m_scratch.connect(this);
        for (const char* statement : kSchema)
            m_db->execute(QString::fromUtf8(statement));
    }
    void cleanupTestCase() {
        delete m_db;
        m_db = nullptr;
        m_scratch.drop();
    }
    void init() { m_db->execute("truncate calls"); }

    void refreshedParameters() {
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("ImportExamineeInfo");
        p.refreshParameters();
        QCOMPARE(p.parameters().count(), 1);
        QCOMPARE(p.parameters().at(0).dataType(), fw::DataType::WideString);
        p.paramByName("@FileName").setValue("/home/exam/名单.xls");
        p.execProc();
        QCOMPARE(calls(), QString("import|/home/exam/名单.xls"));
        QCOMPARE(errorOf([&] { p.paramByName("@nope"); }), QString("Parameter '@nope' not found"));
    }

    void typesComeFromTheDeclaration() {
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("counted");
        p.refreshParameters();
        QCOMPARE(p.parameters().at(0).dataType(), fw::DataType::Integer);
        QCOMPARE(p.parameters().at(1).dataType(), fw::DataType::String);
        p.paramByName("@n").setValue("21");
        p.paramByName("@note").setValue(QVariant()); // null reaches the procedure as null
        p.execProc();
        QCOMPARE(calls(), QString("counted|42"));
    }

    void groupNumberAndParametersDeclaredInCode() {
        // As the collection calls it: no refresh, two string parameters.
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("mark;1");
        p.parameters().add("@ScoreDB", fw::DataType::String, 255);
        p.parameters().add("@ClassName", fw::DataType::String, 255);
        p.paramByName("@ScoreDB").setValue("/srv/A班/score.mdb");
        p.paramByName("@ClassName").setValue("A班");
        p.execProc();
        QCOMPARE(calls(), QString("mark|/srv/A班/score.mdb|A班"));
    }

    void errorOfTheProcedureIsRaised() {
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("mark;1");
        p.refreshParameters();
        p.paramByName("@ScoreDB").setValue("x");
        p.paramByName("@ClassName").setValue("坏班");
        QCOMPARE(dbErrorOf([&] { p.execProc(); }), QString("班级 坏班 不存在"));
        QCOMPARE(calls(), QString());
        // The connection is still usable afterwards.
        p.paramByName("@ClassName").setValue("B班");
        p.execProc();
        QCOMPARE(calls(), QString("mark|x|B班"));
    }

    void quotedNameWithCapitals() {
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("GrantPermissions");
        p.refreshParameters();
        QCOMPARE(p.parameters().count(), 0);
        p.execProc();
        QCOMPARE(calls(), QString("grant"));
    }

    void missingProcedure() {
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("nosuch;1");
        const QString missing = "Could not find stored procedure 'nosuch'.";
        QCOMPARE(dbErrorOf([&] { p.refreshParameters(); }), missing);
        QCOMPARE(dbErrorOf([&] { p.execProc(); }), missing);
    }

    void wrongParameterIsTheDatabasesError() {
        StoredProc p;
        p.setConnection(m_db);
        p.setProcedureName("mark");
        p.parameters().add("@Other", fw::DataType::String);
        p.paramByName("@other").setValue("x");
        const QString message = dbErrorOf([&] { p.execProc(); });
        QVERIFY2(message.contains("does not exist"), qPrintable(message));
    }
};

MORVEL_TEST_MAIN(TestDbStoredProc)
#include "tst_db_storedproc.moc"
