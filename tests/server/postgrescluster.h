#pragma once

// A private PostgreSQL server for the server tests and benches, run by the script postgres-cluster
// beside this file. Under ctest the server tests share one (shared()), started by the fixture
// server_postgres_start, its state file named by QUILLORA_TEST_POSTGRES; alone, each runs its own.

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

class PostgresCluster final {
public:
    static constexpr char Superuser[] = "quillora";
    static constexpr char PasswordUser[] = "quillora_pw";
    static constexpr char Password[] = "pg-s3cret-Quill"; // PasswordUser's

    // Why no cluster can be started here; empty when one can.
    static QString unavailable()
    {
        if (!QFile::exists("/usr/lib/postgresql/15/bin/initdb") &&
            QStandardPaths::findExecutable("initdb").isEmpty())
            return "PostgreSQL's initdb was not found (install postgresql)";
        return QSqlDatabase::isDriverAvailable("QPSQL")
                   ? QString()
                   : "Qt's PostgreSQL driver QPSQL is missing (install libqt6sql6-psql)";
    }
    // The cluster that the state file names; without one, a file of its own for start().
    explicit PostgresCluster(const QString& state = {})
        : m_state(state.isEmpty() ? m_own.filePath("state") : state)
    {
    }
    ~PostgresCluster()
    {
        if (m_started)
            script({"stop"});
    }

    // Starts a cluster of its own; false with why in *error.
    bool start(QString* error)
    {
        *error = unavailable();
        m_started = error->isEmpty() && script({"start"}, error);
        return m_started && attach(error);
    }
    // Finds the cluster that the state file names; false with why in *error.
    bool attach(QString* error)
    {
        QFile state(m_state);
        const QString folder = state.open(QIODevice::ReadOnly) ? state.readAll().trimmed() : "";
        QFile port(folder + "/port");
        m_port = port.open(QIODevice::ReadOnly) ? port.readAll().trimmed().toUShort() : 0;
        *error = m_port ? unavailable()
                 : folder.startsWith("unavailable: ")
                     ? folder.mid(13)
                     : "no PostgreSQL server is named in " + m_state;
        return error->isEmpty();
    }
    quint16 port() const { return m_port; }
    // The URL --db takes for a database of this server.
    QString url(const QString& database, const char* user = Superuser) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/").arg(user).arg(m_port) + database;
    }
    // Runs the statement as the superuser; false with why in *error.
    bool admin(const QString& sql, QString* error = nullptr) { return script({"sql", sql}, error); }
    bool createDatabase(const QString& name, QString* error)
    {
        return admin("CREATE DATABASE \"" + name + '"', error);
    }
    // The cluster of the ctest run, else one of this program's own; nullptr with why.
    static PostgresCluster* shared(QString* error = nullptr)
    {
        static QString why;
        static std::unique_ptr<PostgresCluster> cluster = [] {
            const QString state = qEnvironmentVariable("QUILLORA_TEST_POSTGRES");
            auto own = std::make_unique<PostgresCluster>(state);
            if (!(state.isEmpty() ? own->start(&why) : own->attach(&why)))
                return std::unique_ptr<PostgresCluster>();
            qAddPostRoutine([] { cluster.reset(); }); // stopped while Qt still runs
            return own;
        }();
        if (error)
            *error = why;
        return cluster.get();
    }

private:
    // Runs the script beside this file with the command, the state file and the rest.
    bool script(QStringList arguments, QString* error = nullptr)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        arguments.insert(1, m_state);
        process.start(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/postgres-cluster",
                      arguments);
        const bool ran = process.waitForFinished(120000) &&
                         process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!ran && error)
            *error = "postgres-cluster " + arguments.join(' ') + ": " + process.readAll();
        return ran;
    }

    QTemporaryDir m_own;
    QString m_state;
    quint16 m_port = 0;
    bool m_started = false;
};
