#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include "historial/lectorlineas.h"

// Reads a log in the background (it lives in a thread of its own): the samples go out in
// batches as they are read, lines that are not ours are counted, and once at the end it
// looks for more every half second, as the panel may still be writing there. A file that
// shrinks or is replaced is read again from its start.
class CargadorHistorial : public QObject
{
    Q_OBJECT
public:
    static constexpr int intervaloSeguirMs = 500;
    // Longer than any record: past it, what has no line end is not one of ours.
    static constexpr qsizetype maxLinea = 512;

    struct Lote
    {
        std::vector<LectorLineas::Muestra> muestras;
        qint64 lineasMalas = 0;       // in this batch
        qint64 primeraMala = 0;       // line number of the first bad one ever, 0 none
        QString textoPrimeraMala;
        qint64 leidos = 0, total = 0; // bytes, for the progress bar
    };

    explicit CargadorHistorial(const QString &ruta);
    ~CargadorHistorial() override;

    // Stops at the next batch, from any thread.
    void parar() { parar_ = true; }

public slots:
    void empezar();
    // Reads what has been added since the last look (a test calls it directly).
    void seguir();

signals:
    void lote(std::shared_ptr<const CargadorHistorial::Lote> lote);
    // The whole file as it was has been read (once; again after every new start).
    void leido();
    // The file shrank or was replaced: what was shown goes, and it is read again.
    void reiniciado(const QString &motivo);
    void fallo(const QString &motivo);

private:
    void reiniciar();
    void leerHasta(qint64 fin);
    void linea(const char *p, qsizetype n, Lote &lote, bool entera = true);
    bool reemplazado();

    QString ruta_;
    QFile archivo_;
    qint64 posicion_ = 0;
    qint64 numeroLinea_ = 0;
    qint64 primeraMala_ = 0;
    QByteArray resto_;   // a line not finished yet
    bool saltando_ = false; // inside a run with no line end longer than any record
    QByteArray cabeza_;  // the file's first bytes, to tell it was replaced
    std::vector<LectorLineas> lectores_;
    std::optional<size_t> elegido_;
    bool leidoDicho_ = false;
    std::atomic<bool> parar_{false};
    class QTimer *temporizador_ = nullptr;
};
