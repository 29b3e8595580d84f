#pragma once

// A real mosquitto of the test's own, on a free loopback port, with the configuration the
// test writes: users and passwords, who may read and write which topics, and persistence, so
// a restart keeps what it held.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "hasta.h"

class Broker
{
public:
    struct Usuario
    {
        QString nombre, contrasena;
        QStringList lee, escribe; // topic filters
    };

    explicit Broker(const QList<Usuario> &usuarios = {})
    {
        QTcpServer libre;
        libre.listen(QHostAddress::LocalHost, 0);
        puerto_ = libre.serverPort();
        libre.close();
        QFile conf(dir_.filePath(QStringLiteral("mosquitto.conf")));
        conf.open(QIODevice::WriteOnly);
        // Run by root, mosquitto would switch to its own user, who cannot write here.
        conf.write(QStringLiteral("listener %1 127.0.0.1\npersistence true\npersistence_location %2/\n"
                                  "user root\nlog_dest file %2/mosquitto.log\n")
                       .arg(puerto_)
                       .arg(dir_.path())
                       .toUtf8());
        if (usuarios.isEmpty()) {
            conf.write("allow_anonymous true\n");
        } else {
            conf.write(QStringLiteral("allow_anonymous false\npassword_file %1/usuarios\nacl_file %1/acl\n")
                           .arg(dir_.path())
                           .toUtf8());
            QFile acl(dir_.filePath(QStringLiteral("acl")));
            acl.open(QIODevice::WriteOnly);
            for (const Usuario &u : usuarios) {
                const QStringList crear = &u == &usuarios.first() ? QStringList{"-c"} : QStringList{};
                QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                  crear + QStringList{"-b", dir_.filePath(QStringLiteral("usuarios")),
                                                      u.nombre, u.contrasena});
                acl.write("user " + u.nombre.toUtf8() + "\n");
                for (const QString &t : u.lee)
                    acl.write("topic read " + t.toUtf8() + "\n");
                for (const QString &t : u.escribe)
                    acl.write("topic write " + t.toUtf8() + "\n");
            }
        }
        conf.close();
        // mosquitto_passwd makes the file; the broker must be able to read it
        QFile::setPermissions(dir_.filePath(QStringLiteral("usuarios")),
                              QFile::ReadOwner | QFile::WriteOwner);
        empezar();
    }
    ~Broker() { parar(); }

    quint16 puerto() const { return puerto_; }
    QString direccion() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(puerto_); }

    // Started and listening (a restart waits for the port too).
    bool empezar()
    {
        proceso_.start(QStringLiteral("mosquitto"),
                       {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
        return proceso_.waitForStarted() && hasta([this] {
                   QTcpSocket s;
                   s.connectToHost(QHostAddress::LocalHost, puerto_);
                   return s.waitForConnected(200);
               });
    }
    // As a service manager stops it: SIGTERM, so it saves what it holds.
    void parar()
    {
        if (proceso_.state() == QProcess::NotRunning)
            return;
        proceso_.terminate();
        proceso_.waitForFinished(10000);
    }

private:
    QTemporaryDir dir_;
    quint16 puerto_ = 0;
    QProcess proceso_;
};
