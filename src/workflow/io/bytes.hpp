// Numbers in files, for the io folder's own readers and writers: unsigned
// integers of either byte order, a JPEG header's segments, and PNG's checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tintsmith {

// An unsigned number of `bytes` bytes, most significant first when `bigEndian`.
inline std::uint64_t readUnsigned(const std::uint8_t* at, int bytes, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(at[bigEndian ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
    return value;
}
inline std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(readUnsigned(p, 4, true));
}
inline int bigEndian16(const std::uint8_t* p) {
    return int(readUnsigned(p, 2, true));
}

// Appends `value` as `bytes` bytes in the given order.
inline void appendUnsigned(std::string& out, std::uint64_t value, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
        out.push_back(char((value >> shift) & 0xff));
    }
}

// Writes `value` over `bytes` bytes at `at`, in the given order.
inline void writeUnsigned(std::uint8_t* at, std::uint64_t value, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i)
        at[bigEndian ? bytes - 1 - i : i] = std::uint8_t(value >> (8 * i));
}

// Calls `visit(marker, data)` for each segment of a JPEG's header, up to its
// first scan.
template <class Visit>
void eachJpegSegment(const std::uint8_t* b, std::size_t n, Visit visit) {
    for (std::size_t pos = 2; pos + 4 <= n;) {
        if (b[pos] != 0xff) {  // stray bytes, skipped as the decoder skips them
            ++pos;
            continue;
        }
        const int marker = b[pos + 1];
        if (marker == 0xff || marker == 0x01 || marker == 0x00 ||
            (marker >= 0xd0 && marker <= 0xd7)) {
            pos += marker == 0xff ? 1 : 2;
            continue;
        }
        if (marker == 0xda || marker == 0xd9) return;
        const std::size_t length = std::size_t(bigEndian16(b + pos + 2));
        if (length < 2 || pos + 2 + length > n) return;
        visit(marker, std::string(reinterpret_cast<const char*>(b + pos + 4), length - 2));
        pos += 2 + length;
    }
}

// PNG's CRC-32 (that of zlib) of `size` bytes.
std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

}  // namespace tintsmith
