#include "cargadorhistorial.h"

#include <chrono>
#include <cstring>
#include <thread>

#include <QDir>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 tamanoTrozo = 4 * 1024 * 1024;
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

CargadorHistorial::~CargadorHistorial()
{
#ifdef Q_OS_UNIX
    if (tubo_ >= 0)
        ::close(tubo_);
#endif
}

int64_t CargadorHistorial::ordenar(const LectorLineas::Muestra &m, int64_t previo)
{
    int64_t t = m.ms;
    if (t < previo && m.repetida > 0 && t + m.repetida >= previo)
        t += m.repetida;
    // A wall clock stepped back while logging: kept level, so the lines keep their order.
    return std::max(t, previo);
}

void CargadorHistorial::decodificar(const char *p, qsizetype n, LectorLineas &lector,
                                    int64_t previo, std::vector<DatosHistorial::Cruda> &salida)
{
    const char *final = p + n;
    while (p < final) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(final - p)));
        const char *hasta = nl ? nl : final;
        if (hasta - p <= maxLinea) {
            if (const auto m = lector.leer(p, size_t(hasta - p))) {
                previo = ordenar(*m, previo);
                salida.push_back({previo, m->valor, m->setPoint, m->conMs});
            }
        }
        p = hasta + 1;
    }
}

void CargadorHistorial::empezar()
{
    reiniciar();
}

bool CargadorHistorial::abrir()
{
    auto archivo = std::make_unique<QFile>();
    Fuente fuente;
#ifdef Q_OS_UNIX
    // Never waits for a FIFO's writer: the open returns at once, the reads wait in poll.
    const int fd = ::open(QFile::encodeName(ruta_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        emit fallo(qt_error_string(error));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        emit fallo(QStringLiteral("es una carpeta"));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        tubo_ = fd;
        finTubo_ = false;
        largoTubo_ = 0;
        auto copia = std::make_unique<QTemporaryFile>(QDir::tempPath()
                                                      + QStringLiteral("/velmora-XXXXXX.xls"));
        if (!copia->open()) {
            emit fallo(QStringLiteral("no se pudo crear una copia temporal: %1")
                           .arg(copia->errorString()));
            return false;
        }
        archivo = std::move(copia);
    } else {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        archivo->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
        fuente.dispositivo = quint64(st.st_dev);
        fuente.inodo = quint64(st.st_ino);
    }
#else
    archivo->setFileName(ruta_);
    if (!archivo->open(QIODevice::ReadOnly)) {
        emit fallo(archivo->errorString());
        return false;
    }
#endif
    fuente.archivo = std::move(archivo);
    fuentes_.push_back(std::move(fuente));
    return true;
}

void CargadorHistorial::reiniciar()
{
#ifdef Q_OS_UNIX
    if (tubo_ >= 0)
        ::close(tubo_);
#endif
    tubo_ = -1;
    fuentes_.clear();
    posicion_ = numeroLinea_ = malas_ = primeraMala_ = 0;
    textoPrimeraMala_.clear();
    saltando_ = leidoDicho_ = movidoDicho_ = false;
    colgando_ = -1;
    cabeza_.clear();
    lector_ = -1;
    previo_ = INT64_MIN;
    sesiones_.vaciar();
    bloque_ = {};
    pendientes_.clear();
    bloquesHechos_ = desdePendientes_ = 0;
    muestras_ = 0;
    ++generacion_;
    tramo_ = Tramo();
    if (!abrir())
        return;
    enviar(true); // a new generation: the window empties
    seguir();
}

void CargadorHistorial::nuevoTramo(qint64 posicion)
{
    cerrarBloque();
    tramo_ = {posicion, bloquesHechos_, muestras_, previo_, sesiones_, numeroLinea_ - 1,
              malas_, primeraMala_, textoPrimeraMala_};
}

bool CargadorHistorial::cubreTramo(size_t lector, qint64 hasta)
{
    // Every line the stretch's format read must read with the other one too.
    QFile &f = *fuentes_.back().archivo;
    qint64 desde = tramo_.posicion;
    while (desde < hasta) {
        f.seek(desde);
        const QByteArray trozo = f.read(std::min(tamanoTrozo, hasta - desde));
        if (trozo.isEmpty())
            return false;
        const char *p = trozo.constData(), *final = p + trozo.size();
        while (p < final) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(final - p)));
            if (!nl && desde + trozo.size() < hasta)
                break; // the line goes on in the next piece
            const char *fin = nl ? nl : final;
            if (fin - p <= maxLinea && lectores_[size_t(lector_)].leer(p, size_t(fin - p))
                && !lectores_[lector].leer(p, size_t(fin - p)))
                return false;
            p = fin + 1;
        }
        const qint64 avance = p - trozo.constData();
        desde += avance > 0 ? std::min<qint64>(avance, trozo.size()) : trozo.size();
    }
    return true;
}

