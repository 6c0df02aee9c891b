// The log reader's command line, apart from the platform's entry point so that tests can run
// it whole: options, the logs to read, the report.
#pragma once
#include <filesystem>
#include <ostream>
#include <vector>

// Exit codes: 0 a report was written; 1 no log was found to report on; 2 bad command line.
int RunLogReader(const std::vector<std::filesystem::path>& arguments, std::ostream& out,
                 std::ostream& err);
