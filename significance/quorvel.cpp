#include "quorvel.h"

#include "betai.h"
#include "erfcc.h"
#include "fit.h"
#include "nrutil.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <utility>
#include <vector>

std::string originFile, mutationFile, alphaFile, probFile, funcFile;
int betaFlag = 0, weightFlag = 0, ratioFlag = 0;
double regression = 1.0;

int seqLength = 0;
int replicates = 0;
double *Cn, *ndProb, *alpha, *avgCd, *sigmaCd, *avgCexp, *sigmaCexp;
double *pvalue_origin, *pvalue_fit, *prob1;
int *funcFlag, *siteIndex;
double **Cd, **Cexp;

namespace {

// A problem that ends the run: its message goes to stream, then the run ends with status 1.
// Most go to standard error; the few that the program has always told on standard output
// (a named input that does not open, a probability file too long, the usage) stay there.
[[noreturn]] void vfailOn(std::FILE* stream, const char* format, std::va_list args) {
    std::vfprintf(stream, format, args);
    std::exit(1);
}

[[noreturn]] void failOn(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vfailOn(stream, format, args);
}

// An input or output problem, told on standard error.
[[noreturn]] void fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vfailOn(stderr, format, args);
}

// An open input file, with what it is and its path for messages and the number of the line
// last read.
struct Input {
    std::FILE* f;
    const char* kind;
    const std::string& path;
    int line = 0;
};

// The UTF-8 byte-order mark that Windows editors put in front of a text file.
const std::string BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// The next line of the input, of any length, ending in one newline; false at the end. A line
// ends at "\n", "\r\n" or a bare "\r" (old Mac files), and a last line without its end gets one,
// so that a final one-character value such as "7" is not lost. A byte-order mark before the first
// line is no part of it, so a file that holds only the mark is empty. A NUL character ends the
// run: no text file of values holds one, and a device such as /dev/zero or /dev/urandom would
// otherwise be read until memory runs out. A read error is not taken for the end of the file.
bool nextLine(Input& in, std::string& line) {
    line.clear();
    int ch;
    while ((ch = std::getc(in.f)) != EOF) {
        if (ch == '\0')
            fail("%s file: %s, line %d: holds a NUL character; this is not a text file of values\n", in.kind,
                 in.path.c_str(), in.line + 1);
        if (ch == '\r') {
            int next = std::getc(in.f);
            if (next != '\n' && next != EOF) std::ungetc(next, in.f);
            ch = '\n';
        }
        line.push_back(static_cast<char>(ch));
        if (ch == '\n') break;
    }
    if (std::ferror(in.f))
        fail("%s file: %s, line %d: can not be read (%s)\n", in.kind, in.path.c_str(), in.line + 1,
             std::strerror(errno));
    if (in.line == 0 && line.compare(0, BYTE_ORDER_MARK.size(), BYTE_ORDER_MARK) == 0)
        line.erase(0, BYTE_ORDER_MARK.size());
    if (line.empty()) return false;
    if (line.back() != '\n') line.push_back('\n');
    in.line++;
    return true;
}

// A line that carries a value: more than one character (counting its newline) and at least
// one letter or digit.
bool qualifies(const std::string& line) {
    if (line.size() <= 1) return false;
    for (char ch : line)
        if (std::isalnum(static_cast<unsigned char>(ch))) return true;
    return false;
}

// Every line of in, read to the end and closed before any line is taken for a value, so that a
// file that is not text (a NUL character) is named as such rather than by its first odd line.
std::vector<std::string> allLines(Input& in) {
    std::vector<std::string> lines;
    std::string line;
    while (nextLine(in, line)) lines.push_back(line);
    std::fclose(in.f);
    return lines;
}

// Hands take every line of in that carries a value, with in.line set to its number.
template <typename Take> void forEachValueLine(Input& in, Take take) {
    std::vector<std::string> lines = allLines(in);
    for (size_t i = 0; i < lines.size(); i++)
        if (qualifies(lines[i])) {
            in.line = static_cast<int>(i) + 1;
            take(lines[i]);
        }
}

// A text as a message shows it: the characters that a terminal does not show as themselves are
// written as escapes (\n, \t, \r, \xNN), quotes and backslashes escaped, so that it is unmistakable.
std::string escaped(const std::string& text) {
    std::string result;
    for (char ch : text) {
        unsigned char byte = static_cast<unsigned char>(ch);
        if (ch == '\n') {
            result += "\\n";
        } else if (ch == '\t') {
            result += "\\t";
        } else if (ch == '\r') {
            result += "\\r";
        } else if (ch == '"' || ch == '\\') {
            result += {'\\', ch};
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            result += code;
        } else {
            result += ch;
        }
    }
    return result;
}

