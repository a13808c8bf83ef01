#include "linereader.h"

#include "numerics/fault.h"
#include "numerics/matrixalgebra.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

// Editors on Windows write it at the start of a UTF-8 file; it is no part of the text.
const std::string BYTE_ORDER_MARK = "\xEF\xBB\xBF";

[[noreturn]] void lineFault(const LineReader& r, const std::string& what) {
    throw InputFault{r.number, what};
}

// Every process reads byte by byte; the stream is this process's alone.
int nextByte(FILE* file) {
    return getc_unlocked(file);
}

// The digits from pos on; their count.
std::size_t skipDigits(const std::string& field, std::size_t& pos) {
    std::size_t start = pos;
    while (pos < field.size() && std::isdigit(static_cast<unsigned char>(field[pos]))) pos++;
    return pos - start;
}

void skipSign(const std::string& field, std::size_t& pos) {
    if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) pos++;
}

} // namespace

bool nextLine(LineReader& r) {
    r.text.clear();
    r.number++;
    bool any = false;
    int c;
    while ((c = nextByte(r.file)) != EOF) {
        any = true;
        if (c == '\n') return true;
        if (c == '\r') {
            int after = nextByte(r.file);
            if (after != '\n' && after != EOF) std::ungetc(after, r.file);
            return true;
        }
        if (c == '\0')
            lineFault(r, "a NUL byte at column " + std::to_string(r.text.size() + 1) +
                             ": this is not a text file");
        if (r.text.size() == MAX_LINE_LENGTH)
            lineFault(r, "a line longer than " + std::to_string(MAX_LINE_LENGTH) +
                             " characters: this is not an input file");
        r.text.push_back(static_cast<char>(c));
        if (r.number == 1 && r.text == BYTE_ORDER_MARK) r.text.clear();
    }
    if (std::ferror(r.file)) lineFault(r, std::string("the file can not be read: ") + std::strerror(errno));
    if (any) return true;
    r.number--;
    return false;
}

void readInput(LineReader& r, const std::function<void()>& read) {
    try {
        read();
    } catch (const InputFault& fault) {
        sharedFault(stderr, "%s", r.message(r.path, fault.line, fault.what).c_str());
    } catch (const std::bad_alloc&) {
        std::fputs(r.message(r.path, r.number, "memory ran out while reading this file").c_str(), stderr);
        fatalExit(1);
    }
}

bool isDecimalNumber(const std::string& field) {
    std::size_t pos = 0;
    skipSign(field, pos);
    std::size_t digits = skipDigits(field, pos);
    if (pos < field.size() && field[pos] == '.') digits += skipDigits(field, ++pos);
    if (digits == 0) return false;
    if (pos < field.size() && (field[pos] == 'e' || field[pos] == 'E')) {
        skipSign(field, ++pos);
        if (skipDigits(field, pos) == 0) return false;
    }
    return pos == field.size();
}
