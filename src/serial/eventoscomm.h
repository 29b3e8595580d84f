#pragma once

#include <cstdint>

// Codes of the serial control's communication event. Only the receive event does work.
namespace evento {
constexpr int16_t comEvSend = 1;
constexpr int16_t comEvReceive = 2;
constexpr int16_t comEvCTS = 3;
constexpr int16_t comEvDSR = 4;
constexpr int16_t comEvCD = 5;
constexpr int16_t comEvRing = 6;
constexpr int16_t comEvEOF = 7;
constexpr int16_t comEventBreak = 1001;
constexpr int16_t comEventFrame = 1004;
constexpr int16_t comEventOverrun = 1006;
constexpr int16_t comEventRxOver = 1008;
constexpr int16_t comEventRxParity = 1009;
constexpr int16_t comEventTxFull = 1010;
constexpr int16_t comEventDCB = 1011;
} // namespace evento
