// The policy data reader on a generated policy file of about 10 MB, beside the time it takes
// merely to read the same file character by character with getc.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "QmSecAuth/PolicyData.h"
#include "bench/support/RatioMain.h"

namespace {

std::string Uuid(unsigned n, unsigned salt) {
    char id[40];
    std::snprintf(id, sizeof id, "%08x-%04x-4%03x-8%03x-%012x", n * 2654435761u ^ salt, n & 0xFFFF,
                  salt & 0xFFF, (n >> 4) & 0xFFF, n * 40503u);
    return id;
}

std::string Ip(unsigned n) {
    return std::to_string(10 + n % 4) + "." + std::to_string((n / 4) % 250) + "." +
           std::to_string((n / 1000) % 250) + "." + std::to_string(1 + n % 250);
}

// A site with time templates, status variables and as many manager configurations as fit in
// the given size, each with every kind of manager and message target rules.
std::string GeneratePolicy(size_t bytes) {
    std::string s = "# Generated manager configuration policy.\n\nTIMETEMPLATES\n";
    for (int t = 0; t < 20; ++t) {
        std::string name = "template-" + std::to_string(t);
        s += "  TIMETEMPLATE \"" + name + "\" DESCRIPTION \"Shift " + std::to_string(t) + "\"\n";
        s += "    TIMETMPLID \"" + Uuid(t, 7) + "\"\n";
        s += "    TIMEZONETYPE Local TIMEZONEVALUE \"+01:00\"\n    TIMETMPLCONDS\n";
        s += "      TIMETMPLCOND TIMETMPLCONDID \"c1\" TIMECONDTYPE Match\n";
        s += "        TIME FROM 7:30 TO 18:00 WEEKDAY FROM Monday TO Friday\n";
        s += "      TIMETMPLCOND TIMECONDTYPE Suppress DATE ON 12/24/*\n";
        s += "      TIMETMPLCOND DATE FROM 12/27/2024 TO 1/2/25\n";
    }
    s += "\nCONDSTATUSVARS\n";
    for (int v = 0; v < 10; ++v) {
        s += "  CONDSTATUSVAR \"status-" + std::to_string(v) + "\" " + (v % 2 ? "True" : "False") +
             "\n";
    }
    s += "\nRESPMGRCONFIGS\n";
    for (unsigned c = 0; s.size() < bytes; ++c) {
        s += "  # Configuration " + std::to_string(c) + "\n";
        s += "  RESPMGRCONFIG\n    RESPMGRCFGID \"" + Uuid(c, 1) + "\"\n";
        s += "    DESCRIPTION \"Responsibility of region " + std::to_string(c) + "\"\n";
        s += "    DEFAULTMANAGER NODE IP " + Ip(c) + " \"mgmt-" + std::to_string(c) +
             ".example.net\" ID \"" + Uuid(c, 2) + "\"\n      DESCRIPTION \"Primary server\"\n";
        s += "    SECONDARYMANAGERS\n";
        for (unsigned m = 0; m < 3; ++m) {
            s += "      SECONDARYMANAGER SECONDARYMGRID \"sec-" + std::to_string(m) +
                 "\"\n        NODE IP " + Ip(c * 7 + m) + " \"standby-" + std::to_string(m) +
                 ".example.net\" ID \"" + Uuid(c * 7 + m, 3) + "\"\n";
        }
        s += "      SECONDARYMANAGER NODE DEC \"VAX" + std::to_string(c % 100) + "\"\n";
        s += "    ACTIONALLOWMANAGERS\n";
        s += "      ACTIONALLOWMANAGER ACTALLOWMGRID \"helpdesk\" NODE IP " + Ip(c + 5) + " ID \"" +
             Uuid(c, 4) + "\" DESCRIPTION \"Helpdesk\"\n";
        s += "      ACTIONALLOWMANAGER NODE SNA \"NET.HOST" + std::to_string(c % 50) + "\" ID \"" +
             Uuid(c, 5) + "\"\n";
        s += "    MSGTARGETRULES\n";
        s += "      MSGTARGETRULE DESCRIPTION \"Critical messages\" MSGTARGETRULEID \"r1\"\n";
        s += "        MSGTARGETRULECONDS\n";
        s += "          MSGTARGETRULECOND DESCRIPTION \"database\" SEVERITY Critical\n";
        s += "            APPLICATION \"Oracle\" MSGGRP \"DB\" OBJECT \"tablespace\"\n";
        s += "            NODE IP " + Ip(c + 9) + " IP " + Ip(c + 10) + " \"db.example.net\"\n";
        s += "            TEXT \"* failed *\" MSGCONDTYPE Match\n";
        s += "        MSGTARGETMANAGERS\n";
        s += "          MSGTARGETMANAGER TIMETEMPLATE \"template-" + std::to_string(c % 20) +
             "\" VEXMGR IP " + Ip(c) + " MSGCONTROLLINGMGR\n";
        s += "        ACKNONLOCALMGR\n";
        s += "      MSGTARGETRULE DESCRIPTION \"Tickets\"\n        MSGTARGETRULECONDS\n";
        s += "          MSGTARGETRULECOND DESCRIPTION \"warnings\" SEVERITY Warning\n";
        s += "        MSGOPERATIONS\n          MSGOPERATION TIMETEMPLATE \"template-0\"\n";
        s += "            NOTIFICATION True TROUBLETICKET True ACKN\n";
    }
    return s;
}

// The generated file, written once and removed when the program ends.
class PolicyFile {
  public:
    PolicyFile() {
        char pattern[] = "/tmp/qmsec-bench-policy-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd < 0) {
            std::perror("mkstemp");
            std::exit(1);
        }
        path_ = pattern;
        std::string content = GeneratePolicy(10u << 20);
        size_ = content.size();
        if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
            std::perror("write");
            std::exit(1);
        }
        close(fd);
    }
    ~PolicyFile() { unlink(path_.c_str()); }
    const char* path() const { return path_.c_str(); }
    size_t size() const { return size_; }

  private:
    std::string path_;
    size_t size_ = 0;
};

const PolicyFile& File() {
    static PolicyFile file;
    return file;
}

void ReadPolicy_Baseline(benchmark::State& state) {
    const PolicyFile& file = File();
    for (auto _ : state) {
        FILE* in = std::fopen(file.path(), "r");
        long lines = 0;
        int c;
        while ((c = getc(in)) != EOF) {
            lines += c == '\n';
        }
        std::fclose(in);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

void ReadPolicy_Library(benchmark::State& state) {
    const PolicyFile& file = File();
    int32_t entries = 0;
    for (auto _ : state) {
        pblib_cfg_list list;
        pblib_error error;
        if (pblib_respmgr_cfg_read(file.path(), &list, &error) != PBLIB_RESPMGR_OK) {
            state.SkipWithError("the generated policy did not read cleanly");
        }
        entries = list.count;
        pblib_respmgr_cfg_free(&list);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
    state.counters["configs"] = entries;
}

}  // namespace

BENCHMARK(ReadPolicy_Baseline)->Name("ReadPolicy10MB/Baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadPolicy_Library)->Name("ReadPolicy10MB/Library")->Unit(benchmark::kMillisecond);

QMSEC_BENCHMARK_MAIN()
