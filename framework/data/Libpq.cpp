#include "framework/data/Libpq.h"

#include "framework/core/Error.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QLocale>
#include <QSqlDriver>
#include <QtEndian>

#include <charconv>
#include <cmath>
#include <libpq-fe.h>

namespace fw::pg {

namespace {

// The database's own message of a failed command.
QString failureText(PGconn* conn, const PGresult* result) {
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    QString text = QString::fromUtf8(primary ? primary : PQerrorMessage(conn)).trimmed();
    for (const char* severity : {"ERROR:", "FATAL:"})
        if (text.startsWith(QLatin1String(severity)))
            text = text.mid(int(qstrlen(severity))).trimmed();
    text = text.section('\n', 0, 0).trimmed();
    return text.isEmpty() ? QStringLiteral("Unknown database error") : text;
}

// Takes a result; a failed one raises.
Result checked(PGconn* conn, PGresult* raw) {
    Result result(raw);
    const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_SINGLE_TUPLE)
        throw DbError(failureText(conn, raw));
    return result;
}

// Days from 0001-01-01 (Julian day 1721426) to 2000-01-01, PostgreSQL's epoch.
constexpr qint64 kEpochJulianDay = 2451545;
constexpr qint64 kEpochMSecs = 946684800000; // 2000-01-01 in ms since 1970-01-01 UTC
constexpr qint64 kMSecsPerDay = 86400000;

qint64 floorDiv(qint64 a, qint64 b) {
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Microseconds to whole milliseconds, halves rounded up, as the driver reads
// the fraction of a second.
qint64 roundedMSecs(qint64 micros) {
    return floorDiv(micros + 500, 1000);
}

template <class T> T readBig(QByteArrayView b, qsizetype at = 0) {
    return qFromBigEndian<T>(b.data() + at);
}

double parseDouble(QByteArrayView text) {
    double value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc() && ptr == end)
        return value;
    if (text.compare("NaN", Qt::CaseInsensitive) == 0)
        return qQNaN();
    if (text.compare("Infinity", Qt::CaseInsensitive) == 0)
        return qInf();
    if (text.compare("-Infinity", Qt::CaseInsensitive) == 0)
        return -qInf();
    return std::nan("");
}

// The shortest text that gives the float back, read as a double: what the
// driver makes of a real column's text.
double widenFloat(float f) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, f);
    if (ec != std::errc())
        return double(f);
    return parseDouble(QByteArrayView(text, end - text));
}

// A numeric's binary form (digits of base 10000) as the text the database
// would print, read as a double.
QVariant numericFromBinary(QByteArrayView b) {
    const int ndigits = readBig<qint16>(b, 0);
    const int weight = readBig<qint16>(b, 2);
    const quint16 sign = readBig<quint16>(b, 4);
    if (sign == 0xC000)
        return qQNaN();
    if (sign == 0xD000)
        return qInf();
    if (sign == 0xF000)
        return -qInf();
    QByteArray text;
    if (sign == 0x4000)
        text += '-';
    const auto digit = [&](int i) {
        return i >= 0 && i < ndigits ? readBig<qint16>(b, 8 + 2 * i) : 0;
    };
    if (weight < 0) {
        text += '0';
    } else {
        text += QByteArray::number(digit(0));
        for (int i = 1; i <= weight; ++i)
            text += QByteArray::number(digit(i)).rightJustified(4, '0');
    }
    if (ndigits > weight + 1) {
        text += '.';
        for (int i = weight + 1; i < ndigits; ++i)
            text += QByteArray::number(digit(i)).rightJustified(4, '0');
    }
    return parseDouble(text);
}

QDateTime wallTime(qint64 micros) {
    if (micros == std::numeric_limits<qint64>::max() ||
        micros == std::numeric_limits<qint64>::min())
        return QDateTime(); // infinity
    const qint64 ms = roundedMSecs(micros);
    const qint64 days = floorDiv(ms, kMSecsPerDay);
    return QDateTime(QDate::fromJulianDay(kEpochJulianDay + days),
                     QTime::fromMSecsSinceStartOfDay(int(ms - days * kMSecsPerDay)));
}