void CargadorHistorial::mala(const char *p, qsizetype n)
{
    ++malas_;
    if (primeraMala_ == 0) {
        primeraMala_ = numeroLinea_;
        textoPrimeraMala_ = citar(p, n);
    }
}

CargadorHistorial::Linea CargadorHistorial::linea(const char *p, qsizetype n, qint64 posicion)
{
    std::optional<LectorLineas::Muestra> m;
    if (n > 0 && n <= maxLinea) {
        if (lector_ >= 0)
            m = lectores_[size_t(lector_)].leer(p, size_t(n));
        for (size_t j = 0; j < lectores_.size() && !m; ++j) {
            if (int(j) == lector_ || !(m = lectores_[j].leer(p, size_t(n))))
                continue;
            if (lector_ >= 0 && muestras_ > tramo_.muestras && cubreTramo(j, posicion)) {
                // The stretch was this format all along: read again with it.
                lector_ = int(j);
                bloquesHechos_ = desdePendientes_ = tramo_.bloques;
                pendientes_.clear();
                bloque_ = {};
                muestras_ = tramo_.muestras;
                previo_ = tramo_.previo;
                sesiones_ = tramo_.sesiones;
                numeroLinea_ = tramo_.numeroLinea;
                malas_ = tramo_.malas;
                primeraMala_ = tramo_.primeraMala;
                textoPrimeraMala_ = tramo_.textoPrimeraMala;
                posicion_ = tramo_.posicion;
                saltando_ = false;
                ++generacion_;
                enviar(true);
                return Linea::revisar;
            }
            lector_ = int(j);
            nuevoTramo(posicion);
        }
    }
    if (m) {
        agregarMuestra(*m, posicion, posicion + n + 1);
        return Linea::bien;
    }
    if (n == 0 || (n == 1 && *p == '\r'))
        return Linea::bien; // an empty line says nothing
    mala(p, n);
    return Linea::mala;
}

void CargadorHistorial::agregarMuestra(const LectorLineas::Muestra &m, qint64 posicion,
                                       qint64 fin)
{
    const int64_t t = ordenar(m, previo_);
    const bool sesion = sesiones_.agregar(t);
    if ((sesion && bloque_.n > 0) || bloque_.n == DatosHistorial::muestrasBloque)
        cerrarBloque();
    DatosHistorial::Bloque &b = bloque_;
    if (b.n == 0) {
        b.t0 = t;
        b.posicion = posicion;
        b.previo = previo_;
        b.fuente = uint16_t(fuentes_.size() - 1);
        b.lector = uint8_t(lector_);
        b.sesion = sesion;
        b.spPrimero = m.setPoint;
    }
    b.t1 = t;
    b.bytes = uint32_t(fin - b.posicion);
    ++b.n;
    b.sumaValor += m.valor;
    b.sumaCuadrados += uint32_t(m.valor) * m.valor;
    b.minimo = std::min(b.minimo, m.valor);
    b.maximo = std::max(b.maximo, m.valor);
    if (m.setPoint != LectorLineas::sinSetPoint) {
        ++b.conSetPoint;
        b.sumaSetPoint += m.setPoint;
        b.spMinimo = std::min(b.spMinimo, m.setPoint);
        b.spMaximo = std::max(b.spMaximo, m.setPoint);
    }
    b.spUltimo = m.setPoint;
    b.conMs = b.conMs && m.conMs;
    previo_ = t;
    ++muestras_;
}

void CargadorHistorial::cerrarBloque()
{
    if (bloque_.n == 0)
        return;
    pendientes_.push_back(bloque_);
    ++bloquesHechos_;
    bloque_ = {};
}

void CargadorHistorial::enviar(bool forzar)
{
    if (pendientes_.empty() && !forzar)
        return;
    auto l = std::make_shared<Lote>();
    l->desde = desdePendientes_;
    l->bloques = std::move(pendientes_);
    pendientes_.clear();
    desdePendientes_ = bloquesHechos_;
    l->lineasMalas = malas_;
    l->primeraMala = primeraMala_;
    l->textoPrimeraMala = textoPrimeraMala_;
    l->leidos = posicion_;
    l->total = tubo_ >= 0 || fuentes_.empty() ? -1 : std::max(posicion_, fuentes_.back().archivo->size());
    l->generacion = generacion_;
    emit lote(l);
}

