// A PostgreSQL driver that does not hand out its libpq connection: the data
// layer cannot tell where a dataset's columns come from nor write them back,
// so it says so instead of quietly making every column read-only.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "tests/framework/DbScratch.h"
#include "tests/support/TestMain.h"

#include <QSqlDriver>
#include <QSqlResult>

namespace {

QVariant g_handle; // what the driver hands out

class NoRows : public QSqlResult {
public:
    explicit NoRows(const QSqlDriver* driver) : QSqlResult(driver) {}

protected:
    QVariant data(int) override { return QVariant(); }
    bool isNull(int) override { return true; }
    bool reset(const QString&) override { return false; }
    bool fetch(int) override { return false; }
    bool fetchFirst() override { return false; }
    bool fetchLast() override { return false; }
    int size() override { return -1; }
    int numRowsAffected() override { return 0; }
};

// Opens without a server, hands out g_handle.
class ForeignDriver : public QSqlDriver {
public:
    bool hasFeature(DriverFeature) const override { return false; }
    bool open(const QString&, const QString&, const QString&, const QString&, int,
              const QString&) override {
        setOpen(true);
        setOpenError(false);
        return true;
    }
    void close() override { setOpen(false); }
    QSqlResult* createResult() const override { return new NoRows(this); }
    QVariant handle() const override { return g_handle; }
};

} // namespace

class TestDriverHandle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Stands in for the PostgreSQL driver in this program.
        QSqlDatabase::registerSqlDriver(QStringLiteral("QPSQL"),
                                        new QSqlDriverCreator<ForeignDriver>);
    }

    void raisesAClearError_data() {
        QTest::addColumn<QVariant>("handle");
        QTest::addColumn<QString>("given");
        QTest::addColumn<int>("step");
        const QVariant number = QVariant::fromValue(7);
        for (int step = 0; step < 3; ++step) {
            const char* what[] = {"open", "execSQL", "execProc"};
            QTest::addRow("nothing, %s", what[step]) << QVariant() << "nothing" << step;
            QTest::addRow("a number, %s", what[step]) << number << "int" << step;
        }
    }
    void raisesAClearError() {
        QFETCH(QVariant, handle);
        QFETCH(QString, given);
        QFETCH(int, step);
        g_handle = handle;
        fw::Connection connection;
        connection.setConnectionString(dbtest::consoleText(QStringLiteral("Morvel")));
        connection.open();
        QVERIFY(connection.connected());
        const QString raised = dbtest::errorOf([&] {
            if (step == 0) {
                fw::Table answers;
                answers.setConnection(&connection);
                answers.setTableName(QStringLiteral("试卷表"));
                answers.open();
            } else if (step == 1) {
                fw::Query update;
                update.setConnection(&connection);
                update.setSQL(
                    QStringLiteral("update 试卷表 set 答题结果='A' where 准考证号=:zkzh"));
                update.paramByName(QStringLiteral("zkzh")).setValue(QStringLiteral("0001"));
                update.execSQL();
            } else {
                fw::StoredProc proc;
                proc.setConnection(&connection);
                proc.setProcedureName(QStringLiteral("GrantPermissions"));
                proc.execProc();
            }
        });
        QCOMPARE(raised,
                 QStringLiteral("The database driver QPSQL hands out \"%1\" where a libpq "
                                "connection is needed: its datasets could neither tell where "
                                "their columns come from nor write them back")
                     .arg(given));
    }
};

MORVEL_TEST_MAIN(TestDriverHandle)
#include "tst_driver_handle.moc"
