#include "puente.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>

#include "escalon/respuestaescalon.h"
#include "remoto/lineaprotocolo.h"
#include "remoto/temas.h"
#include "serial/dispositivos.h"

namespace {

using lineaprotocolo::Punto;
using lineaprotocolo::Valor;

Valor entero(int64_t v)
{
    Valor x;
    x.tipo = Valor::Tipo::entero;
    x.entero = v;
    return x;
}

Valor real(double v)
{
    Valor x;
    x.tipo = Valor::Tipo::real;
    x.real = v;
    return x;
}

Valor booleano(bool v)
{
    Valor x;
    x.tipo = Valor::Tipo::booleano;
    x.booleano = v;
    return x;
}

Valor texto(const QString &v)
{
    Valor x;
    x.tipo = Valor::Tipo::texto;
    x.texto = v;
    return x;
}

bool verdad(const QString &v)
{
    return QStringList{"1", "si", "sí", "true", "yes"}.contains(v.trimmed().toLower());
}

int64_t nsAhora()
{
    return QDateTime::currentMSecsSinceEpoch() * 1'000'000;
}

} // namespace

QString Puente::ayuda()
{
    return QStringLiteral(
               "Uso: velmora-puente --puerto DISPOSITIVO --nombre NOMBRE --broker "
               "mqtt://SERVIDOR[:PUERTO] [opciones]\n"
               "Lee un controlador PID por su puerto serial, como el panel, y publica sus "
               "muestras en un broker MQTT.\n"
               "\n"
               "Opciones:\n"
               "  --puerto DISPOSITIVO  el puerto serial: un número (1 es el primero), un "
               "nombre (ttyUSB0) o una ruta\n"
               "  --nombre NOMBRE       el nombre del controlador en los temas velmora/NOMBRE/...\n"
               "  --broker DIRECCIÓN    mqtt://SERVIDOR[:PUERTO] (1883), o mqtts:// con TLS (8883)\n"
               "  --config ARCHIVO      usuario, contraseña, certificados y CA (y, si se quiere, "
               "las opciones\n"
               "                        de arriba) en líneas «clave = valor»; con contraseña o "
               "clave, solo\n"
               "                        su dueño puede leerlo\n"
               "  --registro ARCHIVO    guarda además cada muestra en ese registro, como el panel\n"
               "  --milisegundos        el registro, con milisegundos\n"
               "  --permitir-consigna   envía al controlador los set points publicados en "
               "velmora/NOMBRE/enviar\n"
               "  -h, --help            muestra esta ayuda\n"
               "  -v, --version         muestra la versión\n"
               "\n"
               "Publica con QoS 1: velmora/NOMBRE/muestras (cada 50 ms), .../setpoint, "
               ".../escalones y\n"
               ".../estado (retenido, con última voluntad), en el protocolo de líneas de "
               "InfluxDB.\n"
               "Mientras el broker no está, guarda hasta %1 muestras (10 minutos a 1920 "
               "muestras/s) y las\n"
               "envía en orden cuando vuelve; pasado eso se pierden las más antiguas (el "
               "registro en disco,\n"
               "si lo hay, las tiene todas). Termina limpiamente con SIGTERM o Ctrl+C.\n")
        .arg(capacidadCola);
}

