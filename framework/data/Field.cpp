#include "framework/data/Field.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/data/Dataset.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace fw {

namespace {

bool isNullValue(const QVariant& v) {
    return !v.isValid() || v.isNull();
}

} // namespace

QString valueText(const QVariant& v) {
    if (isNullValue(v))
        return QString();
    switch (v.typeId()) {
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    default:
        return v.toString();
    }
}

Field::Field(Dataset* owner, int index, const QString& name, DataType type, int size)
    : m_owner(owner), m_index(index), m_name(name), m_type(type), m_size(size) {}

bool Field::readOnly() const {
    return m_owner->fieldReadOnly(this);
}

QVariant Field::value() const {
    m_owner->checkField(this);
    return m_owner->rowValue(m_index);
}

bool Field::isNull() const {
    m_owner->checkField(this);
    return m_owner->fieldIsNull(m_index);
}

QString Field::asString() const {
    return valueText(value());
}

int Field::asInteger() const {
    const QVariant v = value();
    if (isNullValue(v))
        return 0;
    bool ok = true;
    int n = 0;
    if (v.typeId() == QMetaType::Double)
        n = qRound(v.toDouble());
    else if (v.typeId() == QMetaType::QString)
        n = v.toString().trimmed().toInt(&ok);
    else
        n = v.toInt(&ok);
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
    return n;
}

double Field::asFloat() const {
    const QVariant v = value();
    if (isNullValue(v))
        return 0;
    bool ok = true;
    const double x =
        v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
    return x;
}

QByteArray Field::asBytes() const {
    const QVariant v = value();
    if (isNullValue(v))
        return QByteArray();
    if (v.typeId() == QMetaType::QString)
        return v.toString().toUtf8();
    return v.toByteArray();
}

void Field::setValue(const QVariant& value) {
    m_owner->checkField(this);
    m_owner->setRowValue(m_index, value);
}

void Field::saveToFile(const QString& path) const {
    m_owner->checkField(this);
    QByteArray holder;
    const QByteArrayView bytes = m_owner->fieldBytes(m_index, holder);
    QFile file(hostPath(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush())
        throw Error(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    file.close();
}

void Field::loadFromFile(const QString& path) {
    QFile file(hostPath(path));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    setValue(bytes);
}

} // namespace fw