std::string quoted(const std::string& text) {
    return "\"" + escaped(text) + "\"";
}

// A field that is not what its file needs ends the run, naming the file, the line, the place
// within the line (where) and the field as found.
[[noreturn]] void badField(const Input& in, const std::string& where, const std::string& field,
                           const char* fault) {
    fail("%s file: %s, line %d%s: %s %s\n", in.kind, in.path.c_str(), in.line, where.c_str(),
         quoted(field).c_str(), fault);
}

// The fields of a line of in, between blanks and newlines; white space at a field's ends is no
// part of it ("1.5\t" at the end of a line is the field "1.5"). A tab inside a field is refused as
// such: it would join two values into one field, "1.5\t2.5", and be taken for a number that is
// malformed or for a line short of values.
std::vector<std::string> fields(const Input& in, const std::string& line) {
    std::vector<std::string> result;
    auto keep = [&](std::string word) {
        auto blank = [](unsigned char ch) { return std::isspace(ch) != 0; };
        while (!word.empty() && blank(word.back())) word.pop_back();
        size_t first = 0;
        while (first < word.size() && blank(word[first])) first++;
        if (first < word.size()) result.push_back(word.substr(first));
    };
    std::string word;
    for (char ch : line) {
        if (ch == ' ' || ch == '\n') {
            keep(word);
            word.clear();
        } else {
            word.push_back(ch);
        }
    }
    keep(word);
    for (const std::string& field : result)
        if (field.find('\t') != std::string::npos)
            badField(in, "", field,
                     "holds a tab; the values of a line are separated by blanks, a tab is not a separator");
    return result;
}

// The number that a field holds, read completely. quorvel never sets a locale, so strtod reads
// in the C locale, where "-12,5" or a Unicode minus is no number. The tables are decimal: strtod
// would read "0x10" as 16, so a hexadecimal field is no number either. A value that is not finite
// (nan, inf, or beyond the range of a double) is refused as well: every mean, deviation and
// probability of its site would be undefined.
double fieldValue(const Input& in, const std::string& field, const std::string& where = "") {
    const char* text = field.c_str();
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || field.find_first_of("xX") != std::string::npos)
        badField(in, where, field, "is not a number");
    if (!std::isfinite(value)) badField(in, where, field, "is not a finite number");
    return value;
}

// The value of a line in a file of one value per line.
double lineValue(const Input& in, const std::string& line) {
    std::vector<std::string> values = fields(in, line);
    if (values.size() != 1)
        fail("%s file: %s, line %d: %s holds %zu values; one value per line is needed\n", in.kind,
             in.path.c_str(), in.line, quoted(line.substr(0, line.size() - 1)).c_str(), values.size());
    return fieldValue(in, values[0]);
}

// Opens an input file the user named; one that cannot be opened ends the run.
std::FILE* openNamed(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) failOn(stdout, "can not open file: %s to read\n", path.c_str());
    return f;
}

// A value at the current line of in for no site of the origin file: the input's kind and
// path, the line, the sites.
constexpr const char* BEYOND_SITES =
    "%s file: %s, line %d: a value beyond the %d sites of the origin file (one per site)\n";

void printUsage() {
    std::printf("Usage: quorvel [-R] [-L] -O originLog(L)File -M mutationLog(L)File [-A alphaFile] [-P "
                "prob(normal distribution)File] [-F funcFile]\n"
                "-R not use regression mode\n"
                "-L use maximal likelihood regression, default: linear regression\n"
                "-B use beta distribution to calculate the probability, default use normal distribution\n");
}

// The usage text, then the one line that says what is wrong with the command line.
[[noreturn]] void refuseCommandLine(const std::string& reason) {
    printUsage();
    std::fflush(stdout);
    failOn(stderr, "quorvel: %s\n", reason.c_str());
}

// A command-line word as a message names it: as typed, or quoted and escaped when it is empty or
// holds a blank or a character that does not show, so that "" or "-O\n" is not read as nothing
// or as -O.
std::string shownWord(const std::string& word) {
    bool plain = !word.empty() && word.find(' ') == std::string::npos && escaped(word) == word;
    return plain ? word : quoted(word);
}

} // namespace

