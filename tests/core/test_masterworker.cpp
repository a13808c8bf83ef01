#include "masterworker.h"

#include "alignment.h"
#include "job_setup.h"
#include "numerics/job.h"
#include "scratch.h"
#include "settings.h"
#include "sitework.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

using testsupport::fileText;
using testsupport::lines;
using testsupport::prepareFixture;

namespace {

// Both ends of the exchange in one process. As the master's transport it stands for the
// workers: each result comes from a worker picked at random among those holding a site, and
// carries values made from its site. As a worker's transport it stands for the master: it
// hands out the sites of a list, then a stop, and sends the alpha vector it was given.
class FakeJob : public SiteTransport {
  public:
    explicit FakeJob(unsigned seed = 1) : rng(seed) {}

    // The value k of the result for a site.
    static double resultValue(int site, int k) { return site + k / 1000.0; }

    // The master's messages as the workers received them.
    std::map<int, std::vector<int>> sitesOf; // by worker, in the order sent
    std::map<int, int> stops;
    std::map<int, std::vector<double>> alphaVectorOf;
    int firstToAnswer = 0;

    // A worker's side: what the master sends it, and what it sent back.
    std::deque<int> sitesToHandOut;
    std::vector<double> alphaVector;
    std::vector<std::pair<int, std::vector<double>>> results; // (tag, values)

    const char* processorName() override { return "node7"; }

    void sendSite(int worker, int site) override {
        EXPECT_EQ(holding.count(worker), 0u) << "worker " << worker << " already holds a site";
        holding[worker] = site;
        sitesOf[worker].push_back(site);
    }

    void sendStop(int worker) override {
        EXPECT_EQ(holding.count(worker), 0u) << "worker " << worker << " stopped while holding a site";
        stops[worker]++;
    }

    ResultArrival receiveResult(double* values, int count) override {
        EXPECT_FALSE(holding.empty()) << "a result awaited from no worker";
        if (holding.empty()) return {0, 0};
        auto pick =
            std::next(holding.begin(), std::uniform_int_distribution<long>(0, long(holding.size()) - 1)(rng));
        auto [worker, site] = *pick;
        holding.erase(pick);
        if (!firstToAnswer) firstToAnswer = worker;
        for (int k = 0; k < count; k++) values[k] = resultValue(site, k);
        return {worker, site};
    }

    void sendAlphaVector(int worker, const double* v, int count) override {
        alphaVectorOf[worker].assign(v, v + count);
    }

    int receiveSite(int* site) override {
        if (sitesToHandOut.empty()) return 0;
        *site = sitesToHandOut.front();
        sitesToHandOut.pop_front();
        return *site;
    }

    void sendResult(int site, const double* values, int count) override {
        results.push_back({site, std::vector<double>(values, values + count)});
    }

    void receiveAlphaVector(double* v, int count) override {
        ASSERT_EQ(alphaVector.size(), static_cast<size_t>(count));
        std::copy(alphaVector.begin(), alphaVector.end(), v);
    }

  private:
    std::mt19937 rng;
    std::map<int, int> holding; // worker -> the site it works on
};

bool contains(const std::vector<std::string>& text, const std::string& line) {
    return std::find(text.begin(), text.end(), line) != text.end();
}

// The master's summary line of a site whose record came from FakeJob.
std::string summaryLine(int site) {
    double avgLogL = 0, avgEntropy = 0;
    for (int k = 1; k <= 100; k++) avgLogL += FakeJob::resultValue(site, k) / 100;
    for (int k = 101; k <= 200; k++) avgEntropy += FakeJob::resultValue(site, k) / 100;
    char line[200];
    std::snprintf(line, sizeof line, "%3d %12.4f %12.4f %12.4f %12.4f", site, FakeJob::resultValue(site, 201),
                  avgEntropy, FakeJob::resultValue(site, 0), avgLogL);
    return line;
}

// The master's run after the preparation, with the fake workers; returns its standard output,
// and the text of the result file, which it closes, in *result.
std::string runMaster(FakeJob& job, int size, const std::string& resultPath, std::string* result) {
    testing::internal::CaptureStdout();
    cal_likelihood(size, job);
    std::string out = testing::internal::GetCapturedStdout();
    *result = fileText(resultPath);
    return out;
}

} // namespace

