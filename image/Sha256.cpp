#include "image/Sha256.h"

#include "image/HexText.h"

#include <algorithm>

namespace isp {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes (FIPS 180-4, 4.2.2).
constexpr std::array<std::uint32_t, 64> RoundConstants{0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b,
    0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc,
    0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1,
    0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08,
    0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814,
    0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The first 32 bits of the fractional parts of the square roots of the
// first 8 primes (5.3.3).
constexpr std::array<std::uint32_t, 8> InitialHash{
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t rotateRight(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

constexpr std::size_t BlockSize = 64;
using Block = std::span<const std::uint8_t, BlockSize>;

// One 512-bit block into the running hash (6.2.2).
void compress(std::array<std::uint32_t, 8>& hash, Block block)
{
    std::array<std::uint32_t, 64> w{};
    for (std::size_t t = 0; t < 16; ++t) {
        w[t] = (std::uint32_t{block[4 * t]} << 24) | (std::uint32_t{block[4 * t + 1]} << 16)
            | (std::uint32_t{block[4 * t + 2]} << 8) | std::uint32_t{block[4 * t + 3]};
    }
    for (std::size_t t = 16; t < 64; ++t) {
        const std::uint32_t s0 = rotateRight(w[t - 15], 7) ^ rotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = rotateRight(w[t - 2], 17) ^ rotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }

    std::array<std::uint32_t, 8> v = hash; // a, b, c, d, e, f, g, h
    for (std::size_t t = 0; t < 64; ++t) {
        const std::uint32_t sum1 = rotateRight(v[4], 6) ^ rotateRight(v[4], 11) ^ rotateRight(v[4], 25);
        const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + sum1 + choose + RoundConstants[t] + w[t];
        const std::uint32_t sum0 = rotateRight(v[0], 2) ^ rotateRight(v[0], 13) ^ rotateRight(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t t2 = sum0 + majority;
        v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < 8; ++i)
        hash[i] += v[i];
}

} // namespace

Sha256Digest sha256(std::span<const std::uint8_t> bytes)
{
    std::array<std::uint32_t, 8> hash = InitialHash;
    const std::size_t whole = bytes.size() / BlockSize * BlockSize;
    for (std::size_t at = 0; at < whole; at += BlockSize)
        compress(hash, bytes.subspan(at).first<BlockSize>());

    // Padding (5.1.1): a 1 bit, zeros, and the length in bits as a 64-bit
    // big-endian number, in one block or, when the tail leaves fewer than
    // 9 bytes free, in two.
    const std::span<const std::uint8_t> tail = bytes.subspan(whole);
    std::array<std::uint8_t, BlockSize> last{};
    std::copy(tail.begin(), tail.end(), last.begin());
    last[tail.size()] = 0x80;
    if (tail.size() >= BlockSize - 8) {
        compress(hash, last);
        last.fill(0);
    }
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    for (std::size_t i = 0; i < 8; ++i)
        last[BlockSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    compress(hash, last);

    Sha256Digest digest{};
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<std::uint8_t>(hash[i] >> (24 - 8 * k));
    }
    return digest;
}

std::string sha256Hex(std::span<const std::uint8_t> bytes)
{
    return lowerHex(sha256(bytes));
}

} // namespace isp
