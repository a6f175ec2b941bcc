// A sysfs device folder's name and a `resource` file's text: the input up to
// its first NUL byte is the name, the rest the file.
#include <cinttypes>
#include <cstring>

#include "fuzz/check.h"
#include "linux/sysfs_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const size_t nameLength = strnlen(text, size);
    const std::string name(text, nameLength);
    PciName parsed;
    if (parsePciName(name.c_str(), &parsed)) {
        // Only the kernel's own spelling is a device: reading a name and
        // writing it again gives the same name.
        char again[32];
        snprintf(again, sizeof again, "%04x:%02x:%02x.%u", parsed.domain, parsed.bus, parsed.slot, parsed.function);
        FUZZ_CHECK(name == again, name + " read as " + again);
    }
    const std::string resource = nameLength < size ? std::string(text + nameLength + 1, size - nameLength - 1) : "";
    ResourceRange bars[BAR_COUNT];
    const std::string problem = parseResourceLines(resource, bars);
    if (problem.empty()) {
        // Six lines read: the text held at least six well-formed lines.
        size_t lines = 0;
        for (char c : resource)
            lines += c == '\n';
        FUZZ_CHECK(lines + 1 >= BAR_COUNT, resource);
    } else {
        FUZZ_CHECK(problem.compare(0, 5, "line ") == 0, problem);
    }
    return 0;
}
