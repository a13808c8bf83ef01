#include "rootprob.h"

#include "alignment.h"
#include "linereader.h"
#include "model.h"
#include "numerics/fault.h"
#include "numerics/matrixalgebra.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

double** RootProbMatrix = nullptr;

namespace {

std::string rootProbMessage(const char* path, long line, const std::string& what) {
    std::string where = line > 0 ? ", line " + std::to_string(line) : "";
    return "RootProbMatrix file " + std::string(path) + where + ": " + what + "\n";
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

[[noreturn]] void badRow(const LineReader& lines, int s, const std::string& what) {
    throw InputFault{lines.number, "the row of site " + std::to_string(s) + " " + what};
}

bool isSiteNumber(const std::string& field, int s) {
    return field.find_first_not_of("0123456789") == std::string::npos &&
           std::strtol(field.c_str(), nullptr, 10) == s;
}

std::string shownSum(double sum) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", sum);
    return text;
}

// A row's probabilities sum to 10,000 units of 0.0001; rows written with rounded values come
// within a few units of it, and anything beyond 1% is not a distribution.
constexpr double ROW_SUM = 10000.0;
constexpr double ROW_SUM_TOLERANCE = 100.0;

// The site number (of the site s that is next), a letter, then the 20 probabilities in
// units of 0.0001; only the integer part of each value counts.
void readRow(const LineReader& lines, int s) {
    std::vector<std::string> fields = blankFields(lines.text);
    if (fields.size() < 22)
        badRow(lines, s, "holds " + std::to_string(fields.size()) + " fields, 22 are needed");
    if (!isSiteNumber(fields[0], s))
        badRow(lines, s,
               "begins with \"" + fields[0] + "\" where the site number " + std::to_string(s) +
                   " is needed: the rows list the sites in order, one row each");
    double sum = 0.0;
    for (int k = 1; k <= 20; k++) {
        const std::string& field = fields[k + 1];
        if (!isDecimalNumber(field)) badRow(lines, s, "holds \"" + field + "\" where a number is needed");
        double value = std::strtod(field.c_str(), nullptr);
        if (value < 0.0) badRow(lines, s, "holds the negative value " + field);
        double units = std::trunc(value);
        RootProbMatrix[s][k] = units * 0.0001;
        sum += units;
    }
    if (std::fabs(sum - ROW_SUM) > ROW_SUM_TOLERANCE)
        badRow(lines, s, "sums to " + shownSum(sum) + " units of 0.0001 instead of 10000 (within 1%)");
}

void readRows(LineReader& lines) {
    bool started = false;
    while (!started && nextLine(lines)) started = lines.text.compare(0, 4, "   1") == 0;
    if (!started) throw InputFault{0, "no row of site 1 (a line beginning \"   1\")"};
    for (int s = 1; s <= seqLength; s++) {
        if (s > 1 && !nextLine(lines))
            throw InputFault{0, "the file ends before the row of site " + std::to_string(s) +
                                    " (after line " + std::to_string(lines.number) + ")"};
        readRow(lines, s);
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
    LineReader lines{f, path, rootProbMessage};
    readInput(lines, [&lines] { readRows(lines); });
    fclose(f);
}
