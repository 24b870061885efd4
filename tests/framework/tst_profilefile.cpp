// The ini file: the Windows profile format in GBK, read afresh at every call,
// written line by line.
#include "framework/core/Error.h"
#include "framework/core/Gbk.h"
#include "framework/core/ProfileFile.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>

using fw::ProfileFile;

class TestProfileFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    void writeBytes(const QByteArray& bytes) {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray bytes() const {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init() {
        m_path = m_dir.filePath("Morvel.ini");
        QFile::remove(m_path);
    }

    void reading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // the default is "dflt"

        const QByteArray plain = "[Morvel]\r\nServerIp=10.0.0.1\r\nExamTime=\r\n";
        QTest::newRow("the value") << plain << "Morvel"
                                   << "ServerIp"
                                   << "10.0.0.1";
        QTest::newRow("an empty value is not the default") << plain << "Morvel"
                                                           << "ExamTime"
                                                           << "";
        QTest::newRow("a missing key") << plain << "Morvel"
                                       << "Title"
                                       << "dflt";
        QTest::newRow("a missing section") << plain << "Other"
                                           << "ServerIp"
                                           << "dflt";
        QTest::newRow("an empty file") << QByteArray() << "Morvel"
                                       << "ServerIp"
                                       << "dflt";
        QTest::newRow("names without regard to case") << plain << "MORVEL"
                                                      << "serverip"
                                                      << "10.0.0.1";
        QTest::newRow("blanks around names and value")
            << QByteArray("  [ Morvel ]  \n\t ServerIp \t=  10.0.0.1 \t\n") << "Morvel"
            << "ServerIp"
            << "10.0.0.1";
        QTest::newRow("blanks inside the value stay")
            << QByteArray("[Morvel]\nTitle=a  b\n") << "Morvel"
            << "Title"
            << "a  b";
        QTest::newRow("double quotes dropped")
            << QByteArray("[Morvel]\nTitle=\" 期末 \"\n").replace("期末", fw::toGbk("期末"))
            << "Morvel"
            << "Title"
            << " 期末 ";
        QTest::newRow("single quotes dropped") << QByteArray("[Morvel]\nTitle='x'\n") << "Morvel"
                                               << "Title"
                                               << "x";
        QTest::newRow("one quote stays") << QByteArray("[Morvel]\nTitle=\"x\n") << "Morvel"
                                         << "Title"
                                         << "\"x";
        QTest::newRow("GBK text") << QByteArray("[Morvel]\r\nWorkDir=") +
                                         fw::toGbk("d:\\考生文件夹") + "\r\n"
                                  << "Morvel"
                                  << "WorkDir"
                                  << "d:\\考生文件夹";
        QTest::newRow("GBK names") << QByteArray("[") + fw::toGbk("考试") + "]\n" +
                                          fw::toGbk("说明") + "=" + fw::toGbk("第一行") + "\n"
                                   << "考试"
                                   << "说明"
                                   << "第一行";
        QTest::newRow("an equals sign in the value") << QByteArray("[Morvel]\nT1=a=b\n") << "Morvel"
                                                     << "T1"
                                                     << "a=b";
        QTest::newRow("the same key in another section")
            << QByteArray("[Other]\nServerIp=1.1.1.1\n[Morvel]\nExamTime=45\n") << "Morvel"
            << "ServerIp"
            << "dflt";
        QTest::newRow("a key before any section")
            << QByteArray("ServerIp=1.1.1.1\n[Morvel]\n") << "Morvel"
            << "ServerIp"
            << "dflt";
        QTest::newRow("first key wins")
            << QByteArray("[Morvel]\nServerIp=1.1.1.1\nSERVERIP=2.2.2.2\n") << "Morvel"
            << "ServerIp"
            << "1.1.1.1";
        QTest::newRow("first section wins")
            << QByteArray("[Morvel]\nExamTime=45\n[Morvel]\nServerIp=2.2.2.2\n") << "Morvel"
            << "ServerIp"
            << "dflt";
        QTest::newRow("lines without equals sign are read past")
            << QByteArray("[Morvel]\njunk line\n\n;ServerIp=3.3.3.3\nServerIp=1.1.1.1\n")
            << "Morvel"
            << "ServerIp"
            << "1.1.1.1";
        QTest::newRow("no final line end") << QByteArray("[Morvel]\nServerIp=1.1.1.1") << "Morvel"
                                           << "ServerIp"
                                           << "1.1.1.1";
        QTest::newRow("a section line without its bracket")
            << QByteArray("[Morvel\nServerIp=1.1.1.1\n") << "Morvel"
            << "ServerIp"
            << "1.1.1.1";
        QTest::newRow("bytes that are not GBK in another key")
            << QByteArray("[Morvel]\n\xff\xfe\x80=\x81\n\x80\nServerIp=1.1.1.1\n") << "Morvel"
            << "ServerIp"
            << "1.1.1.1";
        QTest::newRow("bare carriage returns")
            << QByteArray("[Morvel]\rServerIp=1.1.1.1\r") << "Morvel"
            << "ServerIp"
            << "dflt";
    }

