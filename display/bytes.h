#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Moves, fills and comparisons of the few bytes of a row, written out as word loads and
// stores: a call into the C library costs more than such bytes do.
namespace display::bytes {

// Whether the `N` bytes at `a` and `b` are the same; `N` at least 8.
template <std::size_t N> bool same(const void* a, const void* b) {
    static_assert(N >= 8, "compared in words of 8 bytes");
    const auto* p = static_cast<const unsigned char*>(a);
    const auto* q = static_cast<const unsigned char*>(b);
    std::uint64_t diff = 0;
    const auto word = [&](std::size_t at) {
        std::uint64_t x, y;
        std::memcpy(&x, p + at, 8);
        std::memcpy(&y, q + at, 8);
        diff |= x ^ y;
    };
    for (std::size_t at = 0; at + 8 <= N; at += 8)
        word(at);
    if (N % 8 != 0)
        word(N - 8);
    return diff == 0;
}

// Moves `n` bytes, at most 32, from `from` to `to`, which may overlap: every byte is loaded
// before any is stored.
inline void move(void* to, const void* from, std::size_t n) {
    auto* d = static_cast<unsigned char*>(to);
    const auto* s = static_cast<const unsigned char*>(from);
    if (n >= 16) {
        std::uint64_t w[4];
        std::memcpy(&w[0], s, 8);
        std::memcpy(&w[1], s + 8, 8);
        std::memcpy(&w[2], s + n - 16, 8);
        std::memcpy(&w[3], s + n - 8, 8);
        std::memcpy(d, &w[0], 8);
        std::memcpy(d + 8, &w[1], 8);
        std::memcpy(d + n - 16, &w[2], 8);
        std::memcpy(d + n - 8, &w[3], 8);
    } else if (n >= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, s, 8);
        std::memcpy(&b, s + n - 8, 8);
        std::memcpy(d, &a, 8);
        std::memcpy(d + n - 8, &b, 8);
    } else if (n >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, s, 4);
        std::memcpy(&b, s + n - 4, 4);
        std::memcpy(d, &a, 4);
        std::memcpy(d + n - 4, &b, 4);
    } else if (n > 0) {
        const unsigned char a = s[0], b = s[n / 2], c = s[n - 1];
        d[0] = a;
        d[n / 2] = b;
        d[n - 1] = c;
    }
}

// Stores `value` in the `n` bytes at `to`, at most 32.
inline void fill(void* to, unsigned char value, std::size_t n) {
    auto* d = static_cast<unsigned char*>(to);
    const std::uint64_t w = 0x0101010101010101u * value;
    if (n >= 16) {
        std::memcpy(d, &w, 8);
        std::memcpy(d + 8, &w, 8);
        std::memcpy(d + n - 16, &w, 8);
        std::memcpy(d + n - 8, &w, 8);
    } else if (n >= 8) {
        std::memcpy(d, &w, 8);
        std::memcpy(d + n - 8, &w, 8);
    } else if (n >= 4) {
        std::memcpy(d, &w, 4);
        std::memcpy(d + n - 4, &w, 4);
    } else if (n > 0) {
        d[0] = d[n / 2] = d[n - 1] = value;
    }
}

} // namespace display::bytes
