// The bundled example as the benchmarks of the site phases start from it, and the figures
// that make their timings comparable on a shared machine.
#ifndef BENCH_EXAMPLE_JOB_H
#define BENCH_EXAMPLE_JOB_H

#include "vantrel.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace benchsupport {

// Runs work with standard output sent to nowhere: progress lines would bury the figures.
template <typename Work> void quietly(Work work) {
    std::fflush(stdout);
    int kept = dup(STDOUT_FILENO);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    work();
    std::fflush(stdout);
    dup2(kept, STDOUT_FILENO);
    close(quiet);
    close(kept);
}

// The start-up of a job on the bundled example, default options, result table to nowhere.
inline void prepareExample() {
    std::string examples = std::string(SOURCE_DIR) + "/examples/";
    std::vector<std::string> words = {
        "dadiverur", "-i",       examples + "pkinase.aln", "-t", examples + "pkinase_fasttree.tre",
        "-o",        "/dev/null"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    quietly([&] { main_function(static_cast<int>(argv.size()), argv.data()); });
}

inline std::string loadAverage() {
    char text[128] = "unknown\n";
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(text, sizeof text, f)) std::snprintf(text, sizeof text, "unknown\n");
        std::fclose(f);
    }
    return text;
}

// The processor time of this thread, which time slices given to other jobs of a shared
// machine do not inflate as they do the wall-clock time.
inline double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

} // namespace benchsupport

#endif
