// The process-wide uniform random generator: the Park-Miller minimal standard generator
// behind a 32-entry Bays-Durham shuffle table.
#ifndef NUMERICS_RAN1_H
#define NUMERICS_RAN1_H

#include <cstdint>

// Returns a single-precision value strictly between 0 and 1 and advances the caller's seed
// variable. The shuffle table is shared by every caller; it is (re)built on the first call
// and on any call with *idum <= 0, so a negative or zero seed starts a reproducible stream
// (0, -1 and the seeds at or below -2147483647 the same one).
// The seed arithmetic is 32-bit: a seed outside the 32-bit range is taken modulo 2^32.
float ran1(long* idum);

// The generator's arithmetic and shared state, for ran1 and Ran1Draws.
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

// Successive values of ran1 with one seed variable, exactly as successive calls ran1(seed)
// give them (restarts included), for loops of millions of draws: the seeds ahead come from
// three interleaved sequences that each step by the cube of the multiplier, and the table
// position stays in a register, so that a draw waits for little more than one load. While it
// is in use nothing else may draw from the generator; at its end the seed variable and the
// table are as the calls would have left them.
class Ran1Draws {
  public:
    explicit Ran1Draws(long* seed)
        : variable(seed), current(static_cast<std::int32_t>(static_cast<std::uint32_t>(*seed))),
          iy(ran1state::table.iy), slot(ran1state::slotOf(iy)) {
        lookAhead();
    }
    ~Ran1Draws() {
        if (!drawn) return;
        *variable = current;
        ran1state::table.iy = iy;
    }
    Ran1Draws(const Ran1Draws&) = delete;
    Ran1Draws& operator=(const Ran1Draws&) = delete;

    float next() {
        draw();
        return ran1state::output(iy);
    }
    // A draw taken as an index 1..n (n up to 2^23), as ran1state::indexOf gives it.
    int nextIndex(int n) {
        draw();
        return ran1state::indexOf(iy, n);
    }

  private:
    static constexpr std::uint32_t multiplierCubed =
        ran1state::advance(ran1state::advance(ran1state::multiplier));

    // The three seeds after current.
    void lookAhead() {
        ahead[0] = ran1state::advance(current);
        ahead[1] = ran1state::advance(ahead[0]);
        ahead[2] = ran1state::advance(ahead[1]);
    }
    void draw() {
        if (current <= 0 || iy == 0) restart();
        current = ahead[0];
        ahead[0] = ahead[1];
        ahead[1] = ahead[2];
        ahead[2] = ran1state::multiplyMod(current, multiplierCubed);
        iy = ran1state::passTable(slot, current);
        drawn = true;
    }
    // ran1's start, at the draw where a call would make it.
    void restart() {
        current = ran1state::initialise(current);
        iy = ran1state::table.iy;
        slot = ran1state::slotOf(iy);
        lookAhead();
    }

    long* variable;
    std::int32_t current; // the seed of the last draw
    std::int32_t ahead[3];
    std::int32_t iy;
    std::uint32_t slot; // the table position of the next draw
    bool drawn = false;
};

#endif
