// make-bank OUT.mdb [RAR]
//
// Writes the sample question bank: an SQLite file in the layout that
// ImportQuestion reads, with multiple-choice, true/false and fill-in
// questions (some with a JPEG picture), one row of three practical tasks with
// their pictures, and the template of the work folder as a RAR archive made
// by the archiver RAR ("rar a -df"). Without RAR the template is a placeholder
// text, which the client cannot unpack.

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdio>
#include <stdexcept>

namespace {

struct Choice {
    const char* subject;
    const char* a;
    const char* b;
    const char* c;
    const char* d;
    const char* answer;
    bool picture;
};

const Choice choices[] = {
    {"计算机中存储数据的最小单位是", "位", "字节", "字", "KB", "A", false},
    {"1 KB 等于多少字节", "1000", "1024", "512", "2048", "B", false},
    {"下列设备中属于输出设备的是", "键盘", "鼠标", "显示器", "扫描仪", "C", false},
    {"图中所示的部件是", "硬盘", "内存条", "CPU", "网卡", "C", true},
    {"在 Word 中保存文档的快捷键是", "Ctrl+S", "Ctrl+C", "Ctrl+V", "Ctrl+Z", "A", false},
    {"Excel 工作表中 A1:B2 包含几个单元格", "2", "3", "4", "6", "C", false},
    {"IPv4 地址由多少位二进制数组成", "16", "32", "64", "128", "B", false},
    {"下列文件扩展名中表示图片的是", ".txt", ".exe", ".jpg", ".doc", "C", false},
};

struct Statement {
    const char* subject;
    const char* answer;
    bool picture;
};

const Statement statements[] = {
    {"内存中的数据在断电后会丢失。", "1", false},
    {"CPU 是计算机的输入设备。", "0", false},
    {"一个汉字在 GBK 编码中占两个字节。", "1", false},
    {"图中的网络连接方式是星型结构。", "1", true},
    {"删除到回收站的文件无法恢复。", "0", false},
    {"Excel 的公式以等号开头。", "1", false},
};

struct Blank {
    const char* subject;
    const char* answer;
};

const Blank blanks[] = {
    {"计算机硬件系统由运算器、控制器、存储器、输入设备和____组成。", "输出设备"},
    {"二进制数 1010 等于十进制数____。", "10"},
    {"万维网的英文缩写是____。", "WWW"},
    {"在 Excel 中求和的函数是____。", "SUM"},
    {"浏览网页使用的协议是____。", "HTTP"},
    {"存储容量 1 GB 等于____ MB。", "1024"},
};

const char* const tasks[] = {
    "打开考生文件夹下的 Word\\文档.txt，把标题改为“计算机基础”，保存。",
    "在考生文件夹下的 Excel 文件夹中新建文件“成绩.csv”，写入三名学生的成绩。",
    "在考生文件夹下新建文件夹“作业”，把 PowerPoint\\说明.txt 复制到其中。",
};

[[noreturn]] void fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// A small JPEG picture: a coloured card with a simple figure and a number.
QByteArray picture(int number) {
    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((number * 47) % 360, 60, 250));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::darkBlue, 4));
        painter.drawRect(20, 20, 280, 160);
        painter.drawEllipse(QPoint(160, 100), 20 + number * 5, 40);
        painter.drawText(QRect(20, 150, 280, 30), Qt::AlignCenter, QString("Fig. %1").arg(number));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 85))
        fail("cannot write a JPEG picture (is the Qt JPEG plugin installed?)");
    return bytes;
}

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        fail("cannot write " + path);
}