void CargadorHistorial::leerHasta(qint64 fin)
{
    QFile &f = *fuentes_.back().archivo;
    while (posicion_ < fin && !parar_) {
        const qint64 inicio = posicion_;
        f.seek(inicio);
        const QByteArray trozo = f.read(std::min(tamanoTrozo, fin - inicio));
        if (trozo.isEmpty())
            break;
        const char *p = trozo.constData(), *final = p + trozo.size();
        bool revisar = false;
        while (p < final) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(final - p)));
            if (saltando_) {
                // A run with no line end longer than any record (a binary file): counted once.
                p = nl ? nl + 1 : final;
                saltando_ = !nl;
                continue;
            }
            if (!nl) {
                if (final - p > maxLinea) {
                    ++numeroLinea_;
                    mala(p, final - p);
                    saltando_ = true;
                    p = final;
                }
                break; // the rest of the line comes later
            }
            ++numeroLinea_;
            if (linea(p, nl - p, inicio + (p - trozo.constData())) == Linea::revisar) {
                revisar = true;
                break;
            }
            p = nl + 1;
        }
        if (revisar)
            continue;
        posicion_ = inicio + (p - trozo.constData());
        enviar();
        atender();
        if (posicion_ == inicio)
            break; // only part of a line: wait for the rest
    }
    cerrarBloque();
    enviar(true);
}

bool CargadorHistorial::rotado(qint64 tamano)
{
#ifdef Q_OS_UNIX
    struct stat nombre;
    const Fuente &actual = fuentes_.back();
    if (::stat(QFile::encodeName(ruta_).constData(), &nombre) != 0) {
        if (!movidoDicho_)
            emit nota(QStringLiteral("El archivo ya no está en %1: lo leído sigue a la vista, y "
                                     "lo que se le añada.")
                          .arg(QDir::toNativeSeparators(ruta_)));
        movidoDicho_ = true;
        return false;
    }
    if (quint64(nombre.st_ino) != actual.inodo || quint64(nombre.st_dev) != actual.dispositivo)
        return S_ISREG(nombre.st_mode);
#endif
    Q_UNUSED(tamano);
    return false;
}

void CargadorHistorial::seguir()
{
    if (parar_)
        return;
    if (fuentes_.empty()) {
        if (QFile::exists(ruta_))
            reiniciar();
        return;
    }
    QFile &f = *fuentes_.back().archivo;
    if (tubo_ >= 0) {
        while (bombear() && !parar_)
            leerHasta(f.size());
        leerHasta(f.size());
        if (!leidoDicho_) {
            leidoDicho_ = true;
            emit leido();
        }
        return;
    }
    const qint64 tamano = f.size();
    if (tamano < posicion_) {
        emit reiniciado(QStringLiteral("se acortó"));
        reiniciar();
        return;
    }
    if (cabeza_.size() < largoCabeza && tamano > cabeza_.size()) {
        f.seek(0);
        const QByteArray ahora = f.read(largoCabeza);
        if (!ahora.startsWith(cabeza_)) {
            emit reiniciado(QStringLiteral("se reemplazó"));
            reiniciar();
            return;
        }
        cabeza_ = ahora;
    } else if (!cabeza_.isEmpty()) {
        // Rewritten in place: the same file starts with other bytes.
        f.seek(0);
        if (f.read(cabeza_.size()) != cabeza_) {
            emit reiniciado(QStringLiteral("se reemplazó"));
            reiniciar();
            return;
        }
    }
    const qint64 antes = posicion_;
    if (tamano > posicion_)
        leerHasta(tamano);
    if (posicion_ < tamano) {
        // A last line that stayed without its end for a whole look: cut short, not ours.
        if (colgando_ == posicion_ && antes == posicion_) {
            f.seek(posicion_);
            const QByteArray resto = f.read(std::min<qint64>(tamano - posicion_, maxLinea));
            ++numeroLinea_;
            mala(resto.constData(), resto.size());
            posicion_ = tamano;
            colgando_ = -1;
            enviar(true);
        } else {
            colgando_ = posicion_;
        }
    }
    if (!leidoDicho_) {
        leidoDicho_ = true;
        emit leido();
    }
    if (rotado(tamano)) {
        // A rotation: the old file was read to its end; the new one from its start.
        auto nuevo = std::make_unique<QFile>(ruta_);
        struct Fuente fuente;
        if (!nuevo->open(QIODevice::ReadOnly))
            return;
#ifdef Q_OS_UNIX
        struct stat st;
        if (::fstat(nuevo->handle(), &st) == 0) {
            fuente.dispositivo = quint64(st.st_dev);
            fuente.inodo = quint64(st.st_ino);
        }
#endif
        emit nota(QStringLiteral("Otro archivo ocupa ahora %1: se sigue desde su principio, tras "
                                 "lo leído del anterior.")
                      .arg(QDir::toNativeSeparators(ruta_)));
        cerrarBloque();
        fuente.archivo = std::move(nuevo);
        fuentes_.push_back(std::move(fuente));
        posicion_ = 0;
        colgando_ = -1;
        saltando_ = false;
        cabeza_.clear();
        movidoDicho_ = false;
        nuevoTramo(0);
        seguir();
    }
}