TEST(MasterLoop, EverySiteGoesOutOnceAndEveryStartedWorkerStopsOnce) {
    for (int size : {2, 3, 12, 13, 20}) {
        SCOPED_TRACE("size " + std::to_string(size));
        std::string resultPath = prepareFixture("sites12");
        ASSERT_EQ(seqLength, 12);
        FakeJob job(static_cast<unsigned>(size));
        std::string result;
        std::vector<std::string> out = lines(runMaster(job, size, resultPath, &result));

        int first = std::min(12, size) - 1;
        std::multiset<int> all;
        for (const auto& [worker, sites] : job.sitesOf) {
            EXPECT_GE(worker, 1);
            EXPECT_LE(worker, first);
            EXPECT_EQ(sites.front(), worker); // each starts with the site of its own number
            all.insert(sites.begin(), sites.end());
        }
        EXPECT_EQ(all, std::multiset<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        EXPECT_EQ(job.stops.size(), static_cast<size_t>(first));
        for (int w = 1; w <= first; w++) EXPECT_EQ(job.stops[w], 1) << "worker " << w;
        EXPECT_TRUE(job.alphaVectorOf.empty()); // no alpha phase by default
        if (size == 2) {
            EXPECT_EQ(job.sitesOf[1], std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        }
        if (size == 12) { // as many processes as sites: the last site goes to the first to answer
            EXPECT_EQ(job.sitesOf[job.firstToAnswer].back(), 12);
        }

        // One line of every kind per message, the first sites' before any answer.
        ASSERT_GE(out.size(), 1u + first);
        EXPECT_EQ(out[0], "server: node7 is running, rank: 0");
        for (int n = 1; n <= first; n++)
            EXPECT_EQ(out[n], "server: node7 send message for site " + std::to_string(n));
        int received = 0, sentLater = 0;
        for (const std::string& line : out) {
            received += line.rfind("server: node7 receive message from ", 0) == 0;
            sentLater += line.rfind("server: node7 send message to ", 0) == 0;
        }
        EXPECT_EQ(received, 12);
        EXPECT_EQ(sentLater, 12 - first);

        // Every record reaches the summary on standard output and in the result file, and
        // site 1's values 1..100 stand before the final tables.
        std::vector<std::string> tables = lines(result);
        for (int s = 1; s <= 12; s++) {
            EXPECT_TRUE(contains(out, summaryLine(s))) << "site " << s;
            EXPECT_TRUE(contains(tables, summaryLine(s))) << "site " << s;
        }
        ASSERT_GE(tables.size(), 101u);
        EXPECT_EQ(tables[tables.size() - 100 - 1], "Entropy for each site");
        auto summary =
            std::find(tables.begin(), tables.end(), "site   entropy     avgEntropy  logL  avgLogL");
        ASSERT_GE(summary - tables.begin(), 100);
        EXPECT_EQ(*(summary - 100), "    1.001000");
        EXPECT_EQ(*(summary - 1), "    1.100000");
    }
}

// With two workers answering in a fixed order the whole of the master's standard output is known.
TEST(MasterLoop, TheMastersLinesFollowTheMessagesInOrder) {
    std::string resultPath = prepareFixture("sites12");
    FakeJob job;
    std::string result;
    std::string out = runMaster(job, 2, resultPath, &result);
    std::string expected = "server: node7 is running, rank: 0\nserver: node7 send message for site 1\n";
    for (int s = 1; s <= 12; s++) {
        expected += "server: node7 receive message from 1\n" + summaryLine(s) + "\n";
        if (s < 12) expected += "server: node7 send message to 1 for site " + std::to_string(s + 1) + "\n";
    }
    EXPECT_EQ(out, expected);
}

// Each alpha phase ends with the adopted values in the master's alfa and in the vector sent to
// every worker, site 0 carrying 0, and the phase's tables ahead of the final ones.
TEST(MasterLoop, AnAlphaPhaseSendsTheAdoptedValuesToEveryWorker) {
    struct Case {
        const char* option;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"-O", {"result from optimizing alpha", "result from optimizing alpha"}},
        {"-M", {"result from optimizing alpha", "result from optimizing alpha based on simulation"}},
        {"-V", {"result from optimizing alpha based on simulation"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        std::string resultPath = prepareFixture("sites12", {c.option});
        std::string before = fileText(resultPath);
        std::vector<double> rate(alfa, alfa + seqLength + 1);
        FakeJob job(7);
        std::string result;
        std::vector<std::string> out = lines(runMaster(job, 5, resultPath, &result));

        ASSERT_EQ(job.alphaVectorOf.size(), 4u);
        for (const auto& [worker, v] : job.alphaVectorOf) {
            ASSERT_EQ(v.size(), 13u) << "worker " << worker;
            EXPECT_EQ(v[0], 0.0);
            for (int s = 1; s <= 12; s++) EXPECT_EQ(v[s], alfa[s]) << "worker " << worker << " site " << s;
        }
        char line[200];
        for (int s = 1; s <= 12; s++) {
            std::snprintf(line, sizeof line, "site: %3d original alpha: %10.6f optimized alpha: %10.6f", s,
                          rate[s], FakeJob::resultValue(s, 0));
            EXPECT_TRUE(contains(out, line)) << "site " << s;
        }
        // Without the clipping of -O and -M every value is adopted as received.
        if (c.titles.size() == 1) {
            for (int s = 1; s <= 12; s++) EXPECT_EQ(alfa[s], FakeJob::resultValue(s, 0));
        }

        std::vector<std::string> tables = lines(result);
        std::vector<std::string> titles;
        for (const std::string& l : tables)
            if (l.rfind("result from optimizing alpha", 0) == 0) titles.push_back(l);
        EXPECT_EQ(titles, c.titles);
        size_t last = tables.rend() - std::find(tables.rbegin(), tables.rend(), c.titles.back()) - 1;
        ASSERT_LT(last + 12, tables.size());
        std::snprintf(line, sizeof line, "site: %3d original alpha: %10.6f optimized alpha: %10.6f", 12,
                      rate[12], alfa[12]);
        EXPECT_EQ(tables[last + 12], line);
        EXPECT_EQ(tables[last + 13], "    1.001000"); // site 1's record follows
        EXPECT_EQ(result.compare(0, before.size(), before), 0) << "the preparation's tables come first";
    }
}

TEST(WorkerLoop, AWorkerAnswersEachSiteUnderItsTagAndAdoptsTheAlphaVector) {
    prepareFixture("sites12", {"-O"});
    std::vector<double> v(13, 0.0);
    for (int s = 1; s <= 12; s++) v[s] = 0.5 + s / 8.0;
    double expected[2] = {mlAlphaSite(1), mlAlphaSite(4)};
    std::vector<double> record(SITE_RECORD_SIZE);

    jobRank = 2;
    FakeJob job;
    job.sitesToHandOut = {1, 4};
    job.alphaVector = v;
    testing::internal::CaptureStdout();
    cal_Tree(job); // the alpha phase answers 1 and 4; the final phase meets its stop at once
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(job.results.size(), 2u);
    EXPECT_EQ(job.results[0].first, 1);
    EXPECT_EQ(job.results[0].second, std::vector<double>({expected[0]}));
    EXPECT_EQ(job.results[1].first, 4);
    EXPECT_EQ(job.results[1].second, std::vector<double>({expected[1]}));
    for (int s = 1; s <= 12; s++) EXPECT_EQ(alfa[s], v[s]) << "site " << s;
    EXPECT_EQ(out, "processor: node7 rank:2 is running\n"
                   "processor: node7 receive message for site 0 status tag: 0\n");

    // A worker beyond the sites works on none but still takes the alpha vector.
    jobRank = 13;
    FakeJob idle;
    idle.sitesToHandOut = {1};
    idle.alphaVector = std::vector<double>(13, 0.25);
    testing::internal::CaptureStdout();
    cal_Tree(idle);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "processor: node7 rank:13 is running\n");
    EXPECT_TRUE(idle.results.empty());
    EXPECT_EQ(idle.sitesToHandOut.size(), 1u);
    EXPECT_EQ(alfa[12], 0.25);

    // In the final phase every record goes back under its site, as the worker's own work
    // on that site makes it.
    prepareFixture("sites12");
    jobRank = 1;
    FakeJob finalPhase;
    finalPhase.sitesToHandOut = {2, 5};
    testing::internal::CaptureStdout();
    cal_Tree(finalPhase);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(finalPhase.results.size(), 2u);
    for (int k : {0, 1}) {
        int site = finalPhase.results[k].first;
        EXPECT_EQ(site, k == 0 ? 2 : 5);
        finalSiteWork(site, record.data());
        EXPECT_EQ(finalPhase.results[k].second, record) << "site " << site;
    }
}
