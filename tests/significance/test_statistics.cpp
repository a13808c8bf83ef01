#include "betai.h"
#include "erfcc.h"
#include "fit.h"
#include "gammln.h"
#include "gammq.h"
#include "gcf.h"
#include "gser.h"
#include "nrutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// Q(a, x) for a whole a as the Poisson sum exp(-x) x^i / i! over i < a, in logs.
double poissonUpperTail(int a, double x) {
    double sum = 0.0;
    for (int i = 0; i < a; i++) sum += std::exp(-x + i * std::log(x) - std::lgamma(i + 1.0));
    return sum;
}

// I_x(a, b) for whole a, b as the binomial tail: at least a successes in a + b - 1 trials.
double binomialTail(int a, int b, double x) {
    int trials = a + b - 1;
    double sum = 0.0;
    for (int j = a; j <= trials; j++)
        sum += std::exp(std::lgamma(trials + 1.0) - std::lgamma(j + 1.0) - std::lgamma(trials - j + 1.0) +
                        j * std::log(x) + (trials - j) * std::log1p(-x));
    return sum;
}

} // namespace

TEST(Erfcc, FollowsTheErrorFunctionToItsStatedAccuracy) {
    EXPECT_NEAR(erfcc(0.0), 1.0, 1e-7);
    for (double x : {0.1, 0.5, 1.0, 1.7, 2.5, 4.0, 6.0}) {
        EXPECT_NEAR(erfcc(x), std::erfc(x), 1.2e-7 * std::erfc(x)) << x;
        EXPECT_EQ(erfcc(-x), 2.0 - erfcc(x)) << x;
    }
}

TEST(Gammln, MatchesTheLogGammaFunctionInBothPrecisions) {
    for (double x : {0.25, 0.5, 1.0, 2.0, 3.5, 10.0, 171.0, 400.0, 1e5}) {
        EXPECT_NEAR(gammln(x), std::lgamma(x), 1e-10 * std::max(1.0, std::fabs(std::lgamma(x)))) << x;
        EXPECT_EQ(gammln(static_cast<float>(x)),
                  static_cast<float>(gammln(static_cast<double>(static_cast<float>(x)))));
    }
    EXPECT_NEAR(gammln(1.0), 0.0, 1e-12);
    EXPECT_NEAR(gammln(2.0), 0.0, 1e-12);
}

TEST(Betai, EndsAreExactAndTheInsideFollowsTheBinomialTail) {
    EXPECT_EQ(betai(2.0, 3.0, 0.0), 0.0);
    EXPECT_EQ(betai(2.0, 3.0, 1.0), 1.0);
    EXPECT_NEAR(betai(4.0, 4.0, 0.5), 0.5, 1e-7);
    // Both branches of the fraction, small and large shapes: 2000 needs more than 100 steps.
    struct Case {
        int a, b;
        double x;
    } cases[] = {{2, 3, 0.2},    {2, 3, 0.8},        {5, 1, 0.6},         {30, 70, 0.25},
                 {30, 70, 0.35}, {2000, 2000, 0.49}, {2000, 2000, 0.505}, {5000, 20000, 0.2}};
    for (const Case& c : cases)
        EXPECT_NEAR(betai(c.a, c.b, c.x), binomialTail(c.a, c.b, c.x), 1e-6)
            << c.a << " " << c.b << " " << c.x;
}

TEST(Gammq, FollowsClosedFormsSmallAndLarge) {
    for (float x : {0.1f, 0.9f, 1.5f, 3.0f, 8.0f}) {
        EXPECT_NEAR(gammq(1.0f, x), std::exp(-x), 1e-6) << x;
        EXPECT_NEAR(gammq(0.5f, x), std::erfc(std::sqrt(x)), 1e-6) << x;
    }
    EXPECT_EQ(gammq(2.0f, 0.0f), 1.0f);
    // The goodness of fit of 800 and of 10,000 points lies where the series and the fraction
    // need far more than 100 terms: a = (n - 2)/2 and x near a.
    // The single-precision exponent a ln x - x - ln Gamma(a) bounds the relative accuracy.
    for (int a : {399, 5000})
        for (double x : {a - 3.0 * std::sqrt(a), a - 1.0, a + 0.5, a + 2.0, a + 3.0 * std::sqrt(a)}) {
            double expected = poissonUpperTail(a, x);
            EXPECT_NEAR(gammq(a, x), expected, 5e-7 * a * std::log(a) * expected + 1e-6) << a << " " << x;
        }
}

TEST(Gser, AndGcfGiveComplementaryTails) {
    float gamser, gammcf, gln;
    gser(&gamser, 3.0f, 3.5f, &gln);
    EXPECT_NEAR(gln, std::log(2.0), 1e-6);
    EXPECT_NEAR(gamser, 1.0 - poissonUpperTail(3, 3.5), 1e-6);
    gcf(&gammcf, 3.0f, 3.5f, &gln);
    EXPECT_NEAR(gammcf, poissonUpperTail(3, 3.5), 1e-6);
    gser(&gamser, 3.0f, 0.0f, &gln);
    EXPECT_EQ(gamser, 0.0f);
}