std::optional<Puente::Opciones> Puente::leerOpciones(const QStringList &argumentos,
                                                     QString *salida, int *codigo)
{
    const auto error = [&](const QString &texto) {
        *salida = texto + QStringLiteral(" (vea velmora-puente --help)\n");
        *codigo = 2;
        return std::nullopt;
    };
    Opciones o;
    QString broker;
    for (qsizetype i = 1; i < argumentos.size(); ++i) {
        const QString &a = argumentos[i];
        const auto valor = [&](QString &destino) {
            if (i + 1 >= argumentos.size())
                return false;
            destino = argumentos[++i];
            return true;
        };
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            *salida = ayuda();
            *codigo = 0;
            return std::nullopt;
        }
        if (a == QLatin1String("-v") || a == QLatin1String("--version")) {
            *salida = QStringLiteral("velmora-puente " VELMORA_VERSION "\n");
            *codigo = 0;
            return std::nullopt;
        }
        bool ok = true;
        if (a == QLatin1String("--puerto"))
            ok = valor(o.puerto);
        else if (a == QLatin1String("--nombre"))
            ok = valor(o.nombre);
        else if (a == QLatin1String("--broker"))
            ok = valor(broker);
        else if (a == QLatin1String("--config"))
            ok = valor(o.config);
        else if (a == QLatin1String("--registro"))
            ok = valor(o.registro);
        else if (a == QLatin1String("--milisegundos"))
            o.milisegundos = true;
        else if (a == QLatin1String("--permitir-consigna"))
            o.permitirConsigna = true;
        else
            return error(QStringLiteral("opción desconocida: %1").arg(a));
        if (!ok)
            return error(QStringLiteral("falta el valor de %1").arg(a));
    }
    // The configuration file may hold the rest, for a service: the command line wins.
    if (!o.config.isEmpty()) {
        QString motivo;
        const auto config = direccion::leerConfiguracion(o.config, &motivo);
        if (!config)
            return error(motivo);
        for (const auto &[clave, v] : config->resto) {
            if (clave == QLatin1String("puerto") && o.puerto.isEmpty())
                o.puerto = v;
            else if (clave == QLatin1String("nombre") && o.nombre.isEmpty())
                o.nombre = v;
            else if (clave == QLatin1String("broker") && broker.isEmpty())
                broker = v;
            else if (clave == QLatin1String("registro") && o.registro.isEmpty())
                o.registro = v;
            else if (clave == QLatin1String("milisegundos"))
                o.milisegundos = o.milisegundos || verdad(v);
            else if (clave == QLatin1String("permitir-consigna"))
                o.permitirConsigna = o.permitirConsigna || verdad(v);
            else if (!QStringList{"puerto", "nombre", "broker", "registro"}.contains(clave))
                return error(QStringLiteral("%1: clave desconocida «%2»").arg(o.config, clave));
        }
    }
    if (o.puerto.isEmpty() || o.nombre.isEmpty() || broker.isEmpty())
        return error(QStringLiteral("hacen falta --puerto, --nombre y --broker"));
    if (const auto mal = lineaprotocolo::nombreInvalido(o.nombre))
        return error(QStringLiteral("--nombre «%1»: %2").arg(o.nombre, *mal));
    QString motivo;
    const auto d = direccion::leer(broker, false, &motivo);
    if (!d)
        return error(QStringLiteral("--broker «%1»: %2").arg(broker, motivo));
    o.broker = *d;
    return o;
}

