// The process-wide uniform random generator: the Park-Miller minimal standard generator
// behind a 32-entry Bays-Durham shuffle table.
#ifndef NUMERICS_RAN1_H
#define NUMERICS_RAN1_H

#include <algorithm>
#include <cstdint>
#include <immintrin.h>

// Returns a single-precision value strictly between 0 and 1 and advances the caller's seed
// variable. The shuffle table is shared by every caller; it is (re)built on the first call
// and on any call with *idum <= 0, so a negative or zero seed starts a reproducible stream
// (0, -1 and the seeds at or below -2147483647 the same one).
// The seed arithmetic is 32-bit: a seed outside the 32-bit range is taken modulo 2^32.
float ran1(long* idum);

// The generator's arithmetic and shared state, for ran1 and Ran1Indices.
namespace ran1state {

constexpr std::uint32_t multiplier = 16807;
constexpr std::uint32_t modulus = 2147483647; // 2^31 - 1
constexpr int tableSize = 32;

// A table entry with the table position that its value selects once it is drawn (value /
// 67108864): a run of draws finds each next position with one load and nothing else.
struct Entry {
    std::int32_t value;
    std::uint32_t slot;
};

struct Table {
    std::int32_t iy; // the last value drawn from the table; 0 marks the generator unset
    Entry iv[tableSize];
};

extern Table table;

// seed * factor mod 2^31 - 1 for seed and factor in 0..2^31 - 1: as 2^31 is 1 modulo 2^31 - 1,
// the 62-bit product folds into its low 31 bits plus its high bits, a sum below twice the
// modulus. The same numbers as Schrage's method, without a division.
constexpr std::int32_t multiplyMod(std::int32_t seed, std::uint32_t factor) {
    std::uint64_t product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(seed)) * factor;
    std::uint32_t folded =
        static_cast<std::uint32_t>(product & modulus) + static_cast<std::uint32_t>(product >> 31);
    return static_cast<std::int32_t>(folded >= modulus ? folded - modulus : folded);
}

// One step of the minimal standard generator.
constexpr std::int32_t advance(std::int32_t seed) {
    return multiplyMod(seed, multiplier);
}

inline std::uint32_t slotOf(std::int32_t value) {
    return static_cast<std::uint32_t>(value) >> 26;
}

// The start of a stream from a seed variable that is not positive, or at the very first
// call: fills the table and returns the seed after the warm-up steps.
std::int32_t initialise(std::int32_t seed);

// One draw through the table: the entry at slot is drawn and the new seed takes its place;
// slot moves on to the position that the drawn value selects.
inline std::int32_t passTable(std::uint32_t& slot, std::int32_t seed) {
    Entry& entry = table.iv[slot];
    std::int32_t drawn = entry.value;
    slot = entry.slot;
    entry = Entry{seed, slotOf(seed)};
    return drawn;
}

// The value a draw returns: the table value scaled into (0, 1) in single precision, the
// values that would round to 1 capped just below it.
inline float output(std::int32_t drawn) {
    float t = static_cast<float>(4.656612875245797e-10 * drawn);
    return t > 0.99999988 ? 0.99999988079071044921875f : t;
}

// The index 1..n that a draw gives as min(whole part of (output(drawn) · n + 1), n), for n up to
// 2^23. The cap of output changes no index there (the values it replaces and the cap itself
// all give n), so it is left out.
inline int indexOf(std::int32_t drawn, int n) {
    float t = static_cast<float>(4.656612875245797e-10 * drawn);
    int i = static_cast<int>(static_cast<double>(t) * n + 1);
    return i > n ? n : i;
}

} // namespace ran1state

// A seed as the draws below hold it in their table: with the address of the table entry that it
// selects once drawn (value / 67108864), so that the next draw's address comes with the load,
// and with its index of the draws' range.
struct alignas(16) IndexEntry {
    IndexEntry* selects;
    std::int32_t value;
    std::int32_t index;
};

// The entries of the seeds ahead, made a group at a time in vector lanes, each lane stepping by
// the multiplier to the power of the group with the arithmetic of multiplyMod, each index with
// the arithmetic of indexOf. One form per vector width; both make the same entries.
namespace ran1lanes {

constexpr int GROUP = 16;

// multiplier^k mod the modulus.
constexpr std::uint32_t multiplierPower(int k) {
    std::int32_t power = 1;
    for (int i = 0; i < k; i++) power = ran1state::advance(power);
    return static_cast<std::uint32_t>(power);
}

// The lane that holds seed g + 1 of a group: the order in which the entries come out of each
// form's interleaving.
constexpr int sse2Lane(int g) {
    return g;
}
constexpr int avx2Lane(int g) {
    return (g & ~3) | ((g & 1) << 1) | ((g & 2) >> 1);
}

// The constants of a group's arithmetic.
struct Constants {
    const IndexEntry* table;
    int n;
};

class Sse2Group {
  public:
    Sse2Group(const std::uint64_t* lane, Constants c)
        : factor(_mm_set1_epi64x(multiplierPower(GROUP))), m(_mm_set1_epi64x(ran1state::modulus)),
          base(_mm_set1_epi64x(reinterpret_cast<std::intptr_t>(c.table))), ni(_mm_set1_epi32(c.n)),
          nd(_mm_set1_pd(c.n)) {
        for (int q = 0; q < LANES; q++) x[q] = _mm_load_si128(reinterpret_cast<const __m128i*>(lane) + q);
    }
    void keep(std::uint64_t* lane) const {
        for (int q = 0; q < LANES; q++) _mm_store_si128(reinterpret_cast<__m128i*>(lane) + q, x[q]);
    }
    // The entries of the group's seeds into out[0..GROUP); the lanes step to the next group.
    void make(IndexEntry* out) {
#pragma GCC unroll 8
        for (int q = 0; q < LANES; q++) {
            entries(x[q], out + 2 * q);
            x[q] = step(x[q]);
        }
    }

