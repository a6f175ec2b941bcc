// What the fuzz targets share: a broken rule stops the run as a crash, with
// the rule and the input's own words, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition, detail)                                                             \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            fprintf(stderr, "%s:%d: broken: %s (%s)\n", __FILE__, __LINE__, #condition,          \
                    std::string(detail).c_str());                                                 \
            abort();                                                                              \
        }                                                                                         \
    } while (0)

// The fields of `data` parted by NUL bytes (a trailing empty field kept).
inline std::vector<std::string> nulFields(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0')
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}
