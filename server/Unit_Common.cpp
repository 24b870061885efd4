#include "server/Unit_Common.h"

#include "framework/data/Dataset.h"
#include "framework/data/Query.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <libpq-fe.h>

namespace server {

QString AppPath;
bool ExamineeListImported = false;
QStringList SelectedClasses;

int GetSqlServerState() {
    // The ping honours PGHOST and PGPORT, as the console's connection does.
    return PQping("dbname=postgres connect_timeout=5") == PQPING_OK ? 4 : 1;
}

bool HasUnfinishedSitting(fw::Connection& connection) {
    fw::Query query;
    query.setConnection(&connection);
    query.setSQL("select * from pg_class where oid = to_regclass('考试情况') and relkind = 'r'");
    query.open();
    if (query.isEmpty())
        return false;
    query.close();
    query.setSQL("select * from 考试情况 where 是否选择=1 and 是否已考=0");
    query.open();
    return !query.isEmpty();
}

bool FlagIsSet(const fw::Field& flag) {
    return !flag.isNull() && flag.asFloat() == 1.0;
}

QFont FormFont(int pixelHeight) {
    static const bool substituted = [] {
        QFont::insertSubstitutions("宋体", {"SimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC",
                                            "Noto Serif CJK SC", "AR PL UMing CN"});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font("宋体");
    font.setPixelSize(pixelHeight);
    return font;
}

void PlaceCentred(QWidget* window, int clientWidth, int clientHeight) {
    window->resize(clientWidth, clientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(clientWidth / 2, clientHeight / 2));
    }
}

void ShapeDialog(QDialog* dialog, const char* name, const QString& caption, int clientWidth,
                 int clientHeight) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    dialog->setObjectName(name);
    dialog->setWindowTitle(caption);
    dialog->setFont(FormFont(14));
    dialog->setFixedSize(clientWidth, clientHeight);
    PlaceCentred(dialog, clientWidth, clientHeight);
}

} // namespace server