  private:
    static constexpr int LANES = GROUP / 2;

    // The product folded twice: a seed and the factor are in 1..modulus - 1, so the product is
    // no multiple of the prime modulus, and the first fold (below 2^32) is neither the modulus
    // nor twice it; at 2^31 or above the second fold takes the modulus off, below it nothing.
    __m128i step(__m128i seed) const {
        __m128i product = _mm_mul_epu32(seed, factor);
        __m128i folded = _mm_add_epi64(_mm_and_si128(product, m), _mm_srli_epi64(product, 31));
        return _mm_add_epi64(_mm_and_si128(folded, m), _mm_srli_epi64(folded, 31));
    }
    void entries(__m128i seeds, IndexEntry* out) const {
        __m128i address = _mm_add_epi64(base, _mm_slli_epi64(_mm_srli_epi64(seeds, 26), 4));
        __m128i values = _mm_shuffle_epi32(seeds, _MM_SHUFFLE(3, 1, 2, 0));
        __m128d scaled = _mm_mul_pd(_mm_cvtepi32_pd(values), _mm_set1_pd(4.656612875245797e-10));
        __m128d t = _mm_cvtps_pd(_mm_cvtpd_ps(scaled));
        __m128i index = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(t, nd), _mm_set1_pd(1.0)));
        __m128i over = _mm_cmpgt_epi32(index, ni);
        index = _mm_or_si128(_mm_and_si128(over, ni), _mm_andnot_si128(over, index));
        __m128i pairs = _mm_unpacklo_epi32(values, index);
        _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(address, pairs));
        _mm_store_si128(reinterpret_cast<__m128i*>(out + 1), _mm_unpackhi_epi64(address, pairs));
    }

    __m128i x[LANES];
    __m128i factor, m, base, ni;
    __m128d nd;
};

#define RAN1_AVX2 __attribute__((target("avx2"))) inline

class Avx2Group {
  public:
    RAN1_AVX2 Avx2Group(const std::uint64_t* lane, Constants c)
        : factor(_mm256_set1_epi64x(multiplierPower(GROUP))), m(_mm256_set1_epi64x(ran1state::modulus)),
          base(_mm256_set1_epi64x(reinterpret_cast<std::intptr_t>(c.table))), ni(_mm_set1_epi32(c.n)),
          nd(_mm256_set1_pd(c.n)) {
        for (int q = 0; q < LANES; q++) x[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane) + q);
    }
    RAN1_AVX2 void keep(std::uint64_t* lane) const {
        for (int q = 0; q < LANES; q++) _mm256_store_si256(reinterpret_cast<__m256i*>(lane) + q, x[q]);
    }
    RAN1_AVX2 void make(IndexEntry* out) {
#pragma GCC unroll 4
        for (int q = 0; q < LANES; q++) {
            entries(x[q], out + 4 * q);
            x[q] = step(x[q]);
        }
    }

  private:
    static constexpr int LANES = GROUP / 4;

    RAN1_AVX2 __m256i step(__m256i seed) const {
        __m256i product = _mm256_mul_epu32(seed, factor);
        __m256i folded = _mm256_add_epi64(_mm256_and_si256(product, m), _mm256_srli_epi64(product, 31));
        return _mm256_add_epi64(_mm256_and_si256(folded, m), _mm256_srli_epi64(folded, 31));
    }
    // The entries come out as lanes 0, 2, then 1, 3: see avx2Lane.
    RAN1_AVX2 void entries(__m256i seeds, IndexEntry* out) const {
        __m256i address = _mm256_add_epi64(base, _mm256_slli_epi64(_mm256_srli_epi64(seeds, 26), 4));
        __m128i values = _mm256_castsi256_si128(
            _mm256_permutevar8x32_epi32(seeds, _mm256_set_epi32(7, 5, 3, 1, 6, 4, 2, 0)));
        __m256d scaled = _mm256_mul_pd(_mm256_cvtepi32_pd(values), _mm256_set1_pd(4.656612875245797e-10));
        __m256d t = _mm256_cvtps_pd(_mm256_cvtpd_ps(scaled));
        __m128i index =
            _mm_min_epi32(_mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(t, nd), _mm256_set1_pd(1.0))), ni);
        __m256i pairs =
            _mm256_set_m128i(_mm_unpackhi_epi32(values, index), _mm_unpacklo_epi32(values, index));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_unpacklo_epi64(address, pairs));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2), _mm256_unpackhi_epi64(address, pairs));
    }

    __m256i x[LANES];
    __m256i factor, m, base;
    __m128i ni;
    __m256d nd;
};

