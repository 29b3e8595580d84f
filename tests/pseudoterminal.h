#pragma once

#include <initializer_list>

// A real pseudo-terminal: the test holds the master end, the panel opens the slave's path
// as its serial port.

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>

class Pty
{
public:
    Pty()
    {
        char nombre[256] = {};
        if (::openpty(&maestro_, &esclavo_, nombre, nullptr, nullptr) != 0)
            return;
        termios t;
        ::tcgetattr(esclavo_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(esclavo_, TCSANOW, &t);
        ::fcntl(maestro_, F_SETFL, ::fcntl(maestro_, F_GETFL) | O_NONBLOCK);
        ruta_ = QString::fromLocal8Bit(nombre);
    }
    ~Pty()
    {
        cerrarMaestro();
        if (esclavo_ >= 0)
            ::close(esclavo_);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool valido() const { return maestro_ >= 0; }
    QString ruta() const { return ruta_; }

    bool escribir(const QByteArray &datos)
    {
        qsizetype hecho = 0;
        while (hecho < datos.size()) {
            const ssize_t k = ::write(maestro_, datos.constData() + hecho, datos.size() - hecho);
            if (k > 0)
                hecho += k;
            else if (k < 0 && errno != EAGAIN && errno != EINTR)
                return false;
        }
        return true;
    }

    // The line's settings as the panel left them, read from the test's own end.
    termios atributos() const
    {
        termios t{};
        ::tcgetattr(esclavo_, &t);
        return t;
    }

    // What the panel wrote to the line so far.
    QByteArray leer()
    {
        QByteArray todo;
        char buf[256];
        ssize_t k;
        while ((k = ::read(maestro_, buf, sizeof buf)) > 0)
            todo.append(buf, k);
        return todo;
    }

    // Bytes written that nobody has read from the line yet.
    int enEspera() const
    {
        int n = -1;
        ::ioctl(esclavo_, FIONREAD, &n);
        return n;
    }

    // Whether a program holds the line for itself (QSerialPort asks for that while open).
    bool exclusivo() const
    {
        int excl = 0;
        return ::ioctl(esclavo_, TIOCGEXCL, &excl) == 0 && excl != 0;
    }

    // A hang-up with the device still there (needs the administrator's rights).
    bool colgar() { return ::ioctl(esclavo_, TIOCVHANGUP) == 0; }

    // The far end goes away; the slave copy the test held goes too, so the panel sees it.
    void cerrarMaestro()
    {
        if (esclavo_ >= 0) {
            ::close(esclavo_);
            esclavo_ = -1;
        }
        if (maestro_ >= 0) {
            ::close(maestro_);
            maestro_ = -1;
        }
    }

private:
    int maestro_ = -1;
    int esclavo_ = -1;
    QString ruta_;
};

// Bytes as a controller sends them, written as numbers.
inline QByteArray bytes(std::initializer_list<int> valores)
{
    QByteArray b;
    for (int v : valores)
        b.append(char(v));
    return b;
}
