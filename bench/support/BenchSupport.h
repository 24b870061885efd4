#pragma once

#include "framework/widgets/Dialogs.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

namespace bench {

// Ends the run with the message; what is set up is taken down on the way out.
[[noreturn]] void fail(const QString& what);

// Every box a program would show goes to the terminal; questions get OK,
// input boxes and file dialogs Cancel. Errors are counted.
class PrintedDialogs : public fw::Dialogs {
public:
    void showMessage(const QString& text) override;
    int messageBox(const QString& text, const QString& caption, unsigned flags) override;
    int messageDlg(const QString& text, fw::MsgDlgType type, fw::MsgDlgButtons buttons) override;
    bool inputQuery(const QString&, const QString&, QString&, int) override { return false; }
    bool openFile(const QString&, QString&) override { return false; }
    void showError(const QString& message) override;
    int errors = 0;
};

// A private cluster for the run in a temporary folder, on a free port, made
// and started by morvel-db; PGHOST, PGPORT and the MORVEL_PG* settings name
// it for the rest of the process and its children. Stopped with the object.
class Cluster {
public:
    Cluster();
    ~Cluster();
    Cluster(const Cluster&) = delete;
    Cluster& operator=(const Cluster&) = delete;

    // The summed proportional set size of the server's processes, in kB.
    long memoryKb() const;

private:
    static void run(const QString& command);
    QTemporaryDir m_folder;
    QString m_data;
};

// The catalog Morvel as the cluster's owner, over the local socket.
QSqlDatabase catalog();
// Runs a statement on it, its values bound in order; fails the run on an error.
void sql(const QString& statement, const QVariantList& values = {});
// The first column of the first row, as a whole number.
int count(const QString& statement);

// A figure in kB of a /proc file of a process ("VmHWM:", "Pss:", ...).
long procKb(const QString& pid, const QString& file, const QByteArray& key);

// The process's resident memory now and at its peak, in kB; the peak starts
// again from what is resident when reset.
long residentKb();
long peakKb();
void resetPeak();

// The middle value of a run's figures (the upper middle of an even count).
double median(QList<double> values);

// A room's worth of connections: the soft limit on open files up to the hard one.
void raiseFileLimit();

} // namespace bench
