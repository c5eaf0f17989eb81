// bench_startup: time from process start to the first shown main window of kelvane, as a ratio
// to the same for an empty Qt dialog program (this program with --empty-dialog), both on the
// offscreen platform with a fresh user folder that has seen one run already.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// withLabel: one line of text, so the program pays the font set-up every window with text pays.
int EmptyDialog(int argc, char** argv, bool withLabel) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle("empty");
    if (withLabel)
        (new QLabel("Programmschritte", &dialog))->move(8, 8);
    QTimer::singleShot(0, &dialog, [&] {
        std::printf("shown\n");
        std::fflush(stdout);
        dialog.reject();
    });
    dialog.exec();
    return 0;
}

// Seconds from fork to the child's "shown" line; negative when it never came.
double TimeToShown(const std::vector<std::string>& command) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        // The offscreen platform's notes are no part of the measurement.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : command)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    double seconds = -1;
    const auto deadline = t0 + std::chrono::seconds(60);
    while (seconds < 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0)
            break;
        char buf[256];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
        if (out.find("shown\n") != std::string::npos)
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    close(fds[0]);
    if (seconds < 0)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--empty-dialog") == 0)
        return EmptyDialog(argc, argv, false);
    if (argc > 1 && std::strcmp(argv[1], "--label-dialog") == 0)
        return EmptyDialog(argc, argv, true);

    char dir[] = "/tmp/kelvane-bench-startup-XXXXXX";
    if (!mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string home = dir;
    setenv("HOME", dir, 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", (home + "/docs").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const std::vector<std::string> program{KELVANE_BIN_DIR "/kelvane", "--exit-when-shown"};
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const std::vector<std::string> empty{self, "--empty-dialog"};
    const std::vector<std::string> label{self, "--label-dialog"};
    // The first run copies the user's defaults; a technician starts the program far more often.
    if (TimeToShown(program) < 0 || TimeToShown(empty) < 0) {
        std::fprintf(stderr, "bench_startup: a program did not show its window\n");
        return 1;
    }
    constexpr int kRounds = 11;
    std::vector<double> times, emptyTimes, labelTimes;
    for (int i = 0; i < kRounds; ++i) {
        times.push_back(TimeToShown(program));
        emptyTimes.push_back(TimeToShown(empty));
        labelTimes.push_back(TimeToShown(label));
    }
    std::filesystem::remove_all(home);
    const double t = Median(times), e = Median(emptyTimes), l = Median(labelTimes);
    std::printf("start-up to first window: kelvane %.3f s, empty dialog %.3f s, ratio %.2f "
                "(goal <= 1.5; medians of %d)\n",
                t, e, e > 0 ? t / e : 0.0, kRounds);
    std::printf("  against a dialog with one label (it loads the fonts too): %.3f s, ratio %.2f\n",
                l, l > 0 ? t / l : 0.0);
    return 0;
}
