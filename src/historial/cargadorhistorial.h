#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include "historial/datoshistorial.h"
#include "historial/lectorlineas.h"
#include "historial/sesiones.h"

// Reads a log and sends the window its blocks as they are read; reads a block's samples
// again when asked. Once at the end it looks for more every half second, as the panel may
// still be writing there. It reads through the descriptor it opened, so a rename or a
// deletion changes nothing; a new file at the path (a rotation) is followed from its start
// after the old one; a file that shrinks or is rewritten is read again from its start.
// A pipe, a FIFO or a device is copied as it comes into a temporary file, read from there.
// The date format is chosen per stretch of lines: the first format (this computer's first)
// that reads a stretch's first line, until a line it cannot read shows that another reads
// the whole stretch (a day above 12), which is then read again with that one.
// Every call runs on the one thread that owns it; `arrancar` gives it a thread of its own
// that no one waits for, so a FIFO with no writer or a stalled share blocks only that.
class CargadorHistorial : public QObject
{
    Q_OBJECT
public:
    static constexpr int intervaloSeguirMs = 500;
    // Longer than any record: past it, what has no line end is not one of ours.
    static constexpr qsizetype maxLinea = 512;

    struct Lote
    {
        size_t desde = 0; // index of the first block here: those from it on are replaced
        std::vector<DatosHistorial::Bloque> bloques;
        qint64 lineasMalas = 0; // so far
        qint64 primeraMala = 0; // line number of the first bad one, 0 none
        QString textoPrimeraMala;
        qint64 leidos = 0, total = 0; // bytes, for the progress bar; total -1: a pipe
        uint64_t generacion = 0;
    };
    struct Crudas
    {
        size_t bloque;
        uint64_t generacion;
        std::vector<DatosHistorial::Cruda> muestras;
    };

    explicit CargadorHistorial(const QString &ruta);
    ~CargadorHistorial() override;

    // Opens the path and reads what is there (a test calls these directly).
    void empezar();
    // Reads what has been added since the last look.
    void seguir();
    // A block's samples, read again from its file, in order as when it was first read.
    std::vector<DatosHistorial::Cruda> leerBloque(const DatosHistorial::Bloque &b);

    // From any thread: blocks whose samples are wanted, and stopping.
    void pedir(const std::vector<std::pair<size_t, DatosHistorial::Bloque>> &bloques,
               uint64_t generacion);
    void parar();

    // Runs `cargador` on a thread of its own, detached: it ends at the next look after
    // `parar`, or when a blocked read returns.
    static void arrancar(std::shared_ptr<CargadorHistorial> cargador);

    // The samples a block's bytes hold, read with `lector`, their times put in order after
    // `previo` as the first reading did.
    static void decodificar(const char *p, qsizetype n, LectorLineas &lector, int64_t previo,
                            std::vector<DatosHistorial::Cruda> &salida);
    // A sample's time in the order of the lines: the later reading of a repeated hour where
    // the earlier would go back, and never before the sample before.
    static int64_t ordenar(const LectorLineas::Muestra &m, int64_t previo);

signals:
    void lote(std::shared_ptr<const CargadorHistorial::Lote> lote);
    void crudas(std::shared_ptr<const CargadorHistorial::Crudas> crudas);
    // The whole file as it was has been read (once; again after every new start).
    void leido();
    // The file shrank or was rewritten: what was shown goes, and it is read again.
    void reiniciado(const QString &motivo);
    void fallo(const QString &motivo);
    // What happened to the path, for the window to say.
    void nota(const QString &texto);

private:
    struct Fuente
    {
        std::unique_ptr<QFile> archivo;
        quint64 dispositivo = 0, inodo = 0;
    };
    enum class Linea { bien, mala, revisar };

    void reiniciar();
    bool abrir();
    void leerHasta(qint64 fin);
    Linea linea(const char *p, qsizetype n, qint64 posicion);
    void agregarMuestra(const LectorLineas::Muestra &m, qint64 posicion, qint64 fin);
    void cerrarBloque();
    void enviar(bool forzar = false);
    void mala(const char *p, qsizetype n);
    void nuevoTramo(qint64 posicion);
    bool cubreTramo(size_t lector, qint64 hasta);
    bool rotado(qint64 tamano);
    bool bombear();
    void atender();
    void correr();

    QString ruta_;
    std::vector<Fuente> fuentes_;
    int tubo_ = -1;         // a pipe or FIFO's descriptor; its bytes go to the last source
    bool finTubo_ = false;  // the writer closed it
    qsizetype largoTubo_ = 0; // bytes of the spool's last line so far
    qint64 posicion_ = 0;   // next line to read in the last source
    qint64 numeroLinea_ = 0;
    bool saltando_ = false; // inside a run with no line end longer than any record
    qint64 colgando_ = -1;  // where a last line without its end was seen at the last look
    QByteArray cabeza_;     // the file's first bytes, to tell it was rewritten
    bool movidoDicho_ = false;
    std::vector<LectorLineas> lectores_;
    int lector_ = -1;

    // The stretch being read and what to go back to if it is read again.
    struct Tramo
    {
        qint64 posicion = 0;
        size_t bloques = 0;
        uint64_t muestras = 0;
        int64_t previo = INT64_MIN;
        DetectorSesiones sesiones;
        qint64 numeroLinea = 0, malas = 0, primeraMala = 0;
        QString textoPrimeraMala;
    } tramo_;

    int64_t previo_ = INT64_MIN;
    DetectorSesiones sesiones_;
    DatosHistorial::Bloque bloque_;
    size_t bloquesEnviados_ = 0, bloquesHechos_ = 0;
    uint64_t muestras_ = 0;
    std::vector<DatosHistorial::Bloque> pendientes_;
    size_t desdePendientes_ = 0;
    qint64 malas_ = 0, primeraMala_ = 0;
    QString textoPrimeraMala_;
    uint64_t generacion_ = 0;
    bool leidoDicho_ = false;

    std::mutex mutex_;
    std::condition_variable despertar_;
    std::deque<std::pair<std::pair<size_t, DatosHistorial::Bloque>, uint64_t>> pedidos_;
    std::atomic<bool> parar_{false};
};
