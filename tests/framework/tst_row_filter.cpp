// The row filter on its own, without a database: what it reads of an
// expression, what it refuses, and which rows pass.
#include "framework/core/Error.h"
#include "framework/data/RowFilter.h"
#include "tests/support/TestMain.h"

using fw::RowFilter;
using Terms = QVector<RowFilter::Term>;

Q_DECLARE_METATYPE(Terms)

class TestRowFilter : public QObject {
    Q_OBJECT

private slots:
    void reads_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<Terms>("terms");
        QTest::newRow("one") << "班级='A班'" << Terms{{"班级", "A班"}};
        QTest::newRow("blanks around") << "  班级 =  'A班'  " << Terms{{"班级", "A班"}};
        QTest::newRow("or, any case") << "班级='A班' OR 班级='B班' or 姓名='张三'"
                                      << Terms{{"班级", "A班"}, {"班级", "B班"}, {"姓名", "张三"}};
        QTest::newRow("doubled quote") << "班级='b''x'" << Terms{{"班级", "b'x"}};
        QTest::newRow("only quotes") << "班级=''''''" << Terms{{"班级", "''"}};
        QTest::newRow("empty text") << "班级=''" << Terms{{"班级", ""}};
        QTest::newRow("bracketed column")
            << "[考试 状态]='交卷结束!'" << Terms{{"考试 状态", "交卷结束!"}};
        QTest::newRow("or inside the text") << "班级='A or B'" << Terms{{"班级", "A or B"}};
        QTest::newRow("empty") << "" << Terms{};
        QTest::newRow("blank") << "   " << Terms{};
    }
    void reads() {
        QFETCH(QString, expression);
        QFETCH(Terms, terms);
        QCOMPARE(RowFilter::parse(expression).terms(), terms);
    }

    void refuses_data() {
        QTest::addColumn<QString>("expression");
        QTest::newRow("unquoted") << "班级=A班";
        QTest::newRow("open quote") << "班级='A班";
        QTest::newRow("and") << "班级='A' and 班级='B'";
        QTest::newRow("no column") << "='A'";
        QTest::newRow("no equals") << "班级 'A'";
        QTest::newRow("trailing or") << "班级='A' or ";
        QTest::newRow("or without blank") << "班级='A' or班级='B'";
        QTest::newRow("open bracket") << "[班级='A'";
        QTest::newRow("two texts") << "班级='A' 'B'";
    }
    void refuses() {
        QFETCH(QString, expression);
        QString message;
        try {
            RowFilter::parse(expression);
        } catch (const fw::Error& e) {
            message = e.message();
        }
        QCOMPARE(message,
                 QStringLiteral("Filter expression \"%1\" cannot be read").arg(expression));
    }

    void passes_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QVariantList>("values"); // the row's value for each term
        QTest::addColumn<bool>("passes");
        QTest::newRow("equal") << "班级='A班'" << QVariantList{"A班"} << true;
        QTest::newRow("other case") << "班级='a班'" << QVariantList{"A班"} << true;
        QTest::newRow("part only") << "班级='A'" << QVariantList{"A班"} << false;
        QTest::newRow("blank kept") << "班级='A班'" << QVariantList{"A班 "} << false;
        QTest::newRow("null") << "班级=''" << QVariantList{QVariant()} << false;
        QTest::newRow("empty text") << "班级=''" << QVariantList{""} << true;
        QTest::newRow("second term")
            << "班级='A班' or 班级='B班'" << QVariantList{"C班", "B班"} << true;
        QTest::newRow("no term") << "班级='A班' or 班级='B班'" << QVariantList{"C班", "C班"}
                                 << false;
        QTest::newRow("number as text") << "登录标志='1'" << QVariantList{1} << true;
        QTest::newRow("no filter") << "" << QVariantList{} << true;
    }
    void passes() {
        QFETCH(QString, expression);
        QFETCH(QVariantList, values);
        QFETCH(bool, passes);
        const RowFilter filter = RowFilter::parse(expression);
        QCOMPARE(filter.passes([&](int term) { return values.at(term); }), passes);
    }
};

MORVEL_TEST_MAIN(TestRowFilter)
#include "tst_row_filter.moc"
