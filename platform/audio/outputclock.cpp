#include "platform/audio/outputclock.h"

#include <algorithm>
#include <cmath>

namespace {
const int64_t kBlockUs = 200000;
// A block whose earliest report is this much later than the refitted line
// is a jump of the device.
const double kJumpUs = 1500.0;
// The slope is fitted once the reports span this long, within these bounds
// of the nominal rate.
const int64_t kSlopeSpanUs = 150000;
const double kRateBound = 0.1;
} // namespace

void OutputClock::Reset(double nominalRate) {
    m_NominalUsPerFrame = 1e6 / nominalRate;
    m_UsPerFrame = m_NominalUsPerFrame;
    m_Known = false;
    m_BlockOpen = false;
    m_First = m_Count = 0;
}

int64_t OutputClock::HeardAt(int64_t position) const {
    return m_RefUs + int64_t(std::llround(double(position - m_RefPosition) * m_UsPerFrame));
}

int64_t OutputClock::PositionAt(int64_t us) const {
    return m_RefPosition + int64_t(std::floor(double(us - m_RefUs) / m_UsPerFrame));
}

void OutputClock::Observe(int64_t position, int64_t heardUs) {
    sPoint p{position, heardUs};
    if (!m_Known) {
        m_Known = true;
        m_RefPosition = position;
        m_RefUs = heardUs;
    }
    double residual = Residual(p);
    if (residual < 0) {
        // Nothing is heard before its callback: the line was late.
        m_RefUs += int64_t(std::floor(residual));
        residual = Residual(p);
        if (m_BlockOpen) m_BestResidual = Residual(m_Best);
    }
    if (!m_BlockOpen) {
        m_BlockOpen = true;
        m_BlockStartUs = heardUs;
        m_Best = p;
        m_BestResidual = residual;
    } else if (residual < m_BestResidual) {
        m_Best = p;
        m_BestResidual = residual;
    }
    if (heardUs - m_BlockStartUs >= kBlockUs) CloseBlock();
}

void OutputClock::CloseBlock() {
    m_BlockOpen = false;
    if (m_Count == kHistory) {
        m_First = (m_First + 1) % kHistory;
        --m_Count;
    }
    m_History[(m_First + m_Count) % kHistory] = m_Best;
    ++m_Count;
    Fit();
    if (m_Count > 1 && Residual(m_Best) > kJumpUs) {
        // Late beyond what the device's rate explains: start again from here,
        // keeping the rate.
        m_History[0] = m_Best;
        m_First = 0;
        m_Count = 1;
        m_RefPosition = m_Best.position;
        m_RefUs = m_Best.heardUs;
    }
}

void OutputClock::Fit() {
    const sPoint& last = m_History[(m_First + m_Count - 1) % kHistory];
    const sPoint& first = m_History[m_First];
    double slope = m_UsPerFrame;
    if (m_Count >= 2 && last.heardUs - first.heardUs >= kSlopeSpanUs) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int i = 0; i < m_Count; ++i) {
            const sPoint& p = m_History[(m_First + i) % kHistory];
            double x = double(p.position - last.position), y = double(p.heardUs - last.heardUs);
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        double n = m_Count, d = n * sxx - sx * sx;
        if (d > 0) slope = (n * sxy - sx * sy) / d;
        slope = std::clamp(slope, m_NominalUsPerFrame * (1 - kRateBound), m_NominalUsPerFrame * (1 + kRateBound));
    }
    // The line's height: through the earliest of the points.
    double lowest = 0;
    for (int i = 0; i < m_Count; ++i) {
        const sPoint& p = m_History[(m_First + i) % kHistory];
        double y = double(p.heardUs - last.heardUs) - double(p.position - last.position) * slope;
        if (i == 0 || y < lowest) lowest = y;
    }
    m_UsPerFrame = slope;
    m_RefPosition = last.position;
    m_RefUs = last.heardUs + int64_t(std::floor(lowest));
}