void usage() {
    printUsage();
    std::exit(1);
}

void readOptions(int argc, char** argv) {
    originFile = mutationFile = alphaFile = probFile = funcFile = "";
    betaFlag = weightFlag = ratioFlag = 0;
    regression = 1.0;
    // A bare "quorvel" asks for the usage; there is nothing wrong to name.
    if (argc < 2) usage();
    for (int i = 1; i < argc; i++) {
        const char* word = argv[i];
        if (word[0] != '-') refuseCommandLine(shownWord(word) + " is not an option");
        std::string* path = nullptr;
        switch (word[1]) {
        case 'O':
            path = &originFile;
            break;
        case 'M':
            path = &mutationFile;
            break;
        case 'A':
            path = &alphaFile;
            break;
        case 'P':
            path = &probFile;
            break;
        case 'F':
            path = &funcFile;
            break;
        case 'R':
            regression = 0.0;
            break;
        case 'L':
            weightFlag = 1;
            break;
        case 'B':
            betaFlag = 1;
            break;
        case 'r':
            ratioFlag = 1;
            break;
        default:
            refuseCommandLine(shownWord(word) + " is not an option");
        }
        if (path) {
            if (i + 1 >= argc) refuseCommandLine(shownWord(word) + " needs a value");
            *path = argv[++i];
        }
    }
}

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code unknown;
    return a == b || std::filesystem::equivalent(a, b, unknown);
}

} // namespace

void checkOutputPaths() {
    const struct {
        const char* kind;
        const std::string& path;
    } inputs[] = {{"origin", originFile},
                  {"mutation", mutationFile},
                  {"alpha", alphaFile},
                  {"probability", probFile},
                  {"function-site", funcFile}};
    const struct {
        const char* kind;
        std::string path;
    } outputs[] = {{"rank", originFile + ".rank"}, {"p-value", originFile + ".pvalue"}};
    for (const auto& out : outputs)
        for (const auto& in : inputs)
            if (!in.path.empty() && sameFile(out.path, in.path))
                fail("the %s file %s would overwrite the %s file %s (the outputs are named after the origin "
                     "file)\n",
                     out.kind, out.path.c_str(), in.kind, in.path.c_str());
}

void readOrigin() {
    Input in{openNamed(originFile), "origin", originFile};
    std::vector<double> values;
    forEachValueLine(in, [&](const std::string& line) { values.push_back(lineValue(in, line)); });
    if (values.empty())
        fail("origin file: %s holds no values (one per site is needed)\n", originFile.c_str());

    seqLength = static_cast<int>(values.size());
    int n = seqLength;
    for (double** v :
         {&Cn, &ndProb, &alpha, &avgCd, &sigmaCd, &avgCexp, &sigmaCexp, &pvalue_origin, &pvalue_fit, &prob1})
        *v = dvector(1, n);
    funcFlag = ivector(1, n);
    siteIndex = ivector(1, n);
    for (int i = 1; i <= n; i++) {
        Cn[i] = values[i - 1];
        siteIndex[i] = i;
    }
    std::printf("After reading original Z-score file, seqlength: %d\n", n);
}

void readProb() {
    for (int i = 1; i <= seqLength; i++) ndProb[i] = 1.0;
    if (probFile.empty()) return;
    Input in{openNamed(probFile), "probability", probFile};
    int k = 0;
    // The probabilities are only shown, and a file may stop short: the sites after its last
    // value keep 1.0.
    forEachValueLine(in, [&](const std::string& line) {
        if (++k > seqLength) {
            std::fprintf(stderr, BEYOND_SITES, in.kind, in.path.c_str(), in.line, seqLength);
            failOn(stdout, "row number is wrong in file: %s\n", probFile.c_str());
        }
        ndProb[k] = lineValue(in, line);
    });
}

namespace {

// The site number that a field of the function-site file holds, read completely.
long siteNumber(const Input& in, const std::string& field) {
    const char* text = field.c_str();
    char* end = nullptr;
    long site = std::strtol(text, &end, 10);
    if (end == text || *end != '\0') badField(in, "", field, "is not a whole site number");
    return site;
}

} // namespace

