#include "likelihoodstep.h"

#include "numerics/vectorwidth.h"

#include <algorithm>
#include <cmath>
#include <immintrin.h>

namespace {

// The gauge of rescale by the largest entry from the largest entry of every lane: the first
// entry unless a later one is larger. An entry that is not a number is never larger (the lanes
// pass it over), and a first entry that is not a number stays.
double largestEntryGauge(double first, double largestOfLanes) {
    return std::isnan(first) ? first : largestOfLanes;
}

// The step with the 20 sums in vector registers, two or four entries of i to a register: the
// sums run over j outside, each out[i] still summed over j in order from 0.0, each term
// (P(i, j) * left[j]) * right[j], so that every lane does what the plain loop does. The sums
// are named one by one: held in an array, the compiler may keep them in memory. With rescaled
// set, the sums are rescaled by their largest entry before they are stored, as rescale would
// rescale them, and the count of powers of ten is returned.
int stepSse2(const double (*P)[21], const double* left, const double* right, double* out, bool rescaled) {
    __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0, s4 = s0, s5 = s0, s6 = s0, s7 = s0, s8 = s0,
            s9 = s0;
    for (int j = 1; j <= 20; j++) {
        __m128d l = _mm_set1_pd(left[j]), r = _mm_set1_pd(right[j]);
        const double* p = P[j] + 1;
        auto term = [&](int q) { return _mm_mul_pd(_mm_mul_pd(_mm_loadu_pd(p + 2 * q), l), r); };
        s0 = _mm_add_pd(s0, term(0));
        s1 = _mm_add_pd(s1, term(1));
        s2 = _mm_add_pd(s2, term(2));
        s3 = _mm_add_pd(s3, term(3));
        s4 = _mm_add_pd(s4, term(4));
        s5 = _mm_add_pd(s5, term(5));
        s6 = _mm_add_pd(s6, term(6));
        s7 = _mm_add_pd(s7, term(7));
        s8 = _mm_add_pd(s8, term(8));
        s9 = _mm_add_pd(s9, term(9));
    }
    int n = 0;
    if (rescaled) {
        __m128d m = _mm_set1_pd(-HUGE_VAL);
        for (__m128d v : {s0, s1, s2, s3, s4, s5, s6, s7, s8, s9}) m = _mm_max_pd(v, m);
        double lanes = std::max(_mm_cvtsd_f64(m), _mm_cvtsd_f64(_mm_unpackhi_pd(m, m)));
        n = powersToRescale(largestEntryGauge(_mm_cvtsd_f64(s0), lanes));
    }
    if (n > 0) {
        __m128d f = _mm_set1_pd(powerOfTen(n));
        s0 = _mm_mul_pd(s0, f), s1 = _mm_mul_pd(s1, f), s2 = _mm_mul_pd(s2, f), s3 = _mm_mul_pd(s3, f);
        s4 = _mm_mul_pd(s4, f), s5 = _mm_mul_pd(s5, f), s6 = _mm_mul_pd(s6, f), s7 = _mm_mul_pd(s7, f);
        s8 = _mm_mul_pd(s8, f), s9 = _mm_mul_pd(s9, f);
    }
    _mm_storeu_pd(out + 1, s0);
    _mm_storeu_pd(out + 3, s1);
    _mm_storeu_pd(out + 5, s2);
    _mm_storeu_pd(out + 7, s3);
    _mm_storeu_pd(out + 9, s4);
    _mm_storeu_pd(out + 11, s5);
    _mm_storeu_pd(out + 13, s6);
    _mm_storeu_pd(out + 15, s7);
    _mm_storeu_pd(out + 17, s8);
    _mm_storeu_pd(out + 19, s9);
    return n;
}

__attribute__((target("avx2"))) inline __m256d termAvx2(const double* p, __m256d l, __m256d r) {
    return _mm256_mul_pd(_mm256_mul_pd(_mm256_loadu_pd(p), l), r);
}

__attribute__((target("avx2"))) int stepAvx2(const double (*P)[21], const double* left, const double* right,
                                             double* out, bool rescaled) {
    __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0, s4 = s0;
    for (int j = 1; j <= 20; j++) {
        __m256d l = _mm256_set1_pd(left[j]), r = _mm256_set1_pd(right[j]);
        const double* p = P[j] + 1;
        s0 = _mm256_add_pd(s0, termAvx2(p, l, r));
        s1 = _mm256_add_pd(s1, termAvx2(p + 4, l, r));
        s2 = _mm256_add_pd(s2, termAvx2(p + 8, l, r));
        s3 = _mm256_add_pd(s3, termAvx2(p + 12, l, r));
        s4 = _mm256_add_pd(s4, termAvx2(p + 16, l, r));
    }
    int n = 0;
    if (rescaled) {
        __m256d m = _mm256_max_pd(s0, _mm256_set1_pd(-HUGE_VAL));
        m = _mm256_max_pd(s1, m), m = _mm256_max_pd(s2, m), m = _mm256_max_pd(s3, m),
        m = _mm256_max_pd(s4, m);
        __m128d half = _mm_max_pd(_mm256_castpd256_pd128(m), _mm256_extractf128_pd(m, 1));
        double lanes = std::max(_mm_cvtsd_f64(half), _mm_cvtsd_f64(_mm_unpackhi_pd(half, half)));
        n = powersToRescale(largestEntryGauge(_mm256_cvtsd_f64(s0), lanes));
    }
    if (n > 0) {
        __m256d f = _mm256_set1_pd(powerOfTen(n));
        s0 = _mm256_mul_pd(s0, f), s1 = _mm256_mul_pd(s1, f), s2 = _mm256_mul_pd(s2, f);
        s3 = _mm256_mul_pd(s3, f), s4 = _mm256_mul_pd(s4, f);
    }
    _mm256_storeu_pd(out + 1, s0);
    _mm256_storeu_pd(out + 5, s1);
    _mm256_storeu_pd(out + 9, s2);
    _mm256_storeu_pd(out + 13, s3);
    _mm256_storeu_pd(out + 17, s4);
    return n;
}

__attribute__((target("avx2"))) void stepColumnsAvx2(const double (*P)[21], const double* const* left,
                                                     const double* const* right, double* const* out,
                                                     int* scale, int count) {
    for (int b = 0; b < count; b++) scale[b] = stepAvx2(P, left[b], right[b], out[b], true);
}

void stepColumnsSse2(const double (*P)[21], const double* const* left, const double* const* right,
                     double* const* out, int* scale, int count) {
    for (int b = 0; b < count; b++) scale[b] = stepSse2(P, left[b], right[b], out[b], true);
}

} // namespace

