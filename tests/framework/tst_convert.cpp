// StrToInt: the texts it takes as whole numbers and the error for the rest.
#include "tests/support/TestMain.h"

#include "framework/core/Convert.h"
#include "framework/core/Error.h"

class TestConvert : public QObject {
    Q_OBJECT

private slots:
    void wholeNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "90" << 90;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("blanks before") << "  12" << 12;
        QTest::newRow("hexadecimal after $") << "$1f" << 31;
        QTest::newRow("hexadecimal after 0x") << "0X10" << 16;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << int(-2147483648LL);
    }

    void wholeNumbers() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(fw::strToInt(text), value);
    }

    void otherTextsRaise_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("a blank after") << "90 ";
        QTest::newRow("a sign alone") << "-";
        QTest::newRow("a fraction") << "1.5";
        QTest::newRow("hexadecimal without its mark") << "1f";
        QTest::newRow("$ alone") << "$";
        QTest::newRow("too large") << "2147483648";
        QTest::newRow("too small") << "-2147483649";
        QTest::newRow("full-width digits") << "９０";
        QTest::newRow("a tab before") << "\t9";
    }

    void otherTextsRaise() {
        QFETCH(QString, text);
        try {
            fw::strToInt(text);
            QFAIL("no error");
        } catch (const fw::Error& e) {
            QCOMPARE(e.message(), "'" + text + "' is not a valid integer value");
        }
    }
};

MORVEL_TEST_MAIN(TestConvert)
#include "tst_convert.moc"
