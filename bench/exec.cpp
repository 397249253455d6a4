// dv_bench_exec: runs a program (several times with --repeat) and reports its
// wall time, CPU time and peak resident memory as the kernel counted them (wait4), so
// that external baselines such as bsqldb are measured exactly like the tool.
//
//   dv_bench_exec --tag T [--repeat N] [--stdin FILE] [--stderr FILE] -- program args...
//
// Prints "RESULT T.wall_s", "RESULT T.cpu_s" (user + system), "RESULT T.maxrss_kb"
// (medians over the runs) and
// passes on the program's own "RESULT key value" lines as "RESULT T.key"
// (median over the runs). A program line "RESULT shown_ns X" (its
// CLOCK_MONOTONIC when its window appeared) becomes "RESULT T.startup_ms":
// the time from fork to that moment. Other output of the program goes to
// stderr.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int usage()
{
    std::fprintf(stderr, "usage: dv_bench_exec --tag T [--repeat N] [--stdin FILE] [--stderr FILE] -- program args...\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string tag = "run";
    std::string stdinFile;
    std::string stderrFile;
    int repeat = 1;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc)
            return usage();
        if (a == "--tag")
            tag = argv[++i];
        else if (a == "--repeat")
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--stdin")
            stdinFile = argv[++i];
        else if (a == "--stderr")
            stderrFile = argv[++i];
        else
            return usage();
    }
    if (i >= argc)
        return usage();
    char **cmd = argv + i;

    std::map<std::string, std::vector<double>> values;
    for (int run = 0; run < repeat; ++run) {
        int fds[2];
        if (pipe(fds) != 0) {
            std::perror("pipe");
            return 1;
        }
        const std::int64_t t0 = monotonicNs();
        const pid_t pid = fork();
        if (pid < 0) {
            std::perror("fork");
            return 1;
        }
        if (pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            if (!stdinFile.empty()) {
                const int in = open(stdinFile.c_str(), O_RDONLY);
                if (in < 0)
                    _exit(126);
                dup2(in, STDIN_FILENO);
                close(in);
            }
            if (!stderrFile.empty()) {
                const int err = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                if (err < 0)
                    _exit(126);
                dup2(err, STDERR_FILENO);
                close(err);
            }
            execvp(cmd[0], cmd);
            _exit(127);
        }
        close(fds[1]);
        FILE *out = fdopen(fds[0], "r");
        char *line = nullptr;
        size_t cap = 0;
        ssize_t len;
        while ((len = getline(&line, &cap, out)) > 0) {
            char key[256];
            double value = 0;
            if (std::sscanf(line, "RESULT %255s %lf", key, &value) == 2) {
                if (std::strcmp(key, "shown_ns") == 0) {
                    long long ns = 0;
                    std::sscanf(line, "RESULT %*s %lld", &ns);
                    values["startup_ms"].push_back(double(ns - t0) / 1e6);
                } else {
                    values[key].push_back(value);
                }
            } else {
                std::fwrite(line, 1, size_t(len), stderr);
            }
        }
        std::free(line);
        std::fclose(out);
        int status = 0;
        rusage ru{};
        if (wait4(pid, &status, 0, &ru) < 0) {
            std::perror("wait4");
            return 1;
        }
        const std::int64_t t1 = monotonicNs();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "dv_bench_exec: %s failed (status %d)\n", cmd[0], status);
            return 1;
        }
        values["wall_s"].push_back(double(t1 - t0) / 1e9);
        values["maxrss_kb"].push_back(double(ru.ru_maxrss));
        // The program's own CPU time: the tool and bsqldb wait on the same
        // server, so only this tells what the client itself costs.
        const auto seconds = [](const timeval &tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
        values["cpu_s"].push_back(seconds(ru.ru_utime) + seconds(ru.ru_stime));
    }
    for (const auto &[key, v] : values)
        std::printf("RESULT %s.%s %.6f\n", tag.c_str(), key.c_str(), median(v));
    return 0;
}
