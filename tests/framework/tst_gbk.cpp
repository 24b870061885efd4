// Code page 936 conversions and byte limits.
#include "framework/core/Gbk.h"
#include "tests/support/TestMain.h"

using namespace fw;

class TestGbk : public QObject {
    Q_OBJECT

private slots:
    void chineseTextRoundTrips() {
        const QString text = QStringLiteral("准考证号重复！ab1");
        const QByteArray gbk = toGbk(text);
        QCOMPARE(gbk.left(8), QByteArray("\xD7\xBC\xBF\xBC\xD6\xA4\xBA\xC5")); // 准考证号
        QCOMPARE(gbk.right(3), QByteArray("ab1"));
        QCOMPARE(fromGbk(gbk), text);
    }

    void byteLength_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bytes");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("latin") << QStringLiteral("Morvel") << 6;
        QTest::newRow("chinese") << QStringLiteral("登录成功!") << 9;
        QTest::newRow("full-width mark") << QStringLiteral("！") << 2;
        QTest::newRow("50 letters") << QString(50, QLatin1Char('a')) << 50;
        QTest::newRow("25 characters") << QString(25, QChar(0x8003)) << 50; // 考
    }

    void byteLength() {
        QFETCH(QString, text);
        QFETCH(int, bytes);
        QCOMPARE(gbkLength(text), bytes);
    }

    void cutStopsAtACharacterBoundary_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<QString>("kept");
        QTest::newRow("fits") << QStringLiteral("a准") << 3 << QStringLiteral("a准");
        QTest::newRow("half a character")
            << QStringLiteral("准考证") << 5 << QStringLiteral("准考");
        QTest::newRow("mixed") << QStringLiteral("ab准c") << 3 << QStringLiteral("ab");
        QTest::newRow("zero") << QStringLiteral("准") << 0 << QString();
        QTest::newRow("51st letter")
            << QString(51, QLatin1Char('x')) << 50 << QString(50, QLatin1Char('x'));
        QTest::newRow("26th character")
            << QString(26, QChar(0x8003)) << 50 << QString(25, QChar(0x8003));
    }

    void cutStopsAtACharacterBoundary() {
        QFETCH(QString, text);
        QFETCH(int, maxBytes);
        QFETCH(QString, kept);
        QCOMPARE(cutToGbkBytes(text, maxBytes), kept);
        QVERIFY(gbkLength(cutToGbkBytes(text, maxBytes)) <= maxBytes);
    }

    void aCharacterGbkLacksBecomesAQuestionMark() {
        const QString text = QStringLiteral("a") + QString::fromUcs4(U"\U0001F600") + "b";
        QCOMPARE(toGbk(text), QByteArray("a?b"));
        QCOMPARE(gbkLength(text), 3);
        // the pair of surrogates is never split
        QCOMPARE(cutToGbkBytes(text, 2), QString::fromUcs4(U"a\U0001F600"));
    }

    void bytesThatAreNotGbkBecomeReplacementCharacters() {
        QCOMPARE(fromGbk(QByteArray("a\xFF"
                                    "b")),
                 QStringLiteral("a\uFFFDb"));
    }
};

MORVEL_TEST_MAIN(TestGbk)
#include "tst_gbk.moc"
