#pragma once

#include <QByteArray>
#include <QString>

namespace fw {

// Code page 936 (GBK), through iconv. Characters that GBK cannot hold become
// "?" on the way out; bytes that are not GBK become U+FFFD on the way in.
QByteArray toGbk(const QString& text);
QString fromGbk(const QByteArray& bytes);
int gbkLength(const QString& text); // bytes that the text takes in GBK
// The longest prefix of text whose GBK form fits maxBytes.
QString cutToGbkBytes(const QString& text, int maxBytes);

} // namespace fw
