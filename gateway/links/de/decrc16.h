#ifndef DECRC16_H
#define DECRC16_H

#include <QtGlobal>

#include <cstddef>

// The CRC-16 of ISO 3309 (X.25) that guards every DE frame: reflected
// polynomial 0x1021, initial value 0xFFFF, result inverted; the checksum
// qChecksum() computes. Every byte of every frame is checksummed twice (the
// header on its own, then header and body), so this runs table-driven over
// sixteen bytes per step.
quint16 deCrc16(const char *data, size_t length);

#endif // DECRC16_H
