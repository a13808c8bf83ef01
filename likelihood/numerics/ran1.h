// The process-wide uniform random generator: the Park-Miller minimal standard generator
// behind a 32-entry Bays-Durham shuffle table.
#ifndef NUMERICS_RAN1_H
#define NUMERICS_RAN1_H

// Returns a single-precision value strictly between 0 and 1 and advances the caller's seed
// variable. The shuffle table is shared by every caller; it is (re)built on the first call
// and on any call with *idum <= 0, so a negative or zero seed starts a reproducible stream
// (0, -1 and the seeds at or below -2147483647 the same one).
// The seed arithmetic is 32-bit: a seed outside the 32-bit range is taken modulo 2^32.
float ran1(long* idum);

#endif
