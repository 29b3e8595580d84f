#include "cargadorhistorial.h"

#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include <QTimer>

namespace {

constexpr qint64 tamanoBloque = 4 * 1024 * 1024;
constexpr qsizetype largoCabeza = 256;

// What the message quotes of a bad line: printable, and short.
QString citar(const char *p, qsizetype n)
{
    QByteArray b(p, std::min<qsizetype>(n, 60));
    if (b.endsWith('\r'))
        b.chop(1);
    for (char &c : b)
        if (uint8_t(c) < 32 || c == 127)
            c = '?';
    return QString::fromUtf8(b);
}

} // namespace

CargadorHistorial::CargadorHistorial(const QString &ruta) : ruta_(ruta)
{
    for (const QLocale &l : LectorLineas::candidatos())
        lectores_.emplace_back(l);
}

CargadorHistorial::~CargadorHistorial() = default;

void CargadorHistorial::empezar()
{
    if (!temporizador_) {
        temporizador_ = new QTimer(this);
        connect(temporizador_, &QTimer::timeout, this, &CargadorHistorial::seguir);
        temporizador_->start(intervaloSeguirMs);
    }
    reiniciar();
}

void CargadorHistorial::reiniciar()
{
    archivo_.close();
    archivo_.setFileName(ruta_);
    posicion_ = numeroLinea_ = primeraMala_ = 0;
    resto_.clear();
    saltando_ = leidoDicho_ = false;
    if (!archivo_.open(QIODevice::ReadOnly)) {
        emit fallo(archivo_.errorString());
        return;
    }
    cabeza_ = archivo_.read(largoCabeza);
    archivo_.seek(0);
    leerHasta(archivo_.size());
}

bool CargadorHistorial::reemplazado()
{
#ifdef Q_OS_UNIX
    // Another file under the same name; the one open may live on unnamed.
    struct stat nombre, abierto;
    if (::stat(QFile::encodeName(ruta_).constData(), &nombre) != 0
        || ::fstat(archivo_.handle(), &abierto) != 0)
        return true;
    if (nombre.st_ino != abierto.st_ino || nombre.st_dev != abierto.st_dev)
        return true;
#endif
    // Rewritten in place (or where files have no number): it starts with other bytes.
    QFile ahora(ruta_);
    if (!ahora.open(QIODevice::ReadOnly))
        return true;
    return ahora.read(cabeza_.size()) != cabeza_;
}

void CargadorHistorial::seguir()
{
    if (parar_)
        return;
    if (!archivo_.isOpen()) {
        if (QFile::exists(ruta_))
            reiniciar();
        return;
    }
    const qint64 tamano = archivo_.size();
    if (tamano < posicion_ || reemplazado()) {
        emit reiniciado(tamano < posicion_ ? QStringLiteral("se acortó")
                                           : QStringLiteral("se reemplazó"));
        reiniciar();
        return;
    }
    if (cabeza_.size() < largoCabeza && tamano > cabeza_.size()) {
        archivo_.seek(0);
        cabeza_ = archivo_.read(largoCabeza);
    }
    if (tamano > posicion_) {
        leerHasta(tamano);
        return;
    }
    // A last line that stayed without its end for a whole look: cut short, not ours.
    if (!resto_.isEmpty() && !saltando_) {
        Lote lote;
        lote.leidos = lote.total = posicion_;
        ++numeroLinea_;
        linea(resto_.constData(), resto_.size(), lote, false);
        resto_.clear();
        emit this->lote(std::make_shared<const Lote>(std::move(lote)));
    }
}

void CargadorHistorial::linea(const char *p, qsizetype n, Lote &lote, bool entera)
{
    std::optional<LectorLineas::Muestra> m;
    if (entera && n > 0 && n <= maxLinea) {
        if (elegido_)
            m = lectores_[*elegido_].leer(p, size_t(n));
        else
            for (size_t i = 0; i < lectores_.size() && !m; ++i)
                if ((m = lectores_[i].leer(p, size_t(n))))
                    elegido_ = i;
    }
    if (m) {
        lote.muestras.push_back(*m);
        return;
    }
    if (n == 0 || (n == 1 && *p == '\r'))
        return; // an empty line says nothing
    ++lote.lineasMalas;
    if (primeraMala_ == 0) {
        primeraMala_ = lote.primeraMala = numeroLinea_;
        lote.textoPrimeraMala = citar(p, n);
    }
}

void CargadorHistorial::leerHasta(qint64 fin)
{
    QByteArray bloque;
    while (posicion_ < fin && !parar_) {
        archivo_.seek(posicion_);
        bloque = archivo_.read(std::min(tamanoBloque, fin - posicion_));
        if (bloque.isEmpty())
            break;
        posicion_ += bloque.size();
        Lote lote;
        lote.muestras.reserve(size_t(bloque.size() / 20));
        const char *p = bloque.constData();
        const char *final = p + bloque.size();
        while (p < final) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(final - p)));
            const char *hasta = nl ? nl : final;
            if (saltando_) {
                // A run with no line end longer than any record (a binary file): counted once.
            } else if (!resto_.isEmpty() || !nl) {
                resto_.append(p, hasta - p);
                if (resto_.size() > maxLinea) {
                    ++numeroLinea_;
                    linea(resto_.constData(), resto_.size(), lote, false);
                    resto_.clear();
                    saltando_ = true;
                } else if (nl) {
                    ++numeroLinea_;
                    linea(resto_.constData(), resto_.size(), lote);
                    resto_.clear();
                }
            } else {
                ++numeroLinea_;
                linea(p, hasta - p, lote);
            }
            if (nl)
                saltando_ = false;
            p = nl ? nl + 1 : final;
        }
        lote.leidos = posicion_;
        lote.total = std::max(fin, posicion_);
        emit this->lote(std::make_shared<const Lote>(std::move(lote)));
    }
    if (!leidoDicho_ && posicion_ >= fin) {
        leidoDicho_ = true;
        emit leido();
    }
}
