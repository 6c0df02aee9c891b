// The log reader's command line, apart from the platform's entry point so that tests can run
// it whole: options, the logs to read, the report; or one log's verdict for a deployment
// tool (--check, --detect).
#pragma once
#include <filesystem>
#include <ostream>
#include <vector>

// Report: 0 a report was written; 1 no log was found to report on; 2 bad command line.
// --check: the verdict's code (VerdictExitCode), 2 bad command line.
// --detect: 0 (with "repaired" printed when it is), 1 when the log cannot be read, 2 bad
// command line.
int RunLogReader(const std::vector<std::filesystem::path>& arguments, std::ostream& out,
                 std::ostream& err);
