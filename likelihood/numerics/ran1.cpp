#include "numerics/ran1.h"

#include <cstdint>

namespace {

constexpr std::int32_t multiplier = 16807;
constexpr std::int32_t modulus = 2147483647;
constexpr std::int32_t quotient = 127773; // modulus / multiplier
constexpr std::int32_t remainder = 2836;  // modulus % multiplier
constexpr int tableSize = 32;
constexpr std::int32_t tableDivisor = 67108864; // 1 + (modulus - 1) / tableSize
constexpr double outputScale = 4.656612875245797e-10;
constexpr double outputCap = 0.99999988;
constexpr float largestOutput = 0.99999988079071044921875f;

std::int32_t iy = 0;
std::int32_t iv[tableSize];

// seed * multiplier mod modulus by Schrage's method, without 32-bit overflow.
std::int32_t advance(std::int32_t seed) {
    std::int32_t k = seed / quotient;
    seed = multiplier * (seed - k * quotient) - remainder * k;
    return seed < 0 ? seed + modulus : seed;
}

// The start of a stream: the negated seed, or 1 when that is not below the modulus or not
// positive (the negation is taken in 64 bits so that the most negative seed is safe, and 2^31
// is 1 modulo the modulus anyway; the modulus itself would be the fixed point 0, after which
// every value drawn would be 0), then 8 warm-up steps and 32 table entries.
std::int32_t initialise(std::int32_t seed) {
    std::int64_t negated = -static_cast<std::int64_t>(seed);
    seed = (negated >= 1 && negated < modulus) ? static_cast<std::int32_t>(negated) : 1;
    for (int j = tableSize + 7; j >= 0; j--) {
        seed = advance(seed);
        if (j < tableSize) iv[j] = seed;
    }
    iy = iv[0];
    return seed;
}

} // namespace

float ran1(long* idum) {
    std::int32_t seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(*idum));
    if (seed <= 0 || iy == 0) seed = initialise(seed);
    seed = advance(seed);
    int j = iy / tableDivisor;
    iy = iv[j];
    iv[j] = seed;
    *idum = seed;
    float t = static_cast<float>(outputScale * iy);
    return t > outputCap ? largestOutput : t;
}
