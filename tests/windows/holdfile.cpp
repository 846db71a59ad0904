// Holds a file open as a running program does on Windows: readable by others, but neither to be
// deleted nor to be replaced while it is open (no FILE_SHARE_DELETE). Once it holds the file it
// creates the file READY; it lets go when it is ended, or after two minutes.
//
//   holdfile.exe FILE READY

#include <windows.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: holdfile.exe FILE READY\n", stderr);
        return 2;
    }
    const HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::FILE *ready = std::fopen(argv[2], "w");
    if (!ready || std::fclose(ready) != 0)
        return 1;
    Sleep(120000);
    CloseHandle(held);
    return 0;
}