void readFunc() {
    for (int i = 1; i <= seqLength; i++) funcFlag[i] = 0;
    if (funcFile.empty()) return;
    // Only the first line ("cutoff5:" and its sites) marks functional sites.
    Input in{openNamed(funcFile), "function-site", funcFile};
    std::string line;
    nextLine(in, line);
    std::fclose(in.f);
    for (const std::string& word : fields(in, line)) {
        if (word == "cutoff5:") continue;
        long site = siteNumber(in, word);
        if (site < 1 || site > seqLength) {
            std::fprintf(stderr,
                         "warning: functional site \"%s\" in file: %s is not a site number 1..%d; ignored\n",
                         word.c_str(), funcFile.c_str(), seqLength);
            continue;
        }
        funcFlag[site] = 1;
    }
}

void readAlpha() {
    if (alphaFile.empty()) {
        // No alpha file is no fault: the notice names the empty path, and the default 1.01,
        // not 1, keeps every site through the filter (an alpha of exactly 1 marks a site
        // whose rate was not estimated).
        std::printf("can not open file: %s\n", alphaFile.c_str());
        for (int i = 1; i <= seqLength; i++) alpha[i] = 1.01;
        return;
    }
    // Line i holds the alpha of site i, so a blank line among them is an error, not a gap to
    // skip; a file too short is named by its length before any of its values.
    Input in{openNamed(alphaFile), "alpha", alphaFile};
    std::vector<std::string> lines = allLines(in);
    int count = static_cast<int>(lines.size());
    if (count < seqLength)
        fail("alpha file: %s has %d lines but the origin file has %d sites (one alpha per site)\n",
             alphaFile.c_str(), count, seqLength);
    for (int i = 1; i <= count; i++) {
        in.line = i;
        if (i <= seqLength) {
            alpha[i] = lineValue(in, lines[i - 1]);
        } else if (qualifies(lines[i - 1])) {
            fail(BEYOND_SITES, in.kind, in.path.c_str(), in.line, seqLength);
        }
    }
}

void printInput() {
    std::printf("site origin log<L>    alpha     prob<normal distribution>\n");
    for (int i = 1; i <= seqLength; i++)
        std::printf("%4d %12.6f   %12.6f    %12.6e\n", i, Cn[i], alpha[i], ndProb[i]);
}

namespace {

// The values of replicate r, exactly one per site. A line too short for the sites is refused
// by its count at once (a title line left in is one); in a longer line the sites' values are
// read first, so that a bad value among them is named at its site.
std::vector<double> replicateValues(const Input& in, const std::string& line, int r) {
    std::vector<std::string> words = fields(in, line);
    auto refuseCount = [&]() {
        fail("mutation file: %s, line %d: replicate %d has %zu values, expected %d (one per site of the "
             "origin file)\n",
             mutationFile.c_str(), in.line, r, words.size(), seqLength);
    };
    if (static_cast<long>(words.size()) < seqLength) refuseCount();
    std::vector<double> values;
    for (int c = 1; c <= seqLength; c++)
        values.push_back(fieldValue(in, words[c - 1], ", site " + std::to_string(c)));
    if (static_cast<long>(words.size()) > seqLength) refuseCount();
    return values;
}

} // namespace

void readMutation() {
    std::FILE* f = std::fopen(mutationFile.c_str(), "r");
    if (!f) failOn(stdout, "can not open file: %s\n", mutationFile.c_str());
    // One pass, so that the replicates may come through a pipe.
    Input in{f, "mutation", mutationFile};
    std::vector<std::vector<double>> rows;
    forEachValueLine(in, [&](const std::string& line) {
        rows.push_back(replicateValues(in, line, static_cast<int>(rows.size()) + 1));
    });
    replicates = static_cast<int>(rows.size());
    // The sample deviation of the replicates divides by one less than their number.
    if (replicates < 2)
        fail("mutation file: %s holds %d replicates; at least two are needed\n", mutationFile.c_str(),
             replicates);
    Cd = dmatrix(1, seqLength, 1, replicates);
    Cexp = dmatrix(1, seqLength, 1, replicates);
    for (int r = 1; r <= replicates; r++)
        for (int c = 1; c <= seqLength; c++) Cd[c][r] = rows[r - 1][c - 1];
}

