#include "platform/audio/mp3decoder.h"

#include <mpg123.h>
#include <soxr.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace {

const long kOutputRate = 44100;
const size_t kNativeFrames = 8192;

mpg123_ssize_t ReadMemory(void* handle, void* buffer, size_t bytes) {
    Mp3Decoder* d = static_cast<Mp3Decoder*>(handle);
    size_t n = std::min(bytes, d->m_Size - d->m_Offset);
    std::memcpy(buffer, d->m_Data + d->m_Offset, n);
    d->m_Offset += n;
    return mpg123_ssize_t(n);
}

off_t SeekMemory(void* handle, off_t offset, int whence) {
    Mp3Decoder* d = static_cast<Mp3Decoder*>(handle);
    off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? off_t(d->m_Offset) : off_t(d->m_Size);
    off_t target = base + offset;
    if (target < 0 || target > off_t(d->m_Size)) return -1;
    d->m_Offset = size_t(target);
    return target;
}

bool InitLibrary() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

} // namespace

Mp3Decoder::~Mp3Decoder() {
    if (m_Handle) mpg123_delete(m_Handle);
    if (m_Resampler) soxr_delete(m_Resampler);
}

bool Mp3Decoder::Open(const uint8_t* data, size_t size) {
    if (!data || size == 0 || !InitLibrary()) return false;
    m_Data = data;
    m_Size = size;
    m_Offset = 0;
    int error = 0;
    m_Handle = mpg123_new(nullptr, &error);
    if (!m_Handle) return false;
    // Gapless: a tagged file starts at its first real sample. Mono comes out
    // as two equal channels.
    mpg123_param(m_Handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_STEREO | MPG123_QUIET, 0.0);
    mpg123_format_none(m_Handle);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(m_Handle, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_replace_reader_handle(m_Handle, ReadMemory, SeekMemory, nullptr) != MPG123_OK) return false;
    if (mpg123_open_handle(m_Handle, this) != MPG123_OK) return false;
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(m_Handle, &rate, &channels, &encoding) != MPG123_OK) return false;
    if (rate <= 0 || channels != MPG123_STEREO || encoding != MPG123_ENC_SIGNED_16) return false;
    m_Rate = rate;
    m_Native.assign(kNativeFrames * 2, 0);
    if (m_Rate != kOutputRate) {
        // Undithered, so that the same file always gives the same samples.
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;
        soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t failed = nullptr;
        m_Resampler = soxr_create(double(m_Rate), double(kOutputRate), 2, &failed, &io, &quality, nullptr);
        if (!m_Resampler || failed) return false;
    }
    ResetResampler();
    return true;
}

void Mp3Decoder::ResetResampler() {
    m_NativeStart = m_NativeEnd = 0;
    m_NativeFed = m_Converted = 0;
    if (m_Resampler) soxr_clear(m_Resampler);
    m_Done = false;
    m_NativeDone = false;
}

void Mp3Decoder::Rewind() {
    if (!m_Handle) return;
    mpg123_seek(m_Handle, 0, SEEK_SET);
    ResetResampler();
}

size_t Mp3Decoder::FillNative() {
    if (m_NativeDone) return 0;
    if (m_NativeStart > 0) {
        std::memmove(m_Native.data(), m_Native.data() + m_NativeStart * 2,
                     (m_NativeEnd - m_NativeStart) * 2 * sizeof(int16_t));
        m_NativeEnd -= m_NativeStart;
        m_NativeStart = 0;
    }
    size_t got = 0;
    // A few empty reads in a row mean the data ends in something that is not
    // audio; stop there instead of spinning.
    for (int tries = 0; tries < 8 && got == 0 && !m_NativeDone; ++tries) {
        size_t room = (kNativeFrames - m_NativeEnd) * 4;
        if (room == 0) break;
        size_t done = 0;
        int rc = mpg123_read(m_Handle, reinterpret_cast<unsigned char*>(m_Native.data() + m_NativeEnd * 2), room, &done);
        got = done / 4;
        m_NativeEnd += got;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) m_NativeDone = true;
    }
    if (got == 0) m_NativeDone = true;
    return got;
}

size_t Mp3Decoder::Read(int16_t* out, size_t maxFrames) {
    if (!m_Handle || m_Done) return 0;
    size_t produced = 0;
    if (m_Rate == kOutputRate) {
        while (produced < maxFrames) {
            if (m_NativeStart == m_NativeEnd && FillNative() == 0) break;
            size_t n = std::min(maxFrames - produced, m_NativeEnd - m_NativeStart);
            std::memcpy(out + produced * 2, m_Native.data() + m_NativeStart * 2, n * 4);
            m_NativeStart += n;
            produced += n;
        }
    } else {
        while (produced < maxFrames) {
            int16_t* to = out + produced * 2;
            size_t room = maxFrames - produced;
            size_t used = 0, made = 0;
            if (m_NativeStart == m_NativeEnd) FillNative();
            if (m_NativeStart < m_NativeEnd) {
                soxr_process(m_Resampler, m_Native.data() + m_NativeStart * 2, m_NativeEnd - m_NativeStart, &used, to,
                             room, &made);
                m_NativeStart += used;
                m_NativeFed += used;
            } else {
                // The track has ended: the converter gives out what it holds,
                // cut or padded with silence to the converted length.
                uint64_t length = (m_NativeFed * kOutputRate * 2 + uint64_t(m_Rate)) / (2 * uint64_t(m_Rate));
                if (m_Converted >= length) break;
                room = size_t(std::min<uint64_t>(room, length - m_Converted));
                soxr_process(m_Resampler, nullptr, 0, nullptr, to, room, &made);
                if (made == 0) {
                    std::memset(to, 0, room * 4);
                    made = room;
                }
            }
            produced += made;
            m_Converted += made;
            if (used == 0 && made == 0) break;
        }
    }
    if (produced == 0) m_Done = true;
    return produced;
}
