// The table restore_bench prints: one row per figure with its value, ratio and target, and
// the figures it refused to report because a restore failed.
#pragma once
#include <string>
#include <vector>

struct CBenchRow
{
    std::string figure;
    std::string value;
    std::string ratio;
    std::string target;
};

class CBenchTable
{
public:
    void Add(CBenchRow row) { m_Rows.push_back(std::move(row)); }
    // A figure that is not reported; the run then ends with a non-zero exit code.
    void Refuse(const std::string& figure, const std::string& reason);
    bool HasRefusals() const { return !m_Refusals.empty(); }
    // The rows as a Markdown table on stdout, the refusals after it.
    void Print() const;

private:
    std::vector<CBenchRow> m_Rows;
    std::vector<std::string> m_Refusals;
};

// printf into a std::string.
std::string Printed(const char* format, ...);
