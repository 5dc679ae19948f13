#pragma once

// A private PostgreSQL server for tests: initdb and pg_ctl into a temporary folder,
// listening on 127.0.0.1 on a free port with its socket in that folder, stopped again
// when the object goes. initdb and postgres refuse to run as root, so when the tests do
// they run as "nobody", who owns the folder.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class PostgresCluster final {
public:
    static constexpr char Superuser[] = "quillora";

    // Why no cluster can be started here; empty when one can.
    static QString unavailable()
    {
        if (binary("initdb").isEmpty() || binary("pg_ctl").isEmpty())
            return QStringLiteral("PostgreSQL's initdb and pg_ctl were not found "
                                  "(install postgresql)");
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return QStringLiteral("Qt's PostgreSQL driver QPSQL is missing "
                                  "(install libqt6sql6-psql)");
        return QString();
    }

    // Starts the server; with a password the superuser needs it over TCP
    // (scram-sha-256), else every connection is trusted. False with why in *error.
    bool start(QString* error, const QByteArray& password = QByteArray())
    {
        m_password = password;
        // Others may pass through the folder to the parts "nobody" owns.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0711);
        for (const char* sub : {"data", "run"})
            QDir(m_dir.path())
                .mkdir(QLatin1String(sub), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QStringList init{QStringLiteral("-D"),         path("data"),
                         QStringLiteral("-U"),         QLatin1String(Superuser),
                         QStringLiteral("-E"),         QStringLiteral("UTF8"),
                         QStringLiteral("--locale=C"), QStringLiteral("--no-sync")};
        if (password.isEmpty()) {
            init << QStringLiteral("--auth=trust");
        } else {
            QFile file(path("run/pw"));
            if (!file.open(QIODevice::WriteOnly) || file.write(password + '\n') < 0)
                return fail(error, QStringLiteral("cannot write the password file"));
            file.close();
            init << QStringLiteral("--auth-local=trust")
                 << QStringLiteral("--auth-host=scram-sha-256")
                 << QStringLiteral("--pwfile=") + path("run/pw");
        }
        if (::geteuid() == 0 && !run(QStringLiteral("chown"),
                                     {QStringLiteral("-R"), QStringLiteral("nobody:nogroup"),
                                      path("data"), path("run")},
                                     error, false))
            return false;
        if (!run(binary("initdb"), init, error))
            return false;
        QFile::remove(path("run/pw"));
        QTcpServer probe; // a free port, given back at once
        if (!probe.listen(QHostAddress::LocalHost))
            return fail(error, QStringLiteral("no free port"));
        m_port = probe.serverPort();
        probe.close();
        m_settings = QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 "
                                    "-c fsync=off -c max_connections=200")
                         .arg(m_port)
                         .arg(path("run"));
        return resume(error);
    }

    // Stops the server at once, its connections cut as a crash would cut them; resume()
    // starts it again on the same port.
    bool stopNow(QString* error)
    {
        m_running =
            !run(binary("pg_ctl"),
                 {QStringLiteral("-D"), path("data"), QStringLiteral("-m"),
                  QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
                 error);
        return !m_running;
    }
    bool resume(QString* error)
    {
        m_running =
            run(binary("pg_ctl"),
                {QStringLiteral("-D"), path("data"), QStringLiteral("-l"), path("run/log"),
                 QStringLiteral("-o"), m_settings, QStringLiteral("-w"), QStringLiteral("start")},
                error);
        return m_running;
    }

    ~PostgresCluster()
    {
        if (m_running) {
            QString ignored;
            run(binary("pg_ctl"),
                {QStringLiteral("-D"), path("data"), QStringLiteral("-m"), QStringLiteral("fast"),
                 QStringLiteral("-w"), QStringLiteral("stop")},
                &ignored);
        }
    }

    quint16 port() const { return m_port; }
    // The URL --db takes for a database of this server.
    QString url(const QString& database) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
            .arg(QLatin1String(Superuser))
            .arg(m_port)
            .arg(database);
    }

    // Creates an empty database; false with why in *error.
    bool createDatabase(const QString& name, QString* error)
    {
        const QString connection = QStringLiteral("postgres-cluster-admin");
        bool created = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
            db.setHostName(path("run")); // the socket, trusted
            db.setPort(m_port);
            db.setUserName(QLatin1String(Superuser));
            db.setDatabaseName(QStringLiteral("postgres"));
            QSqlQuery query(db);
            created = db.open() && query.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            if (!created)
                *error = db.isOpen() ? query.lastError().text() : db.lastError().text();
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        return created;
    }

    // One cluster for the whole test program, started on first use; nullptr with why in
    // *error when it cannot be.
    static PostgresCluster* shared(QString* error)
    {
        static std::unique_ptr<PostgresCluster> cluster;
        static QString why;
        if (!cluster && why.isEmpty()) {
            why = unavailable();
            if (why.isEmpty()) {
                cluster = std::make_unique<PostgresCluster>();
                if (!cluster->start(&why))
                    cluster.reset();
                else
                    qAddPostRoutine([] { cluster.reset(); });
            }
        }
        *error = why;
        return cluster.get();
    }

private:
    static QString binary(const char* name)
    {
        const QString inBin = QStringLiteral("/usr/lib/postgresql/15/bin/") + QLatin1String(name);
        if (QFile::exists(inBin))
            return inBin;
        return QStandardPaths::findExecutable(QLatin1String(name));
    }
    QString path(const char* sub) const { return m_dir.filePath(QLatin1String(sub)); }
    static bool fail(QString* error, const QString& why)
    {
        *error = why;
        return false;
    }
    // Runs the program to its end, as nobody when this process is root.
    static bool run(const QString& program, const QStringList& arguments, QString* error,
                    bool unprivileged = true)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (unprivileged && ::geteuid() == 0)
            process.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=nobody"),
                                                                 QStringLiteral("--regid=nogroup"),
                                                                 QStringLiteral("--clear-groups"),
                                                                 QStringLiteral("--"), program} +
                                                         arguments);
        else
            process.start(program, arguments);
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
            process.exitCode() == 0)
            return true;
        return fail(error, QStringLiteral("%1 failed: %2")
                               .arg(program, QString::fromLocal8Bit(process.readAll())));
    }

    QTemporaryDir m_dir;
    QByteArray m_password;
    quint16 m_port = 0;
    QString m_settings;
    bool m_running = false;
};