Puente::Puente(const Opciones &opciones, const direccion::Configuracion &config, QObject *parent)
    : QObject(parent), opciones_(opciones), ventana_(std::make_unique<VentanaMuestras>()),
      registro_(variables_, [this](const QString &t) { emit aviso(t); },
                // No one to ask: records already in the log stay, new ones go after them.
                [](const QString &) { return Registro::Respuesta::anadir; }),
      adquisicion_(variables_, *ventana_, registro_), puerto_(this),
      cliente_(
          [&] {
              ClienteMqtt::Opciones o = direccion::opciones(opciones.broker, config);
              Punto testamento{temas::medidaEstado, {{QStringLiteral("controlador"), opciones.nombre}},
                               {{QStringLiteral("puente"), texto(QStringLiteral("desconectado"))}},
                               std::nullopt};
              QByteArray datos;
              lineaprotocolo::escribir(datos, testamento);
              o.testamento = ClienteMqtt::Mensaje{temas::estado(opciones.nombre), datos, true};
              return o;
          }(),
          this),
      cola_(capacidadCola),
      clave_(lineaprotocolo::clave(QLatin1String(lineaprotocolo::medidaMuestras), opciones.nombre)),
      primeraSeq_(QDateTime::currentMSecsSinceEpoch() * 1000), seq_(primeraSeq_)
{
    variables_.puntosX = 512;
    llenarVentana(variables_, *ventana_);
    registro_.setMilisegundos(opciones_.milisegundos);
    adquisicion_.setOyente([this](int16_t dato, std::optional<int16_t> setPoint, int64_t ms) {
        muestra(dato, setPoint, ms);
    });
    puerto_.setReceptor([this](int16_t codigo, QByteArrayView entrada, std::chrono::nanoseconds llegada) {
        adquisicion_.procesarEntrada(codigo, entrada, llegada);
    });
    connect(&puerto_, &PuertoSerie::abierto, this, [this] {
        adquisicion_.puertoAbierto();
        reabrir_.stop();
        if (!motivoPuerto_.isEmpty())
            emit aviso(QStringLiteral("Puerto serial %1 abierto.").arg(puerto_.descripcion()));
        motivoPuerto_.clear();
        publicarEstado();
    });
    connect(&puerto_, &PuertoSerie::perdido, this, [this](const QString &motivo) {
        motivoPuerto_ = motivo;
        emit aviso(QStringLiteral("Se perdió el puerto serial %1: %2.")
                       .arg(puerto_.descripcion(), motivo));
        // Unattended, the name given is the device meant: it is tried again until it opens.
        if (!puerto_.esperandoVuelta())
            reabrir_.start();
        publicarEstado();
    });
    connect(&cliente_, &ClienteMqtt::conectado, this, [this] {
        emit aviso(QStringLiteral("Conectado al broker %1.").arg(opciones_.broker.texto()));
        if (opciones_.permitirConsigna)
            cliente_.suscribir(temas::enviar(opciones_.nombre), 1);
        for (Evento &e : eventos_)
            e.mid = -1; // what was not acknowledged goes again
        publicarEstado();
        publicar();
    });
    const auto decir = [this](const QString &motivo) {
        emit aviso(QStringLiteral("Broker %1: %2.").arg(opciones_.broker.texto(), motivo));
    };
    connect(&cliente_, &ClienteMqtt::rechazado, this, decir);
    connect(&cliente_, &ClienteMqtt::sinRespuesta, this, decir);
    connect(&cliente_, &ClienteMqtt::desconectado, this, decir);
    connect(&cliente_, &ClienteMqtt::publicado, this, [this](int mid, int codigo) {
        if (codigo >= 128)
            emit aviso(QStringLiteral("El broker no aceptó un mensaje: %1.")
                           .arg(ClienteMqtt::motivoConexion(codigo)));
        cola_.confirmado(mid);
        sinConfirmar_ = 0;
        for (auto e = eventos_.begin(); e != eventos_.end(); ++e)
            if (e->mid == mid) {
                eventos_.erase(e);
                break;
            }
    });
    connect(&cliente_, &ClienteMqtt::mensaje, this, &Puente::orden);
    temporizador_.setInterval(intervaloMs);
    temporizador_.setTimerType(Qt::PreciseTimer);
    connect(&temporizador_, &QTimer::timeout, this, &Puente::publicar);
    estado_.setInterval(1000);
    connect(&estado_, &QTimer::timeout, this, [this] {
        // A batch the connection lost without a word would hold the queue for good.
        sinConfirmar_ = cliente_.estaConectado() && cola_.enVuelo() > 0 ? sinConfirmar_ + 1 : 0;
        if (sinConfirmar_ >= plazoConfirmacion) {
            emit aviso(QStringLiteral("El broker no ha confirmado %1 lotes en %2 s: se envían de nuevo.")
                           .arg(cola_.enVuelo())
                           .arg(plazoConfirmacion));
            cola_.reenviarTodo();
            sinConfirmar_ = 0;
        }
        publicarEscalones();
        if (++segundos_ % 5 == 0)
            publicarEstado();
    });
    reabrir_.setInterval(2000);
    connect(&reabrir_, &QTimer::timeout, this, &Puente::abrirPuerto);
}

Puente::~Puente() = default;

bool Puente::empezar(QString *motivo)
{
    if (!opciones_.registro.isEmpty()) {
        registro_.setDestino(opciones_.registro);
        registro_.clickRegistrar(Qt::Checked);
    }
    if (!cliente_.conectar(motivo))
        return false;
    abrirPuerto();
    temporizador_.start();
    estado_.start();
    return true;
}

