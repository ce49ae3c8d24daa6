// Platform-internal: when the frames an output device takes are heard.
//
// The device's callback reports where it began taking frames (its own
// position, counting every frame it took, silence included) and when; the
// frames it takes are heard one latency later. A callback can run late (its
// thread was not scheduled at once) but never early, so the reports whose
// moments come earliest lie on the line that maps device positions to the
// moments they are heard, and its slope is the device's own rate, whatever
// its clock. The line is fitted to the earliest report of each 200 ms over
// the last 12.8 s: its slope by least squares, its height by the earliest.
// A report earlier than the line moves the line at once; a whole block of
// late reports that the refitted line cannot explain is a jump of the
// device (a stall), and the fit starts again from there.
#pragma once

#include <cstdint>

class OutputClock {
public:
    explicit OutputClock(double nominalRate = 44100.0) { Reset(nominalRate); }

    // Forgets everything; the rate starts at the nominal one.
    void Reset(double nominalRate);
    // A callback took frames from device position `position` on; the first
    // of them is heard at `heardUs` if the callback was on time.
    void Observe(int64_t position, int64_t heardUs);

    // False until the first report.
    bool Known() const { return m_Known; }
    // The moment (µs) device position `position` is heard.
    int64_t HeardAt(int64_t position) const;
    // The last device position heard at or before `us`.
    int64_t PositionAt(int64_t us) const;
    // The device's rate on the monotonic clock, frames per second.
    double Rate() const { return 1e6 / m_UsPerFrame; }

private:
    struct sPoint {
        int64_t position;
        int64_t heardUs;
    };
    static const int kHistory = 64;

    void CloseBlock();
    void Fit();
    double Residual(const sPoint& p) const { return double(p.heardUs - m_RefUs) - double(p.position - m_RefPosition) * m_UsPerFrame; }

    double m_NominalUsPerFrame = 0;
    bool m_Known = false;
    // The line: position m_RefPosition is heard at m_RefUs.
    int64_t m_RefPosition = 0;
    int64_t m_RefUs = 0;
    double m_UsPerFrame = 0;
    // The current block and its earliest report.
    bool m_BlockOpen = false;
    int64_t m_BlockStartUs = 0;
    sPoint m_Best{};
    double m_BestResidual = 0;
    // Earliest reports of the past blocks, oldest first from m_First.
    sPoint m_History[kHistory];
    int m_First = 0;
    int m_Count = 0;
};
