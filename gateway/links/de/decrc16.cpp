#include "links/de/decrc16.h"

#include <QtEndian>

namespace {

// t[k][b]: the CRC register after byte b followed by k zero bytes, starting
// from a zero register; t[0] is the classic byte table.
struct CrcTables {
    quint16 t[16][256];
};

constexpr CrcTables makeTables()
{
    CrcTables tables{};
    for (int b = 0; b < 256; ++b) {
        quint32 crc = static_cast<quint32>(b);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0x8408u : crc >> 1;
        tables.t[0][b] = static_cast<quint16>(crc);
    }
    for (int k = 1; k < 16; ++k) {
        for (int b = 0; b < 256; ++b) {
            const quint32 prev = tables.t[k - 1][b];
            tables.t[k][b] = static_cast<quint16>((prev >> 8) ^ tables.t[0][prev & 0xFFu]);
        }
    }
    return tables;
}

constexpr CrcTables kTables = makeTables();

} // namespace

quint16 deCrc16(const char *data, size_t length)
{
    const auto &t = kTables.t;
    const uchar *p = reinterpret_cast<const uchar *>(data);
    quint32 crc = 0xFFFFu;
    // The register meets the first two bytes of each block; byte j of the
    // block still has 15 - j bytes to pass, which table 15 - j accounts for.
    while (length >= 16) {
        const quint64 a = qFromLittleEndian<quint64>(p) ^ crc;
        const quint64 b = qFromLittleEndian<quint64>(p + 8);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][(a >> 24) & 0xFF]
            ^ t[11][(a >> 32) & 0xFF] ^ t[10][(a >> 40) & 0xFF] ^ t[9][(a >> 48) & 0xFF] ^ t[8][a >> 56]
            ^ t[7][b & 0xFF] ^ t[6][(b >> 8) & 0xFF] ^ t[5][(b >> 16) & 0xFF] ^ t[4][(b >> 24) & 0xFF]
            ^ t[3][(b >> 32) & 0xFF] ^ t[2][(b >> 40) & 0xFF] ^ t[1][(b >> 48) & 0xFF] ^ t[0][b >> 56];
        p += 16;
        length -= 16;
    }
    while (length--)
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFFu];
    return static_cast<quint16>(~crc);
}
