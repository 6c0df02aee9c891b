// Entry point of the log reader. On Windows the wide command line is taken, so that paths
// outside the ANSI code page survive, and standard output is put in binary mode, so that the
// CSV's CR LF record ends are not doubled.
#include "tools/logreader/LogReaderCommand.h"
#include <iostream>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
    int code = RunLogReader(arguments, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
#else
int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
    return RunLogReader(arguments, std::cout, std::cerr);
}
#endif