QVariant fromBinary(QByteArrayView b, unsigned type) {
    switch (type) {
    case BoolOid:
        return bool(b.size() > 0 && b[0] != 0);
    case ByteaOid:
        return QByteArray(b.data(), b.size());
    case Int8Oid: {
        const qint64 v = readBig<qint64>(b);
        return v < 0 ? QVariant(qlonglong(v)) : QVariant(qulonglong(v));
    }
    case Int2Oid:
        return int(readBig<qint16>(b));
    case Int4Oid:
        return int(readBig<qint32>(b));
    case OidOid:
        return QString::number(readBig<quint32>(b));
    case Float4Oid:
        return widenFloat(std::bit_cast<float>(readBig<quint32>(b)));
    case Float8Oid:
        return std::bit_cast<double>(readBig<quint64>(b));
    case NumericOid:
        return numericFromBinary(b);
    case 1082: { // date
        const qint32 days = readBig<qint32>(b);
        if (days == std::numeric_limits<qint32>::max() ||
            days == std::numeric_limits<qint32>::min())
            return QDate();
        return QDate::fromJulianDay(kEpochJulianDay + days);
    }
    case 1083: // time
        return QTime::fromMSecsSinceStartOfDay(
            int(std::min<qint64>(roundedMSecs(readBig<qint64>(b)), kMSecsPerDay - 1)));
    case 1114: // timestamp: the wall-clock time as it stands
        return wallTime(readBig<qint64>(b));
    case 1184: { // timestamptz: an instant, shown in local time
        const qint64 micros = readBig<qint64>(b);
        if (micros == std::numeric_limits<qint64>::max() ||
            micros == std::numeric_limits<qint64>::min())
            return QDateTime();
        return QDateTime::fromMSecsSinceEpoch(roundedMSecs(micros) + kEpochMSecs, Qt::UTC)
            .toLocalTime();
    }
    default: // text, varchar, bpchar, name: UTF-8
        return QString::fromUtf8(b.data(), b.size());
    }
}