#undef RAN1_AVX2

} // namespace ran1lanes

// Successive values of ran1 with one seed variable taken as indices 1..n (n up to 2^23), the
// index of each value as ran1state::indexOf gives it, exactly as successive calls ran1(seed)
// would draw them (restarts included), for the loops of millions of draws of the shuffles.
//
// A draw waits for the load of the table entry that the last drawn value selects, and that
// chain of loads is all it need wait for: the seeds are made a group ahead with vector
// instructions, each with its index and the address of the entry it selects once drawn, amid
// the draws, which the processor runs alongside the chain. While it is in use nothing else may
// draw from the generator; at its end the seed variable and the table are as the calls would
// have left them.
class Ran1Indices {
  public:
    Ran1Indices(long* seed, int n);
    ~Ran1Indices();
    Ran1Indices(const Ran1Indices&) = delete;
    Ran1Indices& operator=(const Ran1Indices&) = delete;

    int next() { return state.draw(*this); }

    // count transpositions: use(i, j) with the indices of two draws, the second drawn again
    // while it equals the first.
    template <typename Use> void transpositions(long count, Use use) {
        // Near a restart the entries are made one at a time, each draw checking.
        long k = 0;
        for (; k < count && !inLanes; k++) {
            int i = next();
            int j = next();
            while (j == i) j = next();
            use(i, j);
        }
        if (k == count) return;
        if (avx2)
            transposeAvx2(count - k, use);
        else
            transposeSse2(count - k, use);
    }

  private:
    using Entry = IndexEntry;
    static constexpr int GROUP = ran1lanes::GROUP;
    static constexpr int CAPACITY = 256;

    // What a draw changes: the table entry it takes, the value last drawn and the next of the
    // entries made ahead.
    struct Cursor {
        Entry* entry;
        std::int32_t iy;
        Entry* next;
        int draw(Ran1Indices& g) {
            if (next == g.made) {
                g.state = *this;
                g.makeAhead();
                *this = g.state;
            }
            return take();
        }
        // A draw from the entries ahead, which must not be used up.
        int take() {
            Entry* taken = entry;
            int index = taken->index;
            iy = taken->value;
            entry = taken->selects;
            *taken = *next++;
            return index;
        }
    };

    // Each width's loop has every call inlined into it, the lanes' vector code and use among
    // them, so that all of the draws' state stays in registers.
    template <typename Use>
    __attribute__((target("avx2"), flatten)) void transposeAvx2(long count, Use& use) {
        transposeWith<ran1lanes::Avx2Group>(count, use);
    }
    template <typename Use> __attribute__((flatten)) void transposeSse2(long count, Use& use) {
        transposeWith<ran1lanes::Sse2Group>(count, use);
    }
    // The draws with their state in registers, the lanes' seeds included, making each group of
    // entries as the last one runs low.
    template <typename Group, typename Use> void transposeWith(long count, Use& use) {
        Group group(lane, {table, n});
        Cursor c = state;
        Entry* end = made; // apart from the cursor, so that no two of them share a vector register
        // Makes a group when fewer than least entries are ahead (least at most a group).
        auto keepAhead = [&](long least) {
            if (end - c.next >= least) return;
            if (end + GROUP > ahead + CAPACITY) {
                // The entries not yet drawn move to the front.
                seedBefore = c.next[-1].value;
                end = std::copy(c.next, end, ahead);
                c.next = ahead;
            }
            group.make(end);
            end += GROUP;
        };
        for (long k = 0; k < count; k++) {
            keepAhead(GROUP);
            int i = c.take();
            int j = c.take();
            while (j == i) {
                keepAhead(1);
                j = c.take();
            }
            use(i, j);
        }
        group.keep(lane);
        state = c;
        made = end;
    }

    Entry entryOf(std::int32_t value) const;
    std::int32_t lastSeed() const { return state.next > ahead ? state.next[-1].value : seedBefore; }
    // Whether no draw can restart the generator: the seeds and the table's values are all in
    // 1..2^31 - 2, so that every seed made from them is too.
    bool steady(std::int32_t seed) const;
    void restart(std::int32_t& seed);
    void makeAhead();
    void startLanes(std::int32_t seed);

    long* variable;
    int n;
    bool avx2; // the vector width of the lanes
    bool drawn = false;
    bool inLanes = false;                  // the seeds ahead come from the lanes
    std::int32_t seedBefore;               // the seed of the last draw before the entries ahead
    alignas(32) std::uint64_t lane[GROUP]; // the seeds of the next group, in the lanes' order
    Cursor state;
    Entry* made; // the end of the entries made ahead
    Entry table[ran1state::tableSize];
    Entry ahead[CAPACITY];
};

#endif
