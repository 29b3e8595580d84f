#pragma once

// The furthest point of a series in one direction (+1 up, -1 down). A quantised peak is a run
// of equal values: it is timed at the run's middle.
class Pico
{
public:
    explicit Pico(double sentido) : sentido_(sentido) {}

    void agregar(double t, double y);
    double valor() const { return valor_; }
    double tiempo() const { return (desde_ + hasta_) / 2.0; }

private:
    double sentido_;
    bool hay_ = false;
    bool enRacha_ = false;
    double valor_ = 0.0;
    double desde_ = 0.0, hasta_ = 0.0;
};
