#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Waits for a condition in short turns of the event loop. QTest::qWait sleeps 10 ms
// between its turns, which would make the panel read the port late and in lumps.
inline bool hasta(const std::function<bool()> &condicion, int ms = 20000)
{
    QElapsedTimer reloj;
    reloj.start();
    while (!condicion() && reloj.elapsed() < ms) {
        QEventLoop vuelta;
        QTimer::singleShot(2, &vuelta, &QEventLoop::quit);
        vuelta.exec();
    }
    return condicion();
}