QVariant fromText(QByteArrayView b, unsigned type) {
    switch (type) {
    case BoolOid:
        return bool(b.size() > 0 && b[0] == 't');
    case ByteaOid: {
        const QByteArray text(b.data(), b.size());
        size_t length = 0;
        unsigned char* bytes =
            PQunescapeBytea(reinterpret_cast<const unsigned char*>(text.constData()), &length);
        QByteArray value(reinterpret_cast<const char*>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return value;
    }
    case Int8Oid: {
        const QByteArray text(b.data(), b.size());
        return text.startsWith('-') ? QVariant(text.toLongLong()) : QVariant(text.toULongLong());
    }
    case Int2Oid:
    case Int4Oid:
    case 24: // regproc
    case 28: // xid
    case 29: // cid
        return QByteArray(b.data(), b.size()).toInt();
    case Float4Oid:
    case Float8Oid:
    case NumericOid:
        return parseDouble(b);
    case 1082:
        return QDate::fromString(QString::fromLatin1(b.data(), b.size()), Qt::ISODate);
    case 1083:
    case 1266: // timetz
        return QTime::fromString(QString::fromLatin1(b.data(), b.size()), Qt::ISODate);
    case 1114:
    case 1184: {
        QString text = QString::fromLatin1(b.data(), b.size());
        text.replace(' ', 'T');
        const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
        return type == 1184 ? t.toLocalTime() : t;
    }
    default:
        return QString::fromUtf8(b.data(), b.size());
    }
}

QMetaType metaTypeOf(unsigned type) {
    switch (type) {
    case BoolOid:
        return QMetaType::fromType<bool>();
    case ByteaOid:
        return QMetaType::fromType<QByteArray>();
    case Int8Oid:
        return QMetaType::fromType<qlonglong>();
    case Int2Oid:
    case Int4Oid:
    case 24:
    case 28:
    case 29:
        return QMetaType::fromType<int>();
    case Float4Oid:
    case Float8Oid:
    case NumericOid:
        return QMetaType::fromType<double>();
    case 1082:
        return QMetaType::fromType<QDate>();
    case 1083:
    case 1266:
        return QMetaType::fromType<QTime>();
    case 1114:
    case 1184:
        return QMetaType::fromType<QDateTime>();
    default:
        return QMetaType::fromType<QString>();
    }
}

QAtomicInt statementCount;

// Null as Qt's drivers bind it: also a null text, bytes, date or time.
bool boundAsNull(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return true;
    switch (v.typeId()) {
    case QMetaType::QString:
        return static_cast<const QString*>(v.constData())->isNull();
    case QMetaType::QByteArray:
        return static_cast<const QByteArray*>(v.constData())->isNull();
    case QMetaType::QDateTime:
        return static_cast<const QDateTime*>(v.constData())->isNull();
    case QMetaType::QDate:
        return static_cast<const QDate*>(v.constData())->isNull();
    case QMetaType::QTime:
        return static_cast<const QTime*>(v.constData())->isNull();
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------- connection

PGconn* connectionOf(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Registered under the name of the struct behind the typedef.
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        throw Error(QStringLiteral("The database driver %1 hands out \"%2\" where a libpq "
                                   "connection is needed: its datasets could neither tell where "
                                   "their columns come from nor write them back")
                        .arg(db.driverName(), handle.isValid()
                                                  ? QString::fromLatin1(handle.typeName())
                                                  : QStringLiteral("nothing")));
    PGconn* conn = *static_cast<PGconn* const*>(handle.constData());
    if (!conn)
        throw Error(QStringLiteral("The database connection is not open"));
    return conn;
}

void requireIdle(PGconn* conn) {
    if (PQtransactionStatus(conn) == PQTRANS_ACTIVE)
        throw Error(QStringLiteral("The connection is still reading the rows of a forward-only "
                                   "dataset; close it first"));
}

// ---------------------------------------------------------------- results

Result& Result::operator=(Result&& other) noexcept {
    if (this != &other) {
        if (m_result)
            PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

Result::~Result() {
    if (m_result)
        PQclear(m_result);
}

int Result::rows() const {
    return m_result ? PQntuples(m_result) : 0;
}

int Result::columns() const {
    return m_result ? PQnfields(m_result) : 0;
}

bool Result::isNull(int row, int column) const {
    return PQgetisnull(m_result, row, column);
}

QByteArrayView Result::bytes(int row, int column) const {
    return QByteArrayView(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

int Result::affected() const {
    return m_result ? QByteArray(PQcmdTuples(m_result)).toInt() : 0;
}

// ---------------------------------------------------------------- values

void Values::push(QByteArray bytes, bool binary, bool null) {
    m_lengths.push_back(null ? 0 : int(bytes.size()));
    m_formats.push_back(binary ? 1 : 0);
    m_data.push_back(null ? QByteArray() : std::move(bytes));
    if (!null && m_data.back().isNull())
        m_data.back() = QByteArray(""); // an empty value, not NULL
}

void Values::add(const QVariant& value) {
    if (boundAsNull(value))
        push(QByteArray(), false, true);
    else if (value.typeId() == QMetaType::QByteArray)
        push(value.toByteArray(), true, false);
    else
        push(textOf(value), false, false);
}

void Values::addExact(const QVariant& exact) {
    if (!exact.isValid() || exact.isNull())
        push(QByteArray(), false, true);
    else if (exact.typeId() == QMetaType::QByteArray)
        push(exact.toByteArray(), true, false);
    else
        push(exact.toString().toUtf8(), false, false);
}

const char* const* Values::values() const {
    m_pointers.clear();
    for (const QByteArray& d : m_data)
        m_pointers.push_back(d.isNull() ? nullptr : d.constData());
    return m_pointers.data();
}

// ---------------------------------------------------------------- commands

Result exec(PGconn* conn, const QString& text, const Values& values, bool binary) {
    requireIdle(conn);
    const QByteArray statement = text.toUtf8();
    return checked(conn, PQexecParams(conn, statement.constData(), values.count(), nullptr,
                                      values.values(), values.lengths(), values.formats(),
                                      binary ? 1 : 0));
}

Result execPrepared(PGconn* conn, const QByteArray& name, const Values& values, bool binary) {
    requireIdle(conn);
    return checked(conn, PQexecPrepared(conn, name.constData(), values.count(), values.values(),
                                        values.lengths(), values.formats(), binary ? 1 : 0));
}

void prepare(PGconn* conn, const QByteArray& name, const QString& text, int valueCount) {
    requireIdle(conn);
    const QByteArray statement = text.toUtf8();
    checked(conn, PQprepare(conn, name.constData(), statement.constData(), valueCount, nullptr));
}

Result describePrepared(PGconn* conn, const QByteArray& name) {
    requireIdle(conn);
    return checked(conn, PQdescribePrepared(conn, name.constData()));
}

QByteArray Statements::prepared(PGconn* conn, const QString& text, int valueCount) {
    const auto found = m_names.constFind(text);
    if (found != m_names.cend())
        return *found;
    const QByteArray name = "fw_" + QByteArray::number(statementCount.fetchAndAddRelaxed(1) + 1);
    prepare(conn, name, text, valueCount);
    m_names.insert(text, name);
    return name;
}

void Statements::clear(PGconn* conn) {
    if (conn && PQtransactionStatus(conn) != PQTRANS_ACTIVE) {
        for (const QByteArray& name : std::as_const(m_names))
            PQclear(PQexec(conn, ("deallocate " + name).constData()));
    }
    m_names.clear();
}

// ---------------------------------------------------------------- row reader

RowReader::RowReader(PGconn* conn, const QString& text, const Values& values, bool binary)
    : m_conn(conn) {
    requireIdle(conn);
    const QByteArray statement = text.toUtf8();
    if (!PQsendQueryParams(conn, statement.constData(), values.count(), nullptr, values.values(),
                           values.lengths(), values.formats(), binary ? 1 : 0))
        throw DbError(failureText(conn, nullptr));
    PQsetSingleRowMode(conn);
}

RowReader::~RowReader() {
    finish();
}

bool RowReader::next() {
    if (m_done)
        return false;
    PGresult* raw = PQgetResult(m_conn);
    const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_TUPLES_OK;
    if (status == PGRES_SINGLE_TUPLE) {
        m_row = Result(raw);
        return true;
    }
    // The end of the rows, or a failure: what follows is dropped, and the
    // last row read stays current.
    Result last(raw);
    const QString failure = status == PGRES_TUPLES_OK ? QString() : failureText(m_conn, raw);
    finish();
    if (!failure.isNull())
        throw DbError(failure);
    return false;
}

void RowReader::finish() {
    if (m_done)
        return;
    m_done = true;
    // The rest is read and dropped: a cancel request could reach the server
    // only once the next command runs, and cancel that one.
    while (PGresult* rest = PQgetResult(m_conn))
        PQclear(rest);
}

// ---------------------------------------------------------------- values

bool isText(unsigned type) {
    return type == TextOid || type == 19 || type == 1042 || type == 1043;
}

bool readsBinary(unsigned type) {
    switch (type) {
    case BoolOid:
    case ByteaOid:
    case Int8Oid:
    case Int2Oid:
    case Int4Oid:
    case TextOid:
    case OidOid:
    case Float4Oid:
    case Float8Oid:
    case NumericOid:
    case 19:   // name
    case 1042: // bpchar
    case 1043: // varchar
    case 1082: // date
    case 1083: // time
    case 1114: // timestamp
    case 1184: // timestamptz
        return true;
    default:
        return false;
    }
}

bool lossy(unsigned type) {
    switch (type) {
    case NumericOid:
    case 1083:
    case 1266:
    case 1114:
    case 1184:
        return true;
    default:
        return false;
    }
}

QVariant decode(QByteArrayView bytes, unsigned type, bool binary) {
    return binary ? fromBinary(bytes, type) : fromText(bytes, type);
}

QVariant nullOf(unsigned type) {
    return QVariant(metaTypeOf(type), nullptr);
}

QByteArray textOf(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? "true" : "false";
    case QMetaType::Double:
    case QMetaType::Float: {
        const double x = v.toDouble();
        if (std::isnan(x))
            return "NaN";
        if (std::isinf(x))
            return x > 0 ? "Infinity" : "-Infinity";
        return QByteArray::number(x, 'g', QLocale::FloatingPointShortest);
    }
    case QMetaType::QDateTime: {
        const QDateTime t = v.toDateTime();
        const int offset = t.offsetFromUtc() / 60;
        return (t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) +
                QStringLiteral("%1%2:%3")
                    .arg(offset < 0 ? '-' : '+')
                    .arg(qAbs(offset) / 60, 2, 10, QChar('0'))
                    .arg(qAbs(offset) % 60, 2, 10, QChar('0')))
            .toUtf8();
    }
    case QMetaType::QDate:
        return v.toDate().toString(Qt::ISODate).toUtf8();
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("hh:mm:ss.zzz")).toUtf8();
    case QMetaType::QByteArray:
        return v.toByteArray();
    default:
        return v.toString().toUtf8();
    }
}

} // namespace fw::pg
