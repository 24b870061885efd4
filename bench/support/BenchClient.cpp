#include "bench/support/BenchClient.h"

#include "bench/support/BenchSupport.h"
#include "client/Program.h"
#include "client/Unit_main.h"
#include "framework/data/Query.h"

#include <QApplication>
#include <QProcess>
#include <cstdio>
#include <unistd.h>

namespace bench {

const QString Examinee = "00000001";

void prepareExam() {
    sql("truncate 考生信息, 考试情况, 试卷表, 操作题答卷, 作弊处理");
    sql("insert into 考试情况(班级, 是否选择, 是否已考) values ('机房', 1, 0)");
    sql("insert into 考生信息(考生id, 准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
        "values (1, ?, '考生', '机房', '127.0.0.1', '登录成功!', 1)",
        {Examinee});
    sql(QString("call importquestion(filename => '%1')").arg(MORVEL_SAMPLE_BANK));
    sql("call generatequestiontable()");
    sql("alter table 操作题答卷 alter column 操作题答卷 set storage external");
    sql("call grantpermissions()");
}

ClientSession::ClientSession() {
    fw::setDialogs(&dialogs);
    client::StartProgram();
    client::ServerIp = "127.0.0.1";
    fw::Query* login = client::frm_Main->ADOQuery1;
    login->paramByName("zkzh").setValue(Examinee);
    login->open();
    client::ExamNo = login->fieldByName("准考证号").asString();
    client::ExamineeName = login->fieldByName("姓名").asString();
}

ClientSession::~ClientSession() {
    client::EndProgram();
    fw::setDialogs(nullptr);
}

int ClientSession::report(const char* tag, qint64 elapsedUs, long peakKb, long beforeKb,
                          bool ok) const {
    ok = ok && dialogs.errors == 0;
    std::printf("%s %lld %ld %ld %d\n", tag, (long long)elapsedUs, peakKb, beforeKb, ok ? 1 : 0);
    std::fflush(stdout);
    return ok ? 0 : 1;
}

ClientFigures runClient(const QString& option, const QString& drive, const QString& tag) {
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MORVEL_DRIVE_E", drive);
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QCoreApplication::applicationFilePath(), {option});
    if (!client.waitForFinished(600000))
        fail("the client did not end");
    const QString out = QString::fromUtf8(client.readAllStandardOutput());
    const QStringList figures = out.section(tag + " ", 1).section('\n', 0, 0).split(' ');
    if (client.exitCode() != 0 || figures.size() != 4 || figures[3] != "1")
        fail("the client's " + tag + " failed:\n" + out);
    return {figures[0].toDouble() / 1000, figures[1].toLong(), figures[2].toLong()};
}

int clientBenchMain(int argc, char** argv, const char* name, const QString& clientOption,
                    const std::function<int()>& client,
                    const std::function<void(const QStringList&)>& run, const char* done) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(clientOption))
        return client();
    if (geteuid() == 0) {
        std::fprintf(stderr, "%s: run as the unprivileged user: PostgreSQL refuses root\n", name);
        return 1;
    }
    bool ok = false;
    try {
        Cluster cluster;
        run(args);
        catalog().close();
        ok = true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
    }
    std::printf("%s: %s\n", name, ok ? done : "FAILED");
    return ok ? 0 : 1;
}

} // namespace bench
