#include "rootprob.h"

#include "alignment.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "vantrel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

double** RootProbMatrix = nullptr;

namespace {

// The next line without its line end; false at the end of the file.
bool nextLine(FILE* f, std::string& line) {
    line.clear();
    int ch;
    while ((ch = fgetc(f)) != EOF) {
        if (ch == '\n') return true;
        line.push_back(static_cast<char>(ch));
    }
    return !line.empty();
}

// Fields separated by blanks (a tab belongs to its field).
std::vector<std::string> blankFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t pos = 0;
    while (true) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string::npos) break;
        size_t end = line.find(' ', pos);
        fields.push_back(line.substr(pos, end - pos));
        if (end == std::string::npos) break;
        pos = end;
    }
    return fields;
}

// Every process reads the same file and meets the same fault: rank 0 reports it.
[[noreturn]] void badFile(const char* path, const std::string& what) {
    sharedFault(stderr, "RootProbMatrix file %s: %s\n", path, what.c_str());
}

// Site number, letter, then the 20 probabilities in units of 0.0001; only the integer part
// of each value counts.
void readRow(const char* path, int s, const std::string& line) {
    std::vector<std::string> fields = blankFields(line);
    if (fields.size() < 22)
        badFile(path, "the row of site " + std::to_string(s) + " holds " + std::to_string(fields.size()) +
                          " fields, 22 are needed");
    for (int k = 1; k <= 20; k++) {
        const char* text = fields[k + 1].c_str();
        char* end = nullptr;
        long value = strtol(text, &end, 10);
        if (end == text)
            badFile(path, "the row of site " + std::to_string(s) + " holds \"" + fields[k + 1] +
                              "\" where a number is needed");
        RootProbMatrix[s][k] = value * 0.0001;
    }
}

} // namespace

void readRootProbMatrix(const char* path) {
    RootProbMatrix = dmatrix(1, seqLength, 1, 20);

    FILE* f = fopen(path, "r");
    if (!f) {
        printf("can not open RootProbMatrix file: %s, use PI for each site instead\n", path);
        for (int s = 1; s <= seqLength; s++)
            for (int k = 1; k <= 20; k++) RootProbMatrix[s][k] = sitePI[s][k];
        return;
    }

    std::string line;
    bool started = false;
    while (nextLine(f, line))
        if (line.compare(0, 4, "   1") == 0) {
            started = true;
            break;
        }
    if (!started) badFile(path, "no row of site 1 (a line beginning \"   1\")");
    for (int s = 1; s <= seqLength; s++) {
        if (s > 1 && !nextLine(f, line))
            badFile(path, "the file ends before the row of site " + std::to_string(s));
        readRow(path, s, line);
    }
    fclose(f);
}
