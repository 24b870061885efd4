#pragma once

// A scratch database of the test cluster for one suite of the data layer,
// reached with the console's connection text; never the catalog Morvel.

#include "framework/core/Error.h"
#include "framework/data/Connection.h"

#include <QString>
#include <memory>

namespace dbtest {

inline QString consoleText(const QString& catalog) {
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                          "Info=False;Initial Catalog=%1;Data Source=(local)")
        .arg(catalog);
}

// The message of the framework error that f raises; empty when none.
template <typename F> QString errorOf(F&& f) {
    try {
        f();
    } catch (const fw::Error& e) {
        return e.message();
    }
    return QString();
}

// The same for an error that the database reported; a failure of another
// kind is named so.
template <typename F> QString dbErrorOf(F&& f) {
    try {
        f();
    } catch (const fw::DbError& e) {
        return e.message();
    } catch (const fw::Error& e) {
        return QStringLiteral("not a database error: ") + e.message();
    }
    return QString();
}

class Scratch {
public:
    explicit Scratch(const QString& name) : m_name(name) {}

    // Creates the database afresh (dropping one left by an earlier run).
    void create() {
        admin().execute(QStringLiteral("drop database if exists %1 with (force)").arg(m_name));
        admin().execute(QStringLiteral("create database %1").arg(m_name));
    }
    void drop() {
        admin().execute(QStringLiteral("drop database if exists %1 with (force)").arg(m_name));
        m_admin.reset();
    }
    QString name() const { return m_name; }
    QString connectionText() const { return consoleText(m_name); }

    // A new connection to the scratch database, owned by the caller's parent.
    fw::Connection* connect(QObject* parent) const {
        auto* c = new fw::Connection(parent);
        c->setLoginPrompt(false);
        c->setConnectionString(connectionText());
        return c;
    }

    // The superuser's connection to the maintenance database postgres.
    fw::Connection& admin() {
        if (!m_admin) {
            m_admin = std::make_unique<fw::Connection>();
            m_admin->setConnectionString(consoleText(QStringLiteral("postgres")));
            m_admin->execute(QStringLiteral("set client_min_messages = warning"));
        }
        return *m_admin;
    }

private:
    QString m_name;
    std::unique_ptr<fw::Connection> m_admin;
};

} // namespace dbtest
