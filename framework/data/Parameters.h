#pragma once

#include "framework/data/Field.h"

#include <QStringList>
#include <QVector>

namespace fw {

// A parameter of a query or stored procedure.
class Parameter {
public:
    Parameter() = default;
    Parameter(const QString& name, DataType type, int size)
        : m_name(name), m_type(type), m_size(size) {}
    QString name() const { return m_name; }
    DataType dataType() const { return m_type; }
    void setDataType(DataType type) { m_type = type; }
    int size() const { return m_size; }
    void setSize(int size) { m_size = size; }
    QVariant value() const { return m_value; }
    void setValue(const QVariant& v) { m_value = v; }
    QString asString() const { return m_value.toString(); }

private:
    QString m_name;
    DataType m_type = DataType::Unknown;
    int m_size = 0;
    QVariant m_value;
};

class Parameters {
public:
    // Names are matched without regard to case and without a leading "@".
    Parameter& paramByName(const QString& name); // raises for an unknown name
    Parameter* find(const QString& name);
    const Parameter* find(const QString& name) const;
    int indexOf(const QString& name) const; // -1 for an unknown name
    Parameter& add(const QString& name, DataType type = DataType::Unknown, int size = 0);
    void clear() { m_items.clear(); }
    int count() const { return m_items.size(); }
    Parameter& at(int i) { return m_items[i]; }
    const Parameter& at(int i) const { return m_items[i]; }

    // The parameter's value converted to its declared type; raises when it
    // cannot be.
    QVariant boundValue(int i) const;

private:
    QVector<Parameter> m_items;
};

// The ":name" parameters of a statement, in the order of first appearance,
// names compared without regard to case; quoted texts and names are skipped,
// and so is a "::" cast.
QStringList parameterNames(const QString& statement);

// The statement as PostgreSQL takes it: every ":name" becomes "$n", n the
// place of the name in parameterNames() counted from 1.
QString numberedParameters(const QString& statement);

} // namespace fw