bool CargadorHistorial::bombear()
{
#ifdef Q_OS_UNIX
    // What comes down the pipe goes to the copy as it is, but for the bytes of a run with no
    // line end past the longest record: that line is bad whatever follows, and /dev/zero
    // must not fill the disk.
    QFile &copia = *fuentes_.back().archivo;
    copia.seek(copia.size());
    static thread_local char b[1 << 16];
    bool algo = false;
    for (int vuelta = 0; vuelta < 256 && !parar_; ++vuelta) {
        const ssize_t r = ::read(tubo_, b, sizeof b);
        if (r == 0) {
            finTubo_ = true;
            break;
        }
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break; // nothing more for now
        }
        finTubo_ = false;
        algo = true;
        const char *p = b, *final = b + r;
        while (p < final) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(final - p)));
            const char *hasta = nl ? nl : final;
            const qsizetype cabe = std::clamp<qsizetype>(maxLinea + 1 - largoTubo_, 0, hasta - p);
            copia.write(p, cabe);
            largoTubo_ += hasta - p;
            if (nl) {
                copia.write("\n", 1);
                largoTubo_ = 0;
            }
            p = hasta + (nl ? 1 : 0);
        }
    }
    copia.flush();
    return algo;
#else
    return false;
#endif
}

std::vector<DatosHistorial::Cruda> CargadorHistorial::leerBloque(const DatosHistorial::Bloque &b)
{
    std::vector<DatosHistorial::Cruda> salida;
    if (b.fuente >= fuentes_.size() || b.lector >= lectores_.size())
        return salida;
    QFile &f = *fuentes_[b.fuente].archivo;
    f.seek(b.posicion);
    const QByteArray bytes = f.read(b.bytes);
    salida.reserve(b.n);
    decodificar(bytes.constData(), bytes.size(), lectores_[b.lector], b.previo, salida);
    return salida;
}

void CargadorHistorial::pedir(const std::vector<std::pair<size_t, DatosHistorial::Bloque>> &bloques,
                              uint64_t generacion)
{
    {
        std::lock_guard<std::mutex> cerrojo(mutex_);
        for (const auto &b : bloques)
            pedidos_.push_back({b, generacion});
    }
    despertar_.notify_one();
}

void CargadorHistorial::parar()
{
    parar_ = true;
    despertar_.notify_one();
}

void CargadorHistorial::atender()
{
    for (;;) {
        std::pair<std::pair<size_t, DatosHistorial::Bloque>, uint64_t> pedido;
        {
            std::lock_guard<std::mutex> cerrojo(mutex_);
            if (pedidos_.empty() || parar_)
                return;
            pedido = pedidos_.front();
            pedidos_.pop_front();
        }
        if (pedido.second != generacion_)
            continue;
        auto c = std::make_shared<Crudas>();
        c->bloque = pedido.first.first;
        c->generacion = pedido.second;
        c->muestras = leerBloque(pedido.first.second);
        emit crudas(c);
    }
}

void CargadorHistorial::correr()
{
    using namespace std::chrono;
    empezar();
    auto ultima = steady_clock::now();
    while (!parar_) {
        atender();
#ifdef Q_OS_UNIX
        if (tubo_ >= 0 && !finTubo_) {
            // A pipe is read as it comes, not every half second: its writer waits for us.
            pollfd p{tubo_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                seguir();
            continue;
        }
#endif
        {
            std::unique_lock<std::mutex> cerrojo(mutex_);
            despertar_.wait_until(cerrojo, ultima + milliseconds(intervaloSeguirMs),
                                  [this] { return parar_ || !pedidos_.empty(); });
        }
        if (!parar_ && steady_clock::now() >= ultima + milliseconds(intervaloSeguirMs)) {
            seguir();
            ultima = steady_clock::now();
        }
    }
}

void CargadorHistorial::arrancar(std::shared_ptr<CargadorHistorial> cargador)
{
    std::thread([cargador] { cargador->correr(); }).detach();
}
