// Reading an input file one line at a time, as the alignment, tree and root-probability readers
// do, with one notion of a line and of a file that is no input at all.
#ifndef CORE_LINEREADER_H
#define CORE_LINEREADER_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// The longest line a reader takes, and the longest tree text: far beyond any alignment or tree
// a job can compute with, yet small enough for every process of a job to hold. A file that
// reaches it is no input (a binary file, a device without end).
constexpr std::size_t MAX_LINE_LENGTH = std::size_t(1) << 25;

// A fault of an input file at a line (0: at the end of the file), in words for its reader's
// message. The readers throw it; readInput reports it.
struct InputFault {
    long line;
    std::string what;
};

struct LineReader {
    // The reader's message for a fault of its file at a line, naming the file and the line.
    using Message = std::string (*)(const char* path, long line, const std::string& what);

    LineReader(FILE* file, const char* path, Message message) : file(file), path(path), message(message) {}

    FILE* file;
    const char* path;
    Message message;
    long number = 0;  // lines read so far: the number of the line in text
    std::string text; // the line without its line end
};

// Reads the next line into r.text; false at the end of the file. A line ends at "\n", "\r\n",
// a bare "\r" (as old Mac files end their lines) or the end of the file; a UTF-8 byte-order
// mark at the start of the file is dropped. A NUL byte, a line
// longer than MAX_LINE_LENGTH and a failed read are faults of the line.
bool nextLine(LineReader& r);

// Runs read, which reads r's file. An InputFault ends the job with r's message, once, as every
// process meets it alike. Memory running out (std::bad_alloc) ends this process with one
// message that says so, naming the file and the line reached: processes need not run out alike.
void readInput(LineReader& r, const std::function<void()>& read);

// A field that reads whole as a decimal number: digits with an optional sign, decimal point
// and exponent. strtod takes more (hexadecimal, "inf", "nan", a number followed by anything),
// which no input of this program holds.
bool isDecimalNumber(const std::string& field);

#endif
