// The log reader on a fleet: makes a collection of machine folders from the test logs (once;
// it stays in the given folder for the next time), with the field's mix of verdicts,
// several runs per log, dated copies, empty machine folders and stray files, then runs the
// reader on it as an operator would (table, CSV, and the machine list with details) and
// reports each run's time and peak memory.
//   logreader_bench READER FOLDER [MACHINES]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Read(const char* name)
{
    std::ifstream file(fs::path(LOGREADER_DATA_DIR) / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Body(const std::string& log)
{
    return log.compare(0, 3, "\xEF\xBB\xBF") == 0 ? log.substr(3) : log;
}

void Write(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

struct CTemplates
{
    std::string repaired = Read("repaired.dbg");
    std::string nothing = Read("nothing-installed.dbg");
    std::string another = Read("another-run.dbg");
    std::string partly = Replace(repaired, "C3.xml] ok", "C3.xml] failed");
    std::string stopped = Replace(repaired, "MyStartService(CVMSG) result=ok", "MyStartService(CVMSG) result=fail");
    std::string cut = repaired.substr(0, repaired.find("RestoreQuarantine - Inited"));
};

// The repaired run's process id, replaced per machine so that no two logs are alike.
std::string ForMachine(const std::string& log, size_t machine)
{
    char pid[32];
    std::snprintf(pid, sizeof pid, "[PID:%08zu]", 100000 + machine);
    return Replace(log, "[PID:00004512]", pid);
}

// One machine's folder, by its number: about 1 in 100 without log, 5 not repaired, 3
// partly, 2 left stopped, 2 cut off, 1 another run, 2 with dated copies, 20 with three
// runs in one log, the rest repaired.
void MakeMachine(const CTemplates& t, const fs::path& folder, size_t i)
{
    const size_t kind = i % 100;
    const fs::path log = folder / "sanarix.dbg";
    if (kind == 0) {
        fs::create_directories(folder);
    } else if (kind == 1) {
        Write(folder / "cvhost.dbg", "another program's log\r\n");
        Write(log, ForMachine(t.repaired, i));
    } else if (kind <= 3) {
        Write(folder / "2026-11-30" / "sanarix.dbg", t.nothing);
        Write(folder / "2026-12-01" / "sanarix.dbg", ForMachine(t.repaired, i));
    } else if (kind <= 8) {
        Write(log, t.nothing);
    } else if (kind <= 11) {
        Write(log, ForMachine(t.partly, i));
    } else if (kind <= 13) {
        Write(log, ForMachine(t.stopped, i));
    } else if (kind <= 15) {
        Write(log, ForMachine(t.cut, i));
    } else if (kind == 16) {
        Write(log, ForMachine(t.another, i));
    } else if (kind <= 36) {
        Write(log, t.nothing + Body(ForMachine(t.partly, i)) + Body(ForMachine(t.repaired, i + 1)));
    } else {
        Write(log, ForMachine(t.repaired, i));
    }
}

std::string MachineName(size_t i)
{
    char name[32];
    std::snprintf(name, sizeof name, "PC-%06zu", i);
    return name;
}

void MakeFleet(const fs::path& root, size_t machines)
{
    const fs::path done = root / ("complete-" + std::to_string(machines));
    if (fs::exists(done))
        return;
    std::printf("making %zu machine folders in %s ...\n", machines, root.c_str());
    fs::remove_all(root);
    CTemplates templates;
    std::string list;
    for (size_t i = 0; i < machines; ++i) {
        MakeMachine(templates, root / "collected" / MachineName(i), i);
        list += MachineName(i) + "\r\n";
    }
    // A few machines the roll-out reached but whose logs were never collected.
    for (size_t i = machines; i < machines + machines / 100; ++i)
        list += MachineName(i) + "\r\n";
    Write(root / "machines.txt", list);
    Write(done, "");
}

struct CMeasure
{
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    int code = -1;
};

CMeasure RunReader(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(child, &status, 0, &usage);
    CMeasure measure;
    measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.peakKiB = usage.ru_maxrss;
    measure.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    measure.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measure;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: logreader_bench READER FOLDER [MACHINES]\n");
        return 2;
    }
    const std::string reader = fs::absolute(argv[1]).string();
    const fs::path root = fs::absolute(argv[2]);
    const size_t machines = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100000;
    MakeFleet(root, machines);
    const std::string collected = (root / "collected").string();
    const std::string list = (root / "machines.txt").string();
    const std::vector<std::pair<const char*, std::vector<std::string>>> runs = {
        {"table", {reader, collected}},
        {"CSV", {reader, "--csv", collected}},
        {"machine list and details", {reader, "--details", "--expect", list, collected}},
    };
    std::printf("%zu machine folders; targets: under 30 s, under 100 MB peak\n\n", machines);
    std::printf("%-26s %10s %12s %14s %6s\n", "report", "seconds", "CPU seconds", "peak memory", "exit");
    bool met = true;
    for (const auto& run : runs) {
        CMeasure m = RunReader(run.second);
        double mb = m.peakKiB * 1024.0 / 1e6;
        std::printf("%-26s %10.2f %12.2f %11.1f MB %6d\n", run.first, m.seconds, m.cpuSeconds, mb, m.code);
        met = met && m.code == 0 && m.seconds < 30 && mb < 100;
    }
    std::printf("\ntargets %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
