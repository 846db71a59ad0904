// Stands in for the prerequisites installer and the application in the test releases: a real
// program of the platform that the updater builds for, which leaves a line in the folder it is
// started in. Started under the installer's name it adds "ran" to installer-ran.txt; under any
// other name it writes "started" to application-started.txt.

#include <cstdio>
#include <cstring>

int main(int, char **argv)
{
    const bool bInstaller = std::strstr(argv[0], "PrereqSetup") != nullptr;
    std::FILE *trace = std::fopen(bInstaller ? "installer-ran.txt" : "application-started.txt",
                                  bInstaller ? "ab" : "wb");
    if (!trace)
        return 1;
    std::fputs(bInstaller ? "ran\n" : "started\n", trace);
    return std::fclose(trace) == 0 ? 0 : 1;
}