void combineChildren(const double (*P)[21], const double* left, const double* right, double* out) {
    if (vectorWidth == VectorWidth::AVX2)
        stepAvx2(P, left, right, out, false);
    else
        stepSse2(P, left, right, out, false);
}

void combineColumns(const double (*P)[21], const double* const* left, const double* const* right,
                    double* const* out, int* scale, int count) {
    if (vectorWidth == VectorWidth::AVX2)
        stepColumnsAvx2(P, left, right, out, scale, count);
    else
        stepColumnsSse2(P, left, right, out, scale, count);
}

void bestOfChildren(const double (*P)[21], const double* left, const double* right, double* out,
                    int* choice) {
    for (int i = 1; i <= 20; i++) {
        out[i] = P[1][i] * left[1] * right[1];
        choice[i] = 1;
    }
    for (int j = 2; j <= 20; j++) {
        for (int i = 1; i <= 20; i++) {
            double w = P[j][i] * left[j] * right[j];
            if (w > out[i]) out[i] = w, choice[i] = j;
        }
    }
}

void passDown(const double (*P)[21], const double* parent, double* out) {
    for (int j = 1; j <= 20; j++) {
        double sum = 0.0;
        for (int i = 1; i <= 20; i++) sum += P[j][i] * parent[i];
        out[j] = sum;
    }
}

int rescale(double* vec, Gauge gauge) {
    bool byMagnitude = gauge == Gauge::LargestMagnitude;
    double g = byMagnitude ? std::fabs(vec[1]) : vec[1];
    for (int i = 2; i <= 20; i++) {
        double v = byMagnitude ? std::fabs(vec[i]) : vec[i];
        if (v > g) g = v;
    }
    int n = powersToRescale(g);
    if (n == 0) return 0; // a factor of 1 changes nothing
    double factor = powerOfTen(n);
    for (int i = 1; i <= 20; i++) vec[i] *= factor;
    return n;
}

int powersToRescale(double g) {
    if (!(g > 1e-200)) return 0;
    int n = 0;
    while (g < 0.1) {
        n++;
        g *= 10;
    }
    return n;
}

// From a table for the exponents that the rescaling meets (at most 200 steps per vector): pow
// costs more than the rest of a leaf's work.
double powerOfTen(int n) {
    static const std::vector<double> table = [] {
        std::vector<double> t(309);
        for (int k = 0; k < 309; k++) t[k] = std::pow(10, k);
        return t;
    }();
    return n >= 0 && n < 309 ? table[n] : std::pow(10, n);
}
