#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "core/numeros.h"
#include "core/variablesventana.h"
#include "log/formatofecha.h"

// The data log: its destination, opening on the first record, the record format, and
// closing. Records gather in a buffer that reaches the file at the end of every receive
// event, so a finished event is on disk even if the program dies afterwards.
class Registro
{
public:
    using Avisar = std::function<void(const QString &)>;
    // The user's answer about the records already in the destination.
    enum class Respuesta { anadir, vaciar, cancelar };
    // Asks it (the window shows the question); receive events keep being handled meanwhile.
    using Preguntar = std::function<Respuesta(const QString &ruta)>;

    Registro(VariablesVentana &variables, Avisar avisar, Preguntar preguntar);
    ~Registro();

    // Where the log goes: typed, chosen in a dialog, or given on a command line (native
    // separators taken). Read when logging is switched on.
    void setDestino(const QString &ruta);
    QString destino() const { return destino_; }

    using Escribible = std::function<bool(const QString &carpeta)>;
    static bool carpetaEscribible(const QString &carpeta);
    // "registro.xls" in the program's folder where the user can write there (not so once
    // installed system-wide), otherwise in the user's documents folder.
    static QString rutaPorDefecto(const Escribible &escribible = carpetaEscribible);

    // Click of the "log" check box, with the state it now shows: checked logs, unchecked
    // closes, grayed neither logs nor closes. Switching logging on where the destination
    // already holds records asks whether to add to them; meanwhile samples are plotted, not
    // logged.
    void clickRegistrar(Qt::CheckState valor);
    Qt::CheckState estado() const { return estado_; }
    bool registrando() const { return estado_ == Qt::Checked; }
    // Logging has switched itself off (the file failed, «Cancelar»): whatever shows the
    // state shows it off.
    void setAlApagarse(std::function<void()> alApagarse) { alApagarse_ = std::move(alApagarse); }

    // The system's advisory lock (flock(2): descriptor, operation; 0 or -1 with errno): a
    // test's own stands for file systems this machine does not have.
    using Bloqueo = std::function<int(int descriptor, int operacion)>;
    void setBloqueo(Bloqueo bloqueo) { bloqueo_ = std::move(bloqueo); }

    // The question about the records already in the destination is open.
    bool preguntando() const { return preguntando_; }

    // One record; opens the file first if it is not open. Returns false when logging has
    // just been switched off because the file cannot be opened or written. A set point not
    // yet reported leaves its field empty: the line keeps its three fields.
    // `msEpoca` is the sample's wall-clock time, in milliseconds since the epoch.
    bool escribirRegistro(int16_t dato, std::optional<int16_t> setPoint, int64_t msEpoca)
    {
        if (!variables_.registroAbierto && !abrir())
            return false;
        // The next second's text may be a digit or two longer than the last one's.
        if (usados_ + formatoFecha_->maximo() + holguraFecha + maxCampos > buffer_.size()
            && !volcar())
            return false;
        char *p = buffer_.data() + usados_;
        p += formatoFecha_->escribir(msEpoca, milisegundos_, p);
        *p++ = '\t';
        if (setPoint)
            p += numeros::escribirEntero(*setPoint, p);
        *p++ = '\t';
        p += numeros::escribirEntero(dato, p);
        *p++ = '\r';
        *p++ = '\n';
        usados_ = p - buffer_.data();
        return true;
    }

    // End of a receive event: what is buffered goes to the file.
    bool terminarEvento() { return usados_ == 0 || volcar(); }

    // A sample that came while the question about old records is open: logged, in order,
    // once the user answers to add or to start anew; "Cancelar" declines logging and drops it.
    static constexpr size_t maxRetenidos = 32766;
    void retener(int16_t dato, std::optional<int16_t> setPoint, int64_t msEpoca)
    {
        if (retenidos_.size() < maxRetenidos)
            retenidos_.push_back({dato, setPoint, msEpoca});
        else
            ++descartados_;
    }

    // Closes the file if it is open (after writing what is buffered).
    void cerrarRegistro();

    // Times with milliseconds from the next record on; off, the records are as they always were.
    void setMilisegundos(bool si) { milisegundos_ = si; }
    bool milisegundos() const { return milisegundos_; }

private:
    static constexpr size_t tamanoBuffer = 256 * 1024;
    // Two tabs, two numbers of up to six characters, CR and LF.
    static constexpr size_t maxCampos = 16;
    static constexpr size_t holguraFecha = 64;

    bool abrir();
    bool bloquear(QFile &archivo) const;
    bool volcar();
    bool escribirTodo(const char *datos, qint64 n);
    // Logging off, and why; `ruta` where the file is not the open one.
    void fallar(const QString &motivo, const QString &ruta = QString());
    void escribirRetenidos();
    void apagar();

    VariablesVentana &variables_;
    QString destino_;
    Qt::CheckState estado_ = Qt::Unchecked;
    std::function<void()> alApagarse_;
    Avisar avisar_;
    Preguntar preguntar_;
    std::unique_ptr<FormatoFecha> formatoFecha_;
    std::vector<char> buffer_;
    size_t usados_ = 0;
    struct Retenido
    {
        int16_t dato;
        std::optional<int16_t> setPoint;
        int64_t msEpoca;
    };
    std::vector<Retenido> retenidos_;
    size_t descartados_ = 0;
    bool preguntando_ = false;
    bool milisegundos_ = false;
    // Records are never thrown away without the user's say: the file starts anew only where
    // the user answered «Vaciar y empezar de nuevo» for this destination; any other opening
    // adds to what is there.
    QString empezarDeNuevo_;
    Bloqueo bloqueo_;
};
