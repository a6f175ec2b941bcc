// The least any program can do to find the VSA-100 boards of a sysfs tree:
// list devices/, then per device one open of its config file and one 4-byte
// read of both identifiers. The Linux command's benchmark times `halvex list`
// against it.
//
// usage: sysfs_floor DIR    (DIR holds devices/); prints the boards found
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2)
        return 64;
    char path[4096];
    snprintf(path, sizeof path, "%s/devices", argv[1]);
    const int devices = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* directory = devices < 0 ? nullptr : fdopendir(dup(devices));
    if (!directory)
        return 1;
    unsigned boards = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.')
            continue;
        snprintf(path, sizeof path, "%s/config", entry->d_name);
        const int config = openat(devices, path, O_RDONLY | O_CLOEXEC);
        uint32_t identifiers = 0;
        if (config >= 0 && pread(config, &identifiers, sizeof identifiers, 0) == sizeof identifiers &&
            identifiers == 0x0009121A)
            ++boards;
        if (config >= 0)
            close(config);
    }
    closedir(directory);
    printf("%u\n", boards);
    return 0;
}
