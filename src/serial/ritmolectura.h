#pragma once

#include <chrono>
#include <optional>

#include <QtGlobal>

// When the port reads and how a read's bytes are timed: a fast stream in small pieces pauses
// reading until the next frame (the kernel gathers it), anything slower is read as it comes.
// The caller gives the times, so the rules are tried without waiting.
class RitmoLectura
{
public:
    using Tiempo = std::chrono::nanoseconds;

    static constexpr qint64 ritmoPausa = 500;   // bytes a second
    static constexpr qint64 rafagaBytes = 64;   // a read this large costs little: no pause
    static constexpr qint64 limitePausa = 1024; // a pause that gathers this much: no more
    static constexpr Tiempo pausa = std::chrono::milliseconds(100);
    // Small reads after the first of a stretch before its rate is judged: a few samples, so
    // that two of a slow stream's samples that happen to come close together start no pause.
    static constexpr qint64 minimoTramo = 8;

    explicit RitmoLectura(Tiempo tiempoByte) : tiempoByte_(tiempoByte) {}

    // A read outside a pause handed over `n` bytes at `ahora`: true when reading should pause.
    bool trasLectura(qint64 n, Tiempo ahora);
    // A pause of `duracion` gathered `n` bytes: true when reading should pause again.
    bool trasPausa(qint64 n, Tiempo duracion);

    // How long before `ahora` the `n` bytes of one piece of a read, of `esperando` bytes in
    // all, may have reached the port; `pausa` is how long the read was paused, if it was.
    // Gathered during a pause, the bytes came over the whole pause. Read as they came but
    // several at once soon after the last delivery, they are a steady stream read late (a busy
    // computer) or an adapter's packet: they came over the time since then. So too after a
    // longer gap where they are as many as the stream's pace would have brought in half of it
    // (the computer stalled, not the controller). After a silence they came together, no
    // closer than the line carries them.
    Tiempo llegada(qint64 n, qint64 esperando, Tiempo ahora, std::optional<Tiempo> pausa) const;
    // A read handed `n` bytes over at `ahora`.
    void entregado(qint64 n, Tiempo ahora);

    void reiniciar();

private:
    Tiempo tiempoByte_;
    std::optional<Tiempo> ultimaEntrega_;
    std::optional<Tiempo> espaciado_; // the stream's time a byte, from deliveries close together
    std::optional<Tiempo> inicioTramo_; // the first small read of the current stretch
    qint64 bytesTramo_ = 0;
};