// The work folder's template, packed by the archiver into "考生文件夹.rar"'s
// layout: every entry under 考生文件夹/, as the client unpacks it into the
// root of the work folder's drive.
QByteArray templateArchive(const QString& rar) {
    if (rar.isEmpty()) {
        std::fputs("make-bank: no archiver given; ExamFolder holds a placeholder\n", stderr);
        return "placeholder: the template archive needs the rar archiver";
    }
    QTemporaryDir drive;
    if (!drive.isValid())
        fail("cannot make a temporary folder");
    const QString root = drive.path() + "/考生文件夹";
    writeFile(root + "/Word/文档.txt", "计算机基础练习\n请修改本文的标题。\n");
    writeFile(root + "/Excel/说明.txt", "在本文件夹中新建成绩文件。\n");
    writeFile(root + "/PowerPoint/说明.txt", "把本文件复制到“作业”文件夹。\n");

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MORVEL_DRIVE_E", drive.path());
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(rar, {"a", "-df", "e:\\tmp", "e:\\考生文件夹"});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        fail("the archiver " + rar + " failed");

    QFile archive(drive.path() + "/tmp.rar");
    if (!archive.open(QIODevice::ReadOnly))
        fail("the archiver wrote no tmp.rar");
    return archive.readAll();
}

void exec(QSqlQuery& query) {
    if (!query.exec())
        fail(query.lastError().text() + " in: " + query.lastQuery());
}

void prepare(QSqlQuery& query, const QString& sql) {
    if (!query.prepare(sql))
        fail(query.lastError().text() + " in: " + sql);
}

void writeBank(const QString& path, const QByteArray& examFolder) {
    QFile::remove(path);
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bank");
    db.setDatabaseName(path);
    if (!db.open())
        fail("cannot create " + path + ": " + db.lastError().text());
    QSqlQuery query(db);
    for (const char* sql : {
             "create table 选择题 (ID integer primary key, subject text, a text, b text, c text, "
             "d text, answer text, pic blob)",
             "create table 判断题 (ID integer primary key, subject text, answer text, pic blob)",
             "create table 填空题 (ID integer primary key, subject text, answer text, pic blob)",
             "create table 操作题 (ID integer primary key, subject1 text, subject2 text, "
             "subject3 text, pic1 blob, pic2 blob, pic3 blob, ExamFolder blob)",
         }) {
        prepare(query, sql);
        exec(query);
    }
    db.transaction();

    int id = 0;
    prepare(query, "insert into 选择题 values (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const Choice& q : choices) {
        ++id;
        for (const QVariant& v :
             {QVariant(id), QVariant(q.subject), QVariant(q.a), QVariant(q.b), QVariant(q.c),
              QVariant(q.d), QVariant(q.answer),
              q.picture ? QVariant(picture(id)) : QVariant(QMetaType(QMetaType::QByteArray))})
            query.addBindValue(v);
        exec(query);
    }
    id = 0;
    prepare(query, "insert into 判断题 values (?, ?, ?, ?)");
    for (const Statement& q : statements) {
        ++id;
        for (const QVariant& v :
             {QVariant(id), QVariant(q.subject), QVariant(q.answer),
              q.picture ? QVariant(picture(10 + id)) : QVariant(QMetaType(QMetaType::QByteArray))})
            query.addBindValue(v);
        exec(query);
    }
    id = 0;
    prepare(query, "insert into 填空题 (ID, subject, answer) values (?, ?, ?)");
    for (const Blank& q : blanks) {
        query.addBindValue(++id);
        query.addBindValue(QString(q.subject));
        query.addBindValue(QString(q.answer));
        exec(query);
    }
    prepare(query, "insert into 操作题 values (1, ?, ?, ?, ?, ?, ?, ?)");
    for (const QVariant& v :
         {QVariant(tasks[0]), QVariant(tasks[1]), QVariant(tasks[2]), QVariant(picture(21)),
          QVariant(picture(22)), QVariant(picture(23)), QVariant(examFolder)})
        query.addBindValue(v);
    exec(query);

    if (!db.commit())
        fail("cannot write " + path + ": " + db.lastError().text());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fputs("usage: make-bank OUT.mdb [RAR]\n", stderr);
        return 2;
    }
    try {
        writeBank(args[1], templateArchive(args.value(2)));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-bank: %s\n", e.what());
        return 1;
    }
    return 0;
}