void rowMoments(double** values, double* avg, double* sigma, const char* what) {
    int m = replicates;
    for (int i = 1; i <= seqLength; i++) {
        double sum = 0.0;
        for (int j = 1; j <= m; j++) sum += values[i][j] / m;
        avg[i] = sum;
        double squares = 0.0;
        for (int j = 1; j <= m; j++) squares += (values[i][j] - avg[i]) * (values[i][j] - avg[i]) / (m - 1);
        sigma[i] = std::sqrt(squares);
        // Values near the limit of a double (1e308) overflow their squares; the site is refused
        // rather than computed otherwise, so that every other site keeps its exact moments.
        if (!std::isfinite(avg[i]) || !std::isfinite(sigma[i]))
            fail("site %d: the mean or deviation of its %s is beyond the range of a double\n", siteIndex[i],
                 what);
    }
}

void ratioCut() {
    std::vector<double> ratio(seqLength + 1, 0.0);
    for (int i = 1; i <= seqLength; i++) {
        ratio[i] = std::fabs(Cn[i]) > 1e-8 ? avgCd[i] / Cn[i] : 0.0;
        if (!std::isfinite(ratio[i]))
            fail("site %d: its ratio avgCd/Cn = %g/%g is beyond the range of a double\n", i, avgCd[i], Cn[i]);
        std::printf("i:%4d ratio:%f avgCd:%f Cn:%f\n", i, ratio[i], avgCd[i], Cn[i]);
    }
    auto counted = [&](int i) { return ratio[i] > 1e-8 && std::fabs(ratio[i] - 1.0) > 1e-8; };
    int count = 0;
    double sum = 0.0;
    for (int i = 1; i <= seqLength; i++)
        if (counted(i)) {
            sum += ratio[i];
            count++;
        }
    // An empty set has mean 0 and one site deviation 0; with fewer than two sites no cut is made.
    double avgRatio = count > 0 ? sum / count : 0.0;
    double squares = 0.0;
    for (int i = 1; i <= seqLength; i++)
        if (counted(i)) squares += (ratio[i] - avgRatio) * (ratio[i] - avgRatio);
    double sigmaRatio = count > 1 ? std::sqrt(squares / (count - 1)) : 0.0;
    if (!std::isfinite(avgRatio) || !std::isfinite(sigmaRatio))
        fail("the mean or deviation of the sites' ratios avgCd/Cn is beyond the range of a double\n");
    std::printf("avgRatio:%f  sigmaRatio:%f ratioLength:%d\n", avgRatio, sigmaRatio, count);
    if (count < 2) return;
    for (int i = 1; i <= seqLength; i++)
        if (ratio[i] < avgRatio - sigmaRatio) alpha[i] = 0.0;
}

namespace {

bool carriesNoInformation(int i) {
    return std::fabs(alpha[i] - 1.0) < 1e-8 || alpha[i] < 1e-8 || sigmaCd[i] < 1e-8 ||
           std::fabs(Cn[i] - avgCd[i]) < 1e-10;
}

void removeSite(int i) {
    for (int k = i; k < seqLength; k++) {
        siteIndex[k] = siteIndex[k + 1];
        alpha[k] = alpha[k + 1];
        ndProb[k] = ndProb[k + 1];
        Cn[k] = Cn[k + 1];
        avgCd[k] = avgCd[k + 1];
        sigmaCd[k] = sigmaCd[k + 1];
        funcFlag[k] = funcFlag[k + 1];
        for (int j = 1; j <= replicates; j++) Cd[k][j] = Cd[k + 1][j];
    }
    seqLength--;
}

void printSiteRow(int i) {
    std::printf("%3d %12.4f %12.4f %12.4f %1d\n", siteIndex[i], Cn[i], avgCd[i], alpha[i], funcFlag[i]);
}

} // namespace

void filterSites() {
    int i = 1;
    while (i <= seqLength) {
        if (carriesNoInformation(i))
            removeSite(i);
        else
            i++;
    }
    if (seqLength == 0)
        fail("no site is left: every site has an alpha of 1 or below 1e-8, replicates without spread, or a "
             "Cn equal to their mean\n");
}

void printSites() {
    std::printf("seqLength: %d\n", seqLength);
    std::printf("site      Cn      avgCd    alpha     F\n");
    for (int i = 1; i <= seqLength; i++) printSiteRow(i);
    std::printf("\nFunctional site\n");
    for (int i = 1; i <= seqLength; i++)
        if (funcFlag[i] == 1) printSiteRow(i);
}

namespace {

// Why the sites cannot carry a straight line with its errors, or nullptr.
const char* unfitSites(const float* x, int n) {
    if (n < 2) return "fewer than two sites";
    if (n < 3) return "two sites leave its errors undefined; it needs three";
    bool allEqual = true;
    for (int i = 2; i <= n; i++)
        if (x[i] != x[1]) allEqual = false;
    if (allEqual) return "all x values are equal";
    return nullptr;
}

} // namespace

