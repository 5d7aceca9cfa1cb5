#include "sha1.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace meridoc::cards {
namespace {

using State = std::array<std::uint32_t, 5>;
using Compress = void (*)(State &, const unsigned char *, std::size_t);

constexpr State InitialState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

template <typename Word> Word toBigEndian(Word w) {
    if constexpr (std::endian::native == std::endian::big)
        return w;
    else if constexpr (sizeof w == 4)
        return __builtin_bswap32(w);
    else
        return __builtin_bswap64(w);
}

std::uint32_t loadBigEndian(const unsigned char *p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return toBigEndian(w);
}

void compressPortable(State &state, const unsigned char *data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBigEndian(data + 4 * i);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        // Four stages of 20 rounds, each with its own function of b, c, d and constant.
        auto rounds = [&](int first, std::uint32_t k, auto f) {
            for (int i = first; i < first + 20; ++i) {
                if (i >= 16) // the message schedule, kept in a ring of 16 words
                    w[i & 15] =
                        rotl(w[(i - 3) & 15] ^ w[(i - 8) & 15] ^ w[(i - 14) & 15] ^ w[i & 15], 1);
                const std::uint32_t t = rotl(a, 5) + f(b, c, d) + e + k + w[i & 15];
                e = d;
                d = c;
                c = rotl(b, 30);
                b = a;
                a = t;
            }
        };
        using U = std::uint32_t;
        rounds(0, 0x5A827999, [](U x, U y, U z) { return (x & y) | (~x & z); });
        rounds(20, 0x6ED9EBA1, [](U x, U y, U z) { return x ^ y ^ z; });
        rounds(40, 0x8F1BBCDC, [](U x, U y, U z) { return (x & y) | (x & z) | (y & z); });
        rounds(60, 0xCA62C1D6, [](U x, U y, U z) { return x ^ y ^ z; });
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#if defined(__x86_64__)
// The same rounds with the SHA extensions: each sha1rnds4 does four rounds, sha1msg1/sha1msg2
// extend the message schedule four words at a time.
__attribute__((target("sha,sse4.1"))) void compressShaNi(State &state, const unsigned char *data,
                                                         std::size_t blocks) {
    // Reverses the 16 bytes: big-endian words, and the word order the instructions expect.
    const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[0])), 0x1B);
    __m128i e = _mm_set_epi32(int(state[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdStart = abcd, eStart = e;
        __m128i msg[4];
        __m128i before = abcd; // abcd ahead of the previous four rounds
#pragma GCC unroll 20
        for (int i = 0; i < 20; ++i) {
            __m128i &w = msg[i % 4];
            if (i < 4) {
                w = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * i)), reverse);
            } else {
                w = _mm_sha1msg1_epu32(w, msg[(i + 1) % 4]);
                w = _mm_sha1msg2_epu32(_mm_xor_si128(w, msg[(i + 2) % 4]), msg[(i + 3) % 4]);
            }
            const __m128i ew = i == 0 ? _mm_add_epi32(e, w) : _mm_sha1nexte_epu32(before, w);
            before = abcd;
            switch (i / 5) {
            case 0:
                abcd = _mm_sha1rnds4_epu32(abcd, ew, 0);
                break;
            case 1:
                abcd = _mm_sha1rnds4_epu32(abcd, ew, 1);
                break;
            case 2:
                abcd = _mm_sha1rnds4_epu32(abcd, ew, 2);
                break;
            default:
                abcd = _mm_sha1rnds4_epu32(abcd, ew, 3);
                break;
            }
        }
        e = _mm_sha1nexte_epu32(before, eStart);
        abcd = _mm_add_epi32(abcd, abcdStart);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[0]), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = std::uint32_t(_mm_extract_epi32(e, 3));
}
#endif

Compress bestCompress() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1"))
        return compressShaNi;
#endif
    return compressPortable;
}

Sha1Digest sha1(QByteArrayView data, Compress compress) {
    State state = InitialState;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.data());
    const std::size_t size = std::size_t(data.size());
    const std::size_t whole = size / 64;
    compress(state, bytes, whole);

    // The rest, the 0x80 marker, zeros and the length in bits: one or two more blocks.
    unsigned char tail[128] = {};
    const std::size_t rest = size - whole * 64;
    std::memcpy(tail, bytes + whole * 64, rest);
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < 56 ? 64 : 128;
    const std::uint64_t bits = toBigEndian(std::uint64_t(size) * 8);
    std::memcpy(tail + tailSize - 8, &bits, 8);
    compress(state, tail, tailSize / 64);

    Sha1Digest digest;
    for (int i = 0; i < 5; ++i) {
        const std::uint32_t word = toBigEndian(state[i]);
        std::memcpy(digest.data() + 4 * i, &word, 4);
    }
    return digest;
}

} // namespace

Sha1Digest Sha1(QByteArrayView data) {
    static const Compress compress = bestCompress();
    return sha1(data, compress);
}

Sha1Digest Sha1Portable(QByteArrayView data) {
    return sha1(data, compressPortable);
}

} // namespace meridoc::cards
