#include "numerics/fault.h"

#include "numerics/job.h"
#include "numerics/matrixalgebra.h"

AwaitJobEndHook awaitJobEndHook = nullptr;

void sharedFault(const std::function<void()>& report) {
    if (jobSize > 0 && jobRank != 0 && awaitJobEndHook) awaitJobEndHook();
    report();
    fatalExit(1);
}

std::string formatText(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    std::string text(std::vsnprintf(nullptr, 0, format, measure), '\0');
    va_end(measure);
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

void sharedFault(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatText(format, args);
    va_end(args);
    sharedFault([&] { std::fputs(text.c_str(), stream); });
}

void printFileFailure(const char* action, const char* path, const std::string& reason) {
    std::printf("can not %s file:%s\n", action, path);
    std::fflush(stdout);
    std::fprintf(stderr, "dadiverur: can not %s %s: %s\n", action, path, reason.c_str());
}