void Puente::abrirPuerto()
{
    QString motivo;
    const auto dispositivo = dispositivos::nombreDispositivo(opciones_.puerto, &motivo);
    if (dispositivo && puerto_.abrir(opciones_.puerto, *dispositivo, &motivo))
        return;
    if (motivo != motivoPuerto_)
        emit aviso(QStringLiteral("No se puede abrir el puerto serial %1: %2. Se intentará de "
                                  "nuevo cada %3 s.")
                       .arg(opciones_.puerto, motivo)
                       .arg(reabrir_.interval() / 1000));
    motivoPuerto_ = motivo;
    reabrir_.start();
}

void Puente::muestra(int16_t dato, std::optional<int16_t> setPoint, int64_t msEpoca)
{
    lineaprotocolo::Muestra m;
    m.seq = seq_++;
    m.msEpoca = msEpoca;
    m.valor = uint8_t(dato);
    if (setPoint)
        m.consigna = uint8_t(*setPoint);
    cola_.agregar(m);
    if (setPoint && (!hayMuestra_ || setPoint != ultimoSetPoint_)) {
        QByteArray datos;
        lineaprotocolo::escribir(
            datos, Punto{temas::medidaSetPoint, {{QStringLiteral("controlador"), opciones_.nombre}},
                         {{QStringLiteral("consigna"), entero(*setPoint)},
                          {QStringLiteral("seq"), entero(m.seq)}},
                         msEpoca * 1'000'000});
        evento(temas::setPoint(opciones_.nombre), datos);
    }
    ultimoSetPoint_ = setPoint;
    hayMuestra_ = true;
}

void Puente::evento(const QString &tema, const QByteArray &datos)
{
    // Bounded like the samples: a broker away for long loses the oldest first.
    if (eventos_.size() >= 10000)
        eventos_.pop_front();
    eventos_.push_back({tema, datos, -1});
}

void Puente::publicar()
{
    // What the port gathered while reading paused comes now (the panel reads it per frame).
    puerto_.leerPendiente();
    if (!cliente_.estaConectado())
        return;
    for (Evento &e : eventos_) {
        if (e.mid >= 0)
            continue;
        e.mid = cliente_.publicar(e.tema, e.datos, 1, e.tema == temas::estado(opciones_.nombre));
        if (e.mid < 0)
            return;
    }
    while (cola_.enVuelo() < maxEnVuelo) {
        const auto lote = cola_.siguiente(clave_, maxLote);
        if (!lote)
            break;
        const int mid = cliente_.publicar(temas::muestras(opciones_.nombre), lote->datos, 1, false);
        if (mid < 0)
            break;
        cola_.enviado(mid, *lote);
    }
}

void Puente::publicarEstado()
{
    Punto p{temas::medidaEstado,
            {{QStringLiteral("controlador"), opciones_.nombre}},
            {{QStringLiteral("puente"), texto(QStringLiteral("conectado"))},
             {QStringLiteral("controlador_conectado"), booleano(puerto_.PortOpen())},
             {QStringLiteral("puerto"), texto(opciones_.puerto)},
             {QStringLiteral("cola"), entero(int64_t(cola_.pendientes()))},
             {QStringLiteral("descartadas"), entero(int64_t(cola_.descartadas()))},
             {QStringLiteral("ordenes_ignoradas"), entero(int64_t(ordenesIgnoradas_))},
             {QStringLiteral("permitir_consigna"), booleano(opciones_.permitirConsigna)},
             {QStringLiteral("primera_seq"), entero(primeraSeq_)}},
            nsAhora()};
    QByteArray datos;
    lineaprotocolo::escribir(datos, p);
    // Only the newest state matters: an older one not yet sent is replaced.
    const QString tema = temas::estado(opciones_.nombre);
    for (auto e = eventos_.begin(); e != eventos_.end(); ++e)
        if (e->tema == tema && e->mid < 0) {
            eventos_.erase(e);
            break;
        }
    evento(tema, datos);
}

