// Numbers in files, for the io folder's own readers and writers: unsigned
// integers of either byte order, and PNG's checksum.
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

// PNG's CRC-32 (that of zlib) of `size` bytes.
std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

}  // namespace tintsmith
