#include "numerics/ran1.h"

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