    void reading() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeBytes(file);
        QCOMPARE(ProfileFile(m_path).readString(section, key, "dflt"), expected);
    }

    void aMissingFileGivesTheDefault() {
        QCOMPARE(ProfileFile(m_path).readString("Morvel", "ExamTime", "90"), QString("90"));
        QCOMPARE(ProfileFile(m_dir.path()).readString("Morvel", "ExamTime", "90"),
                 QString("90")); // a folder in its place
    }

    void valuesAreCutTo2047Characters_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("read");
        const QString latin(3000, 'x');
        const QString chinese(3000, QChar(0x8003)); // 考, two bytes in GBK
        QTest::newRow("2047") << latin.left(2047) << latin.left(2047);
        QTest::newRow("2048") << latin.left(2048) << latin.left(2047);
        QTest::newRow("3000 chinese") << chinese << chinese.left(2047);
    }

    void valuesAreCutTo2047Characters() {
        QFETCH(QString, value);
        QFETCH(QString, read);
        writeBytes("[Morvel]\r\nT1=" + fw::toGbk(value) + "\r\n");
        QCOMPARE(ProfileFile(m_path).readString("Morvel", "T1", ""), read);
    }

    void everyReadOpensTheFileAfresh() {
        ProfileFile ini(m_path);
        QCOMPARE(ini.readString("Morvel", "ServerIp", "none"), QString("none"));
        writeBytes("[Morvel]\nServerIp=1.1.1.1\n");
        QCOMPARE(ini.readString("Morvel", "ServerIp", "none"), QString("1.1.1.1"));
        writeBytes("[Morvel]\nServerIp=2.2.2.2\n");
        QCOMPARE(ini.readString("Morvel", "ServerIp", "none"), QString("2.2.2.2"));
        // and holds nothing open: the file can go at once
        QVERIFY(QFile::remove(m_path));
        QCOMPARE(ini.readString("Morvel", "ServerIp", "none"), QString("none"));
    }

    void writing_data() {
        QTest::addColumn<QByteArray>("before"); // a null array: no file
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("a new file")
            << QByteArray() << "Morvel"
            << "ServerIp"
            << "10.0.0.1" << QByteArray("[Morvel]\r\nServerIp=10.0.0.1\r\n");
        QTest::newRow("an empty value") << QByteArray() << "Morvel"
                                        << "ServerIp"
                                        << "" << QByteArray("[Morvel]\r\nServerIp=\r\n");
        QTest::newRow("GBK text") << QByteArray() << "Morvel"
                                  << "ServerIp"
                                  << "考场"
                                  << QByteArray("[Morvel]\r\nServerIp=") + fw::toGbk("考场") +
                                         "\r\n";
        QTest::newRow("the value replaced, every other line kept")
            << QByteArray("; exam room 3\r\n[Other]\r\nServerIp=9.9.9.9\r\n\r\n[Morvel]\r\n"
                          "Title=") +
                   fw::toGbk("期末") + "\r\nServerIp = 1.1.1.1\r\nT1=x\r\n"
            << "Morvel"
            << "serverip"
            << "2.2.2.2"
            << QByteArray("; exam room 3\r\n[Other]\r\nServerIp=9.9.9.9\r\n\r\n[Morvel]\r\n"
                          "Title=") +
                   fw::toGbk("期末") + "\r\nServerIp =2.2.2.2\r\nT1=x\r\n";
        QTest::newRow("the key added at the end of its section")
            << QByteArray("[Morvel]\nTitle=t\n\n[Other]\nx=1\n") << "Morvel"
            << "ServerIp"
            << "1.1.1.1" << QByteArray("[Morvel]\nTitle=t\nServerIp=1.1.1.1\n\n[Other]\nx=1\n");
        QTest::newRow("the section added at the end")
            << QByteArray("[Other]\r\nx=1\r\n") << "Morvel"
            << "ServerIp"
            << "1.1.1.1" << QByteArray("[Other]\r\nx=1\r\n[Morvel]\r\nServerIp=1.1.1.1\r\n");
        QTest::newRow("no final line end")
            << QByteArray("[Morvel]\nTitle=t") << "Morvel"
            << "ServerIp"
            << "1.1.1.1" << QByteArray("[Morvel]\nTitle=t\nServerIp=1.1.1.1\n");
        QTest::newRow("the last key without a line end")
            << QByteArray("[Morvel]\nServerIp=1.1.1.1") << "Morvel"
            << "ServerIp"
            << "2" << QByteArray("[Morvel]\nServerIp=2");
        QTest::newRow("the first of two keys")
            << QByteArray("[Morvel]\nServerIp=1\nServerIp=2\n") << "Morvel"
            << "ServerIp"
            << "3" << QByteArray("[Morvel]\nServerIp=3\nServerIp=2\n");
        QTest::newRow("bytes that are not GBK stay as they were")
            << QByteArray("[Morvel]\n\xff\xfe=\x80\nT1=\x81\x20\n") << "Morvel"
            << "ServerIp"
            << "1" << QByteArray("[Morvel]\n\xff\xfe=\x80\nT1=\x81\x20\nServerIp=1\n");
    }

    void writing() {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            writeBytes(before);
        ProfileFile ini(m_path);
        ini.writeString(section, key, value);
        QCOMPARE(bytes(), after);
        QCOMPARE(ini.readString(section, key, "dflt"), value);
    }

    void aFailedWriteSaysSoAndLeavesTheFile_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("a write-protected file") << "read-only";
        QTest::newRow("a missing folder") << "no folder";
    }

    void aFailedWriteSaysSoAndLeavesTheFile() {
        QFETCH(QString, how);
        QString path = m_path;
        if (how == "read-only") {
            writeBytes("[Morvel]\r\nServerIp=1.1.1.1\r\n");
            QFile::setPermissions(m_path, QFile::ReadOwner);
        } else {
            path = m_dir.filePath("gone/Morvel.ini");
        }
        ProfileFile ini(path);
        try {
            ini.writeString("Morvel", "ServerIp", "2.2.2.2");
            QFAIL("the write went through");
        } catch (const fw::Error& e) {
            QCOMPARE(e.message(), "Unable to write to " + path);
        }
        QCOMPARE(ini.readString("Morvel", "ServerIp", "none"),
                 QString(how == "read-only" ? "1.1.1.1" : "none"));
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    }

    void theErrorNamesTheFullPath() {
        QDir::setCurrent(m_dir.path());
        ProfileFile ini("gone/Morvel.ini");
        try {
            ini.writeString("Morvel", "ServerIp", "x");
            QFAIL("the write went through");
        } catch (const fw::Error& e) {
            QCOMPARE(e.message(), "Unable to write to " + m_dir.filePath("gone/Morvel.ini"));
        }
    }
};

MORVEL_TEST_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
