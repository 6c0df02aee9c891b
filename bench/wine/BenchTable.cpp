// Printing of the results table (see BenchTable.h).
#include "bench/wine/BenchTable.h"
#include <cstdarg>
#include <cstdio>

std::string Printed(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

void CBenchTable::Refuse(const std::string& figure, const std::string& reason)
{
    m_Refusals.push_back(figure + ": " + reason);
    fprintf(stderr, "restore_bench: not reported: %s: %s\n", figure.c_str(), reason.c_str());
}

void CBenchTable::Print() const
{
    printf("\n| figure | value | ratio | target |\n|---|---|---|---|\n");
    for (const CBenchRow& row : m_Rows)
        printf("| %s | %s | %s | %s |\n", row.figure.c_str(), row.value.c_str(),
               row.ratio.c_str(), row.target.c_str());
    for (const std::string& refusal : m_Refusals)
        printf("NOT REPORTED (a restore failed): %s\n", refusal.c_str());
    fflush(stdout);
}
