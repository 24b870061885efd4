#pragma once

#include <QString>
#include <stdexcept>

namespace fw {

// Every error that the framework raises. The handler guard shows what() in the
// standard error box; nothing else catches it.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// An error reported by a database: carries the database's own message.
class DbError : public Error {
public:
    using Error::Error;
};

} // namespace fw