void Puente::publicarEscalones()
{
    const RespuestaEscalon &r = adquisicion_.respuesta();
    const auto paredMenosEstable = std::chrono::system_clock::now().time_since_epoch()
                                   - std::chrono::steady_clock::now().time_since_epoch();
    for (int i = r.cuantos() - 1; i >= 0; --i) {
        const RespuestaEscalon::Figuras f = r.escalon(i);
        const qint64 inicio = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  f.inicio.time_since_epoch()).count();
        if (!f.hay || std::find(escalonesPublicados_.cbegin(), escalonesPublicados_.cend(), inicio)
                          != escalonesPublicados_.cend())
            continue;
        const bool provisional = f.subidaProvisional || f.picoProvisional
                                 || f.establecimientoProvisional || f.finalProvisional;
        // Final figures, or those a step had when the next one (or a closed port) cut it.
        if (provisional && i == 0 && !f.cortado)
            continue;
        Punto p{temas::medidaEscalon, {{QStringLiteral("controlador"), opciones_.nombre}}, {}, {}};
        p.campos = {{QStringLiteral("desde"), entero(f.desde)}, {QStringLiteral("hasta"), entero(f.hasta)}};
        const auto cifra = [&p](const char *nombre, const std::optional<double> &v) {
            if (v)
                p.campos.emplace_back(QLatin1String(nombre), real(*v));
        };
        cifra("subida", f.subida);
        cifra("pico", f.pico);
        cifra("sobreimpulso", f.sobreimpulso);
        cifra("tiempo_pico", f.tiempoPico);
        cifra("establecimiento", f.establecimiento);
        cifra("valor_final", f.valorFinal);
        cifra("error", f.error);
        cifra("periodo", f.periodo);
        cifra("ruido", std::optional<double>(f.ruido));
        p.campos.emplace_back(QStringLiteral("cortado"), booleano(f.cortado || provisional));
        p.ns = inicio + std::chrono::duration_cast<std::chrono::nanoseconds>(paredMenosEstable).count();
        QByteArray datos;
        lineaprotocolo::escribir(datos, p);
        evento(temas::escalones(opciones_.nombre), datos);
        escalonesPublicados_.push_back(inicio);
        if (escalonesPublicados_.size() > size_t(RespuestaEscalon::escalonesGuardados))
            escalonesPublicados_.pop_front();
    }
}

void Puente::orden(const ClienteMqtt::Mensaje &m)
{
    if (m.tema != temas::enviar(opciones_.nombre) || !opciones_.permitirConsigna)
        return;
    // An empty message is a panel asking the broker whether it may send: nothing to do.
    if (m.datos.isEmpty())
        return;
    bool ok = false;
    const int valor = m.datos.trimmed().toInt(&ok);
    if (!ok || valor < 0 || valor > 255) {
        ++ordenesIgnoradas_;
        return;
    }
    // As «Enviar»: the controller takes 0 to 100.
    QString motivo;
    if (!adquisicion_.enviarSetPoint(puerto_, uint8_t(std::min(valor, 100)), &motivo))
        emit aviso(QStringLiteral("No se pudo enviar el set point %1 por el puerto serial %2: %3.")
                       .arg(valor)
                       .arg(puerto_.descripcion(), motivo));
}

void Puente::terminar()
{
    temporizador_.stop();
    estado_.stop();
    reabrir_.stop();
    puerto_.leerPendiente();
    publicar();
    if (cliente_.estaConectado()) {
        Punto p{temas::medidaEstado, {{QStringLiteral("controlador"), opciones_.nombre}},
                {{QStringLiteral("puente"), texto(QStringLiteral("detenido"))},
                 {QStringLiteral("cola"), entero(int64_t(cola_.pendientes()))}},
                nsAhora()};
        QByteArray datos;
        lineaprotocolo::escribir(datos, p);
        evento(temas::estado(opciones_.nombre), datos);
    }
    if (variables_.registroAbierto)
        registro_.cerrarRegistro();
    if (puerto_.PortOpen())
        puerto_.cerrar();
}

void Puente::vaciar(int ms)
{
    QElapsedTimer reloj;
    reloj.start();
    while (cliente_.estaConectado() && (cola_.pendientes() > 0 || !eventos_.empty())
           && reloj.elapsed() < ms) {
        publicar();
        QEventLoop bucle;
        QTimer::singleShot(10, &bucle, &QEventLoop::quit);
        bucle.exec();
    }
}
