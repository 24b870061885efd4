#pragma once

#include <QString>
#include <QStringList>

namespace fw {
class Connection;
class Field;
} // namespace fw

namespace server {

// Program-wide values of the console. They live in memory only; every run
// starts from the values given here.
extern QString AppPath;             // the executable's folder, trailing separator
extern bool ExamineeListImported;   // a successful import in this run
extern QStringList SelectedClasses; // the classes ticked when the class dialog last closed

// The state of the local database service: 4 when it accepts connections,
// 1 otherwise.
int GetSqlServerState();

// Whether the exam database holds an exam that was started and never
// collected: a class chosen and not yet examined. Reads only.
bool HasUnfinishedSitting(fw::Connection& connection);

// A class flag (是否选择, 是否已考) holds the number 1; null and any other value
// do not count.
bool FlagIsSet(const fw::Field& flag);

// Said when an action needs the grid's current examinee and there is none.
inline const QString NoCurrentExaminee = QStringLiteral("请先在考生列表中选择一名考生!");

} // namespace server