TEST(StatisticsDeathTest, FailuresEndWithTheThreeLineReport) {
    EXPECT_EXIT(
        betai(2.0, 3.0, 1.0000001), testing::ExitedWithCode(1),
        "^Numerical Recipes run-time error...\nBad x in routine betai\n...now exiting to system...\n$");
    EXPECT_EXIT(betai(2.0, 3.0, -0.1), testing::ExitedWithCode(1), "Bad x in routine betai");
    EXPECT_EXIT(betacf(NaN, 2.0, 0.5), testing::ExitedWithCode(1),
                "a or b too big, or MAXIT too small in betacf");
    EXPECT_EXIT(gammq(0.0f, 1.0f), testing::ExitedWithCode(1), "Invalid arguments in routine gammq");
    EXPECT_EXIT(gammq(1.0f, -1.0f), testing::ExitedWithCode(1), "Invalid arguments in routine gammq");
    float g, gln;
    EXPECT_EXIT(gser(&g, 1.0f, -1.0f, &gln), testing::ExitedWithCode(1), "x less than 0 in routine gser");
    EXPECT_EXIT(gser(&g, NaN, 1.0f, &gln), testing::ExitedWithCode(1),
                "a too large, ITMAX too small in routine gser");
    EXPECT_EXIT(gcf(&g, NaN, 1.0f, &gln), testing::ExitedWithCode(1), "a too large, ITMAX too small in gcf");
}

namespace {

struct Line {
    float a, b, siga, sigb, chi2, q;
};

Line fitPoints(float* x, float* y, int n, float* sig, int mwt) {
    Line l;
    fit(x, y, n, sig, mwt, &l.a, &l.b, &l.siga, &l.sigb, &l.chi2, &l.q);
    return l;
}

} // namespace

TEST(Fit, UnweightedLineMatchesTheNormalEquations) {
    float x[] = {0, 1, 2, 3, 4, 5};
    float y[] = {0, 1.1f, 2.9f, 5.2f, 7.1f, 8.8f};
    Line l = fitPoints(x, y, 5, nullptr, 0);
    // Worked out by hand: mean x 3, mean y 5.02, Sxx 10, Sxy 19.6.
    EXPECT_NEAR(l.b, 1.96f, 1e-5);
    EXPECT_NEAR(l.a, -0.86f, 1e-5);
    double chi2 = 0;
    for (int i = 1; i <= 5; i++) chi2 += std::pow(y[i] - (-0.86 + 1.96 * x[i]), 2);
    EXPECT_NEAR(l.chi2, chi2, 1e-5);
    EXPECT_EQ(l.q, 1.0f);
    EXPECT_NEAR(l.sigb, std::sqrt(chi2 / 3 / 10), 1e-5);
    EXPECT_NEAR(l.siga, std::sqrt(chi2 / 3 * (1.0 / 5 + 9.0 / 10)), 1e-5);

    // Two points: an exact line, with no spread left to estimate its errors from.
    Line two = fitPoints(x, y, 2, nullptr, 0);
    EXPECT_NEAR(two.b, 1.8f, 1e-6);
    EXPECT_NEAR(two.a, -0.7f, 1e-6);
    EXPECT_EQ(two.q, 1.0f);
    EXPECT_FALSE(std::isfinite(two.siga) && std::isfinite(two.sigb));
}

TEST(Fit, WeightedLineMatchesWeightedNormalEquations) {
    float x[] = {0, 1, 2, 3, 4, 5, 6};
    float y[] = {0, 2.2f, 2.9f, 4.1f, 5.3f, 5.8f, 7.4f};
    float sig[] = {0, 0.2f, 0.5f, 0.3f, 1.0f, 0.4f, 0.6f};
    Line l = fitPoints(x, y, 6, sig, 1);
    double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int i = 1; i <= 6; i++) {
        double w = 1.0 / (double(sig[i]) * sig[i]);
        s += w, sx += w * x[i], sy += w * y[i], sxx += w * x[i] * x[i], sxy += w * x[i] * y[i];
    }
    double delta = s * sxx - sx * sx;
    double b = (s * sxy - sx * sy) / delta, a = (sxx * sy - sx * sxy) / delta;
    EXPECT_NEAR(l.b, b, 1e-5);
    EXPECT_NEAR(l.a, a, 1e-5);
    EXPECT_NEAR(l.siga, std::sqrt(sxx / delta), 1e-5);
    EXPECT_NEAR(l.sigb, std::sqrt(s / delta), 1e-5);
    double chi2 = 0;
    for (int i = 1; i <= 6; i++) chi2 += std::pow((y[i] - a - b * x[i]) / sig[i], 2);
    EXPECT_NEAR(l.chi2, chi2, 1e-4);
    EXPECT_NEAR(l.q, poissonUpperTail(2, chi2 / 2), 1e-5); // four degrees of freedom

    EXPECT_EXIT(fitPoints(x, y, 2, sig, 1), testing::ExitedWithCode(1), "Invalid arguments in routine gammq");
}
