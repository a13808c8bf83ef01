// Test support: a message as a death test's pattern.
#ifndef TESTS_SUPPORT_PATTERN_H
#define TESTS_SUPPORT_PATTERN_H

#include <cstring>
#include <string>

namespace testsupport {

// text as a regular expression that matches it literally.
inline std::string literally(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (std::strchr("()[]{}.*+?^$|\\", c)) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

} // namespace testsupport

#endif
