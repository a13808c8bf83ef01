#include "wnj/calerf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

namespace {

// Points in every interval of the approximation and across their borders.
std::vector<double> samplePoints(double lo, double hi, int count) {
    std::vector<double> x;
    for (int k = 0; k <= count; k++) x.push_back(lo + (hi - lo) * k / count);
    for (double border : {0.46875, 4.0}) {
        for (double side : {-1.0, 1.0}) {
            x.push_back(side * border);
            x.push_back(side * std::nextafter(border, 0.0));
            x.push_back(side * std::nextafter(border, 10.0));
        }
    }
    x.push_back(1e-20);
    x.push_back(-3e-17);
    return x;
}

// Relative agreement; below the normal range (erfc beyond 26.2) the approximation and the
// standard library may only agree to that range, and from 26.543 on erfc is taken as 0.
void expectRelative(double got, double want, double tolerance) {
    if (std::fabs(want) < DBL_MIN)
        EXPECT_LE(std::fabs(got - want), DBL_MIN) << got << " vs " << want;
    else
        EXPECT_LE(std::fabs(got - want), tolerance * std::fabs(want)) << got << " vs " << want;
}

// exp(x*x)*erfc(x) for large x from its asymptotic series, accurate far beyond 1e-14 from 20 on.
double scaledTail(double x) {
    double term = 1.0, sum = 1.0, inv = 1.0 / (2.0 * x * x);
    for (int k = 1; k <= 12; k++) {
        term *= -(2 * k - 1) * inv;
        sum += term;
    }
    return sum / (x * std::sqrt(M_PI));
}

} // namespace

TEST(Calerf, MatchesTheStandardErrorFunctions) {
    for (double x : samplePoints(-27.0, 27.0, 5400)) {
        SCOPED_TRACE(x);
        expectRelative(wnj::derf(x), std::erf(x), 1e-14);
        expectRelative(wnj::derfc(x), std::erfc(x), 1e-14);
        expectRelative(wnj::calerf(x, 0), std::erf(x), 1e-14);
    }
}

TEST(Calerf, ScaledComplementMatchesWhereErfcIsRepresentableAndWhereItUnderflows) {
    for (double x : samplePoints(-26.0, 26.0, 5200)) {
        SCOPED_TRACE(x);
        long double want = std::exp(static_cast<long double>(x) * x) * std::erfc(static_cast<long double>(x));
        expectRelative(wnj::derfcx(x), static_cast<double>(want), 1e-14);
    }
    for (double x : {20.0, 26.543, 27.0, 30.0, 100.0, 1e3, 1e6, 6.70e7}) {
        SCOPED_TRACE(x);
        if (x >= 26.543) {
            EXPECT_EQ(wnj::derfc(x), 0.0);
        }
        expectRelative(wnj::derfcx(x), scaledTail(x), 1e-14);
    }
}

TEST(Calerf, LimitsOfTheScaledComplement) {
    EXPECT_EQ(wnj::derfc(0.0), 1.0);
    EXPECT_EQ(wnj::derfcx(0.0), 1.0);
    EXPECT_EQ(wnj::derf(0.0), 0.0);
    EXPECT_DOUBLE_EQ(wnj::derfcx(1e8), 0.56418958354775628695 / 1e8);
    EXPECT_EQ(wnj::derfcx(3e307), 0.0);
    EXPECT_EQ(wnj::derfcx(-26.7), 1.79e308);
    EXPECT_EQ(wnj::derfc(-30.0), 2.0);
    EXPECT_EQ(wnj::derf(-30.0), -1.0);
}

TEST(Calerf, AintTruncatesTowardsZero) {
    for (auto [x, want] : {std::pair{2.7, 2.0}, {-2.7, -2.0}, {0.0, 0.0}, {-0.5, 0.0}, {5.0, 5.0}}) {
        double value = x;
        EXPECT_EQ(wnj::aint(&value), want) << x;
    }
}
