#include "senales.h"

#include <QCoreApplication>
#include <QObject>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace senales {

#ifdef Q_OS_UNIX
namespace {

// A signal handler may do almost nothing: it writes a byte, and the event loop, watching the
// other end, does the closing.
int extremos[2] = {-1, -1};

void alRecibir(int senal)
{
    // The interrupted code may be about to read errno.
    const int guardado = errno;
    const char c = char(senal);
    const ssize_t escrito = ::write(extremos[1], &c, 1);
    (void)escrito; // full: a close is already on its way
    errno = guardado;
}

} // namespace
#endif

void cerrarAlRecibir(QObject &contexto, std::function<void()> cerrar)
{
#ifdef Q_OS_UNIX
    // A file-size limit (ulimit -f) would kill the panel mid-record; ignored, the write fails
    // and the log says why and switches itself off. Whatever happens below.
    ::signal(SIGXFSZ, SIG_IGN);
    if (extremos[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, extremos) != 0)
            return;
        for (int extremo : extremos) {
            ::fcntl(extremo, F_SETFL, ::fcntl(extremo, F_GETFL) | O_NONBLOCK);
            ::fcntl(extremo, F_SETFD, FD_CLOEXEC);
        }
    }
    auto *aviso = new QSocketNotifier(extremos[0], QSocketNotifier::Read, &contexto);
    QObject::connect(aviso, &QSocketNotifier::activated, &contexto, [cerrar] {
        char vaciar[16];
        while (::read(extremos[0], vaciar, sizeof vaciar) > 0) {
        }
        cerrar();
        // Also ends a dialog's own event loop that may be open (the save dialog, a question).
        QCoreApplication::quit();
    });
    struct sigaction accion{};
    accion.sa_handler = alRecibir;
    sigemptyset(&accion.sa_mask);
    accion.sa_flags = SA_RESTART;
    for (int senal : {SIGTERM, SIGINT, SIGHUP}) {
        // What the user set to be ignored stays so: nohup's SIGHUP, a script's SIGINT.
        struct sigaction antes{};
        if (::sigaction(senal, nullptr, &antes) == 0 && antes.sa_handler == SIG_IGN)
            continue;
        ::sigaction(senal, &accion, nullptr);
    }
#else
    Q_UNUSED(contexto);
    Q_UNUSED(cerrar);
#endif
}

} // namespace senales