void fitLine(double* slope, double* intercept) {
    int n = seqLength;
    float* x = vector(1, n);
    float* y = vector(1, n);
    float* sig = vector(1, n);
    for (int i = 1; i <= n; i++) {
        x[i] = static_cast<float>(weightFlag ? Cn[i] : avgCd[i]);
        y[i] = static_cast<float>(weightFlag ? avgCd[i] : Cn[i]);
        sig[i] = static_cast<float>(sigmaCd[i]);
    }
    // The goodness of a weighted fit over fewer than three sites ends the run in gammq with its
    // own lines; the fit is made all the same, after a line that says why it will stop.
    bool fewForWeights = weightFlag && n < 3;
    if (fewForWeights)
        std::fprintf(stderr, "-L needs at least three sites for the goodness of its weighted fit; %d left\n",
                     n);
    const char* fault = fewForWeights ? nullptr : unfitSites(x, n);
    float a = 0.0f, b = 0.0f, siga = 0.0f, sigb = 0.0f, chi2 = 0.0f, q = 0.0f;
    if (!fault) {
        fit(x, y, n, sig, weightFlag, &a, &b, &siga, &sigb, &chi2, &q);
        for (float v : {a, b, siga, sigb, chi2, q})
            if (!std::isfinite(v)) fault = "its results are beyond single precision";
    }
    // Under -R the line is only shown, so a slope of 0 does no harm there.
    if (!fault && regression != 0.0 && b == 0.0f) fault = "the slope is 0";
    if (fault && regression != 0.0)
        fail("can not map the replicates onto the observed values: the straight-line fit over %d sites is "
             "degenerate (%s); -R runs without the fit\n",
             n, fault);
    if (fault)
        std::printf("no straight-line fit over %d sites (%s); -R does not use it\n", n, fault);
    else
        std::printf("b:%f a:%f siga: %f sigb: %f chi2: %f q: %f\n", b, a, siga, sigb, chi2, q);

    if (regression == 0.0) {
        *slope = 1.0;
        *intercept = 0.0;
    } else {
        // The weighted fit gives avgCd = a + b Cn; its exact inverse maps a replicate onto Cn.
        *slope = weightFlag ? 1.0 / b : b;
        *intercept = weightFlag ? -static_cast<double>(a) / b : a;
    }
    std::printf("\nalpha: %12.6f  and beta: %12.6f\n", *slope, *intercept);
    free_vector(sig, 1, n);
    free_vector(y, 1, n);
    free_vector(x, 1, n);
}

void transformReplicates(double slope, double intercept) {
    for (int i = 1; i <= seqLength; i++)
        for (int j = 1; j <= replicates; j++) Cexp[i][j] = Cd[i][j] * slope + intercept;
    rowMoments(Cexp, avgCexp, sigmaCexp, "transformed replicates");
    // Rounding in the transform can merge a site's replicates; no probability follows from them.
    for (int i = 1; i <= seqLength; i++)
        if (sigmaCexp[i] == 0.0)
            fail("site %d: the fit maps all its replicates onto one value, so its probability is not "
                 "defined\n",
                 siteIndex[i]);
}

void calPvalues() {
    std::printf("pvalue from experiment\n");
    std::printf("site pvalue_origin pvalue_fit\n");
    for (int i = 1; i <= seqLength; i++) {
        int above = 0, aboveFit = 0;
        for (int j = 1; j <= replicates; j++) {
            if (Cd[i][j] > Cn[i]) above++;
            if (Cexp[i][j] > Cn[i]) aboveFit++;
        }
        pvalue_origin[i] = static_cast<double>(above) / replicates;
        pvalue_fit[i] = static_cast<double>(aboveFit) / replicates;
        std::printf("%4d      %8.6f     %8.6f\n", siteIndex[i], pvalue_origin[i], pvalue_fit[i]);
    }
}

