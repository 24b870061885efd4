#include "framework/data/SqlSupport.h"

#include "framework/core/Error.h"

#include <QDateTime>
#include <QSqlQuery>

namespace fw::sql {

QString errorText(const QSqlError& error) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // A statement's error comes as "ERROR:  message\nDETAIL: ...\n(sqlstate)";
    // the message line is what the database has to say.
    for (const char* severity : {"ERROR:", "FATAL:"}) {
        if (text.startsWith(QLatin1String(severity))) {
            text = text.mid(int(qstrlen(severity))).trimmed();
            text = text.section('\n', 0, 0).trimmed();
            break;
        }
    }
    if (text.isEmpty())
        text = QStringLiteral("Unknown database error");
    return text;
}

void prepare(QSqlQuery& query, const QString& text) {
    if (!query.prepare(text))
        throw DbError(errorText(query.lastError()));
}

void exec(QSqlQuery& query) {
    if (!query.exec())
        throw DbError(errorText(query.lastError()));
}

QString quoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace('"', QStringLiteral("\"\""));
    return '"' + quoted + '"';
}

QString connectionValue(const QString& connectionString, const QString& key) {
    // key=value pairs separated by ";"; a value may be quoted and then holds
    // ";" and doubled quotes. A part without "=" (a value cut short by a ";"
    // it holds) makes the whole text unreadable, as it does for ADO: the cut
    // value must not be used.
    const QString& s = connectionString;
    QString found;
    bool matched = false;
    int i = 0;
    while (i < s.size()) {
        const int eq = s.indexOf('=', i);
        const int partEnd = s.indexOf(';', i);
        if (eq < 0 || (partEnd >= 0 && partEnd < eq)) {
            const int end = partEnd < 0 ? s.size() : partEnd;
            if (!s.mid(i, end - i).trimmed().isEmpty())
                throw Error(QStringLiteral("Format of the initialization string does not "
                                           "conform to the OLE DB specification."));
            i = end + 1;
            continue;
        }
        const QString name = s.mid(i, eq - i).trimmed();
        int j = eq + 1;
        while (j < s.size() && s.at(j) == ' ')
            ++j;
        QString value;
        if (j < s.size() && (s.at(j) == '"' || s.at(j) == '\'')) {
            const QChar quote = s.at(j++);
            while (j < s.size()) {
                if (s.at(j) == quote) {
                    if (j + 1 < s.size() && s.at(j + 1) == quote) {
                        value += quote;
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += s.at(j++);
            }
            const int semi = s.indexOf(';', j);
            i = semi < 0 ? s.size() : semi + 1;
        } else {
            const int semi = s.indexOf(';', j);
            const int end = semi < 0 ? s.size() : semi;
            value = s.mid(j, end - j).trimmed();
            i = end + 1;
        }
        if (!matched && name.compare(key, Qt::CaseInsensitive) == 0) {
            found = value;
            matched = true;
        }
    }
    return found;
}

DataType pgDataType(unsigned oid, int typmod, int* size) {
    *size = 0;
    switch (oid) {
    case 16: // bool
        return DataType::Boolean;
    case 17: // bytea
        return DataType::Blob;
    case 20: // int8
    case 21: // int2
    case 23: // int4
    case 26: // oid
        *size = 4;
        return DataType::Integer;
    case 700:  // float4
    case 701:  // float8
    case 1700: // numeric
        *size = 8;
        return DataType::Float;
    case 25: // text: the GBK text columns, their byte limits kept by checks
        return DataType::String;
    case 1042: // bpchar
        *size = typmod > 4 ? typmod - 4 : 1;
        return DataType::FixedChar;
    case 1043: // varchar: the Unicode text columns, sized in characters
    case 19:   // name
        *size = typmod > 4 ? typmod - 4 : 0;
        return DataType::WideString;
    case 1082: // date
    case 1083: // time
    case 1114: // timestamp
    case 1184: // timestamptz
        return DataType::DateTime;
    default:
        return DataType::Unknown;
    }
}

QVariant coerce(const QVariant& value, DataType type, const QString& what) {
    if (!value.isValid() || value.isNull())
        return QVariant();
    bool ok = true;
    QVariant result;
    switch (type) {
    case DataType::String:
    case DataType::FixedChar:
    case DataType::WideString:
    case DataType::Memo:
        if (value.typeId() == QMetaType::QByteArray)
            return QString::fromUtf8(value.toByteArray());
        return value.toString();
    case DataType::Integer:
    case DataType::AutoInc: {
        if (value.typeId() == QMetaType::Double) {
            result = qint64(qRound64(value.toDouble()));
            break;
        }
        const qint64 n = value.typeId() == QMetaType::QString
                             ? value.toString().trimmed().toLongLong(&ok)
                             : value.toLongLong(&ok);
        result = n;
        break;
    }
    case DataType::Float: {
        const double x = value.typeId() == QMetaType::QString
                             ? value.toString().trimmed().toDouble(&ok)
                             : value.toDouble(&ok);
        result = x;
        break;
    }
    case DataType::Boolean:
        result = value.toBool();
        break;
    case DataType::Blob:
        if (value.typeId() == QMetaType::QString)
            return value.toString().toUtf8();
        result = value.toByteArray();
        break;
    case DataType::DateTime:
        result = value.toDateTime();
        ok = result.toDateTime().isValid();
        break;
    case DataType::Unknown:
        return value;
    }
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid value for %2").arg(value.toString(), what));
    return result;
}

} // namespace fw::sql
