#include "numerics/ran1.h"

#include "numerics/vectorwidth.h"

#include <algorithm>
#include <immintrin.h>

namespace ran1state {

Table table = {};

// The start of a stream: the negated seed, or 1 when that is not below the modulus or not
// positive (the negation is taken in 64 bits so that the most negative seed is safe, and 2^31
// is 1 modulo the modulus anyway; the modulus itself would be the fixed point 0, after which
// every value drawn would be 0), then 8 warm-up steps and 32 table entries.
std::int32_t initialise(std::int32_t seed) {
    std::int64_t negated = -static_cast<std::int64_t>(seed);
    seed = (negated >= 1 && negated < modulus) ? static_cast<std::int32_t>(negated) : 1;
    for (int j = tableSize + 7; j >= 0; j--) {
        seed = advance(seed);
        if (j < tableSize) table.iv[j] = Entry{seed, slotOf(seed)};
    }
    table.iy = table.iv[0].value;
    return seed;
}

} // namespace ran1state

float ran1(long* idum) {
    using namespace ran1state;
    std::int32_t seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(*idum));
    if (seed <= 0 || table.iy == 0) seed = initialise(seed);
    seed = advance(seed);
    std::uint32_t slot = slotOf(table.iy);
    table.iy = passTable(slot, seed);
    *idum = seed;
    return output(table.iy);
}

namespace {

using ran1state::modulus;

__attribute__((target("avx2"))) void makeGroupAvx2(std::uint64_t* lane, ran1lanes::Constants c,
                                                   IndexEntry* out) {
    ran1lanes::Avx2Group group(lane, c);
    group.make(out);
    group.keep(lane);
}

void makeGroupSse2(std::uint64_t* lane, ran1lanes::Constants c, IndexEntry* out) {
    ran1lanes::Sse2Group group(lane, c);
    group.make(out);
    group.keep(lane);
}

} // namespace

Ran1Indices::Ran1Indices(long* seed, int n)
    : variable(seed), n(n), avx2(vectorWidth == VectorWidth::AVX2),
      seedBefore(static_cast<std::int32_t>(static_cast<std::uint32_t>(*seed))) {
    for (int k = 0; k < ran1state::tableSize; k++) table[k] = entryOf(ran1state::table.iv[k].value);
    state = {&table[ran1state::slotOf(ran1state::table.iy)], ran1state::table.iy, ahead};
    made = ahead;
}

Ran1Indices::~Ran1Indices() {
    if (!drawn) return;
    for (int k = 0; k < ran1state::tableSize; k++)
        ran1state::table.iv[k] = {table[k].value, ran1state::slotOf(table[k].value)};
    ran1state::table.iy = state.iy;
    *variable = lastSeed();
}

IndexEntry Ran1Indices::entryOf(std::int32_t value) const {
    return {const_cast<Entry*>(&table[ran1state::slotOf(value)]), value, ran1state::indexOf(value, n)};
}

bool Ran1Indices::steady(std::int32_t seed) const {
    if (seed <= 0 || seed == static_cast<std::int32_t>(modulus) || state.iy == 0) return false;
    for (const Entry& e : table)
        if (e.value == 0) return false;
    return true;
}

// ran1's start, into this table, at the draw where a call would make it.
void Ran1Indices::restart(std::int32_t& seed) {
    seed = ran1state::initialise(seed);
    for (int k = 0; k < ran1state::tableSize; k++) table[k] = entryOf(ran1state::table.iv[k].value);
    state.iy = ran1state::table.iy;
    state.entry = &table[ran1state::slotOf(state.iy)];
}

// The lanes take the GROUP seeds after seed.
void Ran1Indices::startLanes(std::int32_t seed) {
    for (int g = 0; g < GROUP; g++) {
        int q = avx2 ? ran1lanes::avx2Lane(g) : ran1lanes::sse2Lane(g);
        lane[q] = static_cast<std::uint32_t>(seed = ran1state::advance(seed));
    }
    inLanes = true;
}

// More entries ahead: a group from the lanes once no draw can restart the generator; until then
// one at a time, each after the check that a call would make before its draw (a seed of 0 or
// below, or a 0 in the table, which only a seed of 2^31 - 1 leads to).
void Ran1Indices::makeAhead() {
    drawn = true;
    if (!inLanes) {
        std::int32_t seed = lastSeed();
        if (seed <= 0 || state.iy == 0) restart(seed);
        seedBefore = seed;
        state.next = made = ahead;
        if (!steady(seed)) {
            *made++ = entryOf(ran1state::advance(seed));
            return;
        }
        startLanes(seed);
    }
    if (made + GROUP > ahead + CAPACITY) {
        // The entries not yet drawn move to the front.
        seedBefore = lastSeed();
        made = std::copy(state.next, made, ahead);
        state.next = ahead;
    }
    if (avx2)
        makeGroupAvx2(lane, {table, n}, made);
    else
        makeGroupSse2(lane, {table, n}, made);
    made += GROUP;
}
