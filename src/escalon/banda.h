#pragma once

// The last entry into centre ± half-width, where the line from the outside point meets the
// band's edge: a value that enters during the overshoot and leaves again has not settled.
class Banda
{
public:
    Banda(double centro, double semiancho) : centro_(centro), semiancho_(semiancho) {}

    void agregar(double t, double y);
    bool dentro() const { return dentro_; }
    double entrada() const { return entrada_; }

private:
    double centro_, semiancho_;
    bool hayAnterior_ = false, dentro_ = false;
    double tAnterior_ = 0.0, yAnterior_ = 0.0;
    double entrada_ = 0.0;
};
