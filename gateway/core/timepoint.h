#ifndef TIMEPOINT_H
#define TIMEPOINT_H

#include <QDateTime>
#include <QtGlobal>

class BaseTieParam;

// A unit's time stamp kept inside one of its parameters, in one of twelve
// encodings (all words little-endian; the word layouts are those of
// core/timeencoding.h, shared with the date/time conversions). The
// parameter is not owned.
class TimePoint
{
public:
    // Encodings of the stamp in the parameter's storage.
    enum Type : qint32 {
        tptNone = 0,          // no time point
        tptRaw = 1,           // neither written nor read
        tptUnixTimeUTC = 2,   // seconds (UTC): 64-bit word with 8+ bytes, else 32-bit
        tptUnixTimeLocal = 3, // as tptUnixTimeUTC, local seconds
        tptKILocal = 4,       // two 32-bit words: local seconds, microseconds
        tptKIUTC = 5,         // two 32-bit words: seconds, microseconds
        tptUTmsecUTC = 6,     // two 32-bit words: seconds, milliseconds
        tptUTmsecLocal = 7,   // two 32-bit words: local seconds, milliseconds
        tptUTdoubleUTC = 8,   // double: seconds + milliseconds / 1000
        tptUTdoubleLocal = 9, // double: local seconds + milliseconds / 1000
        tptTimeSpecUTC = 10,  // two 32-bit words: seconds, nanoseconds
        tptTimeSpec64 = 11    // accepted, neither written nor read
    };
    // When the time point refreshes itself.
    enum UpdateMode : qint32 {
        tpuNone = 0,       // never by itself
        tpuSend = 1,       // when the unit is sent
        tpuConversion = 2, // when a parameter of the unit was converted
        tpuSource = 3      // recorded only
    };

    TimePoint();
    virtual ~TimePoint();

    // Stamps the parameter with the current time when the mode is send or conversion.
    virtual void update();
    // Encodes `dt` into the parameter; nothing without a parameter, without
    // enough storage, for the codes none, raw and timespec64, or for an
    // instant the encoding's words cannot hold (a 32-bit second count
    // before 1970 or after 2106).
    virtual void setFromDT(const QDateTime &dt);
    // Decodes the parameter into a UTC date-time; invalid for the codes and
    // storages setFromDT leaves alone, and for words whose seconds overflow
    // the millisecond count.
    virtual QDateTime toDT() const;
    // True when the parameter exists and the encoding (2 to 9) fits its storage.
    virtual bool holdsTime() const;
    // True when setFromDT() and toDT() act at all: a parameter, an encoding
    // from 2 to 10, and the storage that encoding needs.
    bool encodes() const;

    qint32 type() const { return m_type; }
    void setType(qint32 type) { m_type = type; }
    qint32 updateMode() const { return m_updateMode; }
    void setUpdateMode(qint32 mode) { m_updateMode = mode; }
    BaseTieParam *param() const { return m_param; }
    void setParam(BaseTieParam *param) { m_param = param; }

private:
    qint32 m_type;
    qint32 m_updateMode;
    BaseTieParam *m_param;
};

#endif // TIMEPOINT_H