namespace {

double betaTail(int i) {
    double mu = avgCexp[i], var = sigmaCexp[i] * sigmaCexp[i];
    double sA = mu * ((mu - mu * mu) / var - 1.0);
    double sB = (1.0 / mu - 1.0) * sA;
    // Moments fit a beta distribution only for a mean inside (0, 1) and a variance below mu (1 - mu);
    // outside, the shapes shown for site 15 would not be numbers.
    if (!(mu > 0.0 && mu < 1.0 && var > 0.0 && var < mu * (1.0 - mu)))
        fail("site %d: the replicates' mean %g and variance %g give no beta distribution (the mean must lie "
             "in (0, 1) and the variance below mean*(1-mean))\n",
             siteIndex[i], mu, var);
    // A trace of one fixed site, part of the program's output; the values are the transformed
    // ones whatever the labels say.
    if (siteIndex[i] == 15)
        std::printf("site 15, its Cn:%10.6f avgCd:%10.6f sigmaCd:%10.6f alpha: %10.6f beta:%10.6f\n", Cn[i],
                    avgCexp[i], sigmaCexp[i], sA, sB);
    // betai ends the run on such a value with its own lines; say first which site broke it.
    if (Cn[i] < 0.0 || Cn[i] > 1.0)
        std::fprintf(
            stderr, "-B needs every origin value within 0..1, the range of a beta variable; site %d has %g\n",
            siteIndex[i], Cn[i]);
    return 1.0 - betai(sA, sB, Cn[i]);
}

} // namespace

void calProb() {
    for (int i = 1; i <= seqLength; i++) {
        if (betaFlag) {
            prob1[i] = betaTail(i);
        } else {
            double z = (Cn[i] - avgCexp[i]) / sigmaCexp[i];
            prob1[i] = 0.5 * erfcc(z / 1.4142135623730951);
        }
    }
}

double** rankSites() {
    int n = seqLength;
    double** rank = dmatrix(1, n, 1, 3);
    for (int k = 1; k <= n; k++) {
        rank[k][1] = k;
        rank[k][2] = prob1[k];
        rank[k][3] = funcFlag[k];
    }
    for (int i = 1; i <= n - 1; i++)
        for (int j = i + 1; j <= n; j++)
            if (rank[i][2] > rank[j][2])
                for (int c = 1; c <= 3; c++) std::swap(rank[i][c], rank[j][c]);
    return rank;
}

namespace {

int rankedSite(double** rank, int r) {
    return static_cast<int>(rank[r][1] + 1e-8);
}

} // namespace

void printRank(double** rank) {
    std::printf("\n\nsite    prob1  Likelihood   avg_likelihood avg_exp_logL func:Y/N  alpha   sigmaCd   "
                "sigmaCexp ndProb\n");
    for (int r = 1; r <= seqLength; r++) {
        int k = rankedSite(rank, r);
        std::printf("%4d %12.6e %12.6f %12.6f %12.6f %6.0f %8.5f %10.6f %10.6f %14.6e\n", siteIndex[k],
                    rank[r][2], Cn[k], avgCd[k], avgCexp[k], rank[r][3], alpha[k], sigmaCd[k], sigmaCexp[k],
                    ndProb[k]);
        if (r == 10) std::printf("\n");
    }
}

namespace {

// Writes one line per ranked site; a file that cannot be created or fully written ends the run.
template <typename Line> void writeRankFile(const std::string& path, Line line) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) fail("can not open file: %s to write\n", path.c_str());
    bool written = true;
    for (int r = 1; r <= seqLength; r++) written = line(f, r) >= 0 && written;
    if (std::fclose(f) != 0 || !written) fail("can not write file: %s\n", path.c_str());
}

} // namespace

void writeRank(double** rank) {
    writeRankFile(originFile + ".rank", [&](std::FILE* f, int r) {
        return std::fprintf(f, "%d\n", siteIndex[rankedSite(rank, r)]);
    });
    writeRankFile(originFile + ".pvalue",
                  [&](std::FILE* f, int r) { return std::fprintf(f, "%12.6e\n", rank[r][2]); });
}

int quorvel(int argc, char** argv) {
    readOptions(argc, argv);
    checkOutputPaths();
    readOrigin();
    readProb();
    readFunc();
    readAlpha();
    printInput();
    readMutation();
    rowMoments(Cd, avgCd, sigmaCd, "replicates");
    if (ratioFlag) ratioCut();
    filterSites();
    printSites();
    double slope, intercept;
    fitLine(&slope, &intercept);
    transformReplicates(slope, intercept);
    calPvalues();
    calProb();
    double** rank = rankSites();
    printRank(rank);
    writeRank(rank);
    // The report is as much a result as the files: a full disk must not pass for success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        fail("can not write the report to standard output\n");
    return 0;
}
