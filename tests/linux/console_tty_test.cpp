// The terminal console in a child process whose controlling terminal is a fresh pseudo-terminal:
// the test types into the master side and reads the child's reports from a pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/common/window_keys.h"

namespace {

constexpr int patience_ms = 5000;  // only ever reached when something hangs

struct child_options {
    bool terminal = true;    // the pty becomes the child's controlling terminal
    bool stdout_tty = true;  // standard output is the pty; otherwise a pipe the test reads
    bool own_job = false;    // the body runs as a foreground job of its own, so it can be stopped
};

struct child_run {
    pid_t pid = -1;     // the process running the body
    pid_t direct = -1;  // the test's own child (the same unless own_job)
    int master = -1;
    int slave = -1;  // kept open by the test so the terminal's settings stay readable
    int reports = -1;
    int go = -1;
    int output = -1;
    termios initial{};
};

int report_fd = -1;
int go_fd = -1;

// Child side: one line to the test.
void say(const char* format, ...)
{
    char line[128];
    va_list args;
    va_start(args, format);
    const int n = std::min(std::vsnprintf(line, sizeof line - 1, format, args),
                           int(sizeof line) - 2);
    va_end(args);
    line[n] = '\n';
    (void)!write(report_fd, line, size_t(n) + 1);
}

// Child side: waits until the test closes the go pipe.
void wait_for_go()
{
    char c;
    while (read(go_fd, &c, 1) > 0) {
    }
}

void say_key()
{
    int code = -1;
    int extended = -1;
    const bool read = console_read_key(&code, &extended);
    say("%d %d %d", read, code, extended);
}

[[noreturn]] void run_child(const child_run& run, const child_options& options, int output_write,
                            const std::function<void()>& body)
{
    const rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    setsid();
    if (options.terminal)
        ioctl(run.slave, TIOCSCTTY, 0);
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);  // keys must come from the terminal, not standard input
    dup2(options.stdout_tty ? run.slave : output_write, STDOUT_FILENO);
    if (options.own_job) {
        const pid_t job = fork();
        if (job != 0) {
            setpgid(job, job);
            tcsetpgrp(run.slave, job);
            int status = 0;
            while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
            }
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        setpgid(0, 0);
        while (tcgetpgrp(run.slave) != getpid())
            usleep(1000);
        say("pid %d", int(getpid()));
    }
    close(run.slave);
    body();
    std::exit(0);
}

child_run start_child(const std::function<void()>& body, child_options options = {})
{
    child_run run;
    EXPECT_EQ(openpty(&run.master, &run.slave, nullptr, nullptr, nullptr), 0);
    tcgetattr(run.slave, &run.initial);
    int reports[2], go[2], output[2];
    EXPECT_EQ(pipe(reports), 0);
    EXPECT_EQ(pipe(go), 0);
    EXPECT_EQ(pipe(output), 0);
    std::fflush(nullptr);
    run.direct = fork();
    if (run.direct == 0) {
        close(run.master);
        close(reports[0]);
        close(go[1]);
        close(output[0]);
        report_fd = reports[1];
        go_fd = go[0];
        run_child(run, options, output[1], body);
    }
    run.pid = run.direct;
    close(reports[1]);
    close(go[0]);
    close(output[1]);
    run.reports = reports[0];
    run.go = go[1];
    run.output = output[0];
    return run;
}

// The child's next line, or "" when none comes.
std::string next_report(const child_run& run)
{
    std::string line;
    for (;;) {
        pollfd p = {run.reports, POLLIN, 0};
        char c;
        if (poll(&p, 1, patience_ms) != 1 || read(run.reports, &c, 1) != 1)
            return "";
        if (c == '\n')
            return line;
        line += c;
    }
}

void type(const child_run& run, const std::string& bytes)
{
    ASSERT_EQ(write(run.master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

// What the child writes to the terminal: up to count bytes, stopping after wait_ms of quiet.
std::string terminal_output(const child_run& run, int wait_ms, size_t count = 256)
{
    std::string text;
    pollfd p = {run.master, POLLIN, 0};
    char buffer[256];
    while (text.size() < count && poll(&p, 1, wait_ms) == 1 && (p.revents & POLLIN)) {
        const ssize_t n = read(run.master, buffer, std::min(sizeof buffer, count - text.size()));
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
    }
    return text;
}

termios mode_of(const child_run& run)
{
    termios t{};
    tcgetattr(run.slave, &t);
    return t;
}

bool is_run_mode(const termios& t)
{
    return !(t.c_lflag & (ICANON | ECHO)) && (t.c_lflag & ISIG) && !(t.c_iflag & (IXON | ICRNL));
}

bool is_read_mode(const termios& t)
{
    return !(t.c_lflag & (ICANON | ECHO | ISIG));
}

bool is_initial_mode(const child_run& run)
{
    const termios t = mode_of(run);
    return t.c_iflag == run.initial.c_iflag && t.c_oflag == run.initial.c_oflag &&
           t.c_lflag == run.initial.c_lflag && t.c_cflag == run.initial.c_cflag &&
           t.c_cc[VMIN] == run.initial.c_cc[VMIN] && t.c_cc[VTIME] == run.initial.c_cc[VTIME];
}

// Waits until the terminal is in the mode the check wants; false when it never gets there.
bool wait_for_mode(const child_run& run, bool (*check)(const termios&))
{
    for (int waited = 0; waited < patience_ms; waited++) {
        if (check(mode_of(run)))
            return true;
        usleep(1000);
    }
    return false;
}

// Lets the child end and gives its wait status; the child is killed if it hangs.
int finish(child_run& run)
{
    close(run.go);
    int status = -1;
    for (int waited = 0; waited < patience_ms; waited++) {
        if (waitpid(run.direct, &status, WNOHANG) == run.direct)
            return status;
        usleep(1000);
    }
    ADD_FAILURE() << "child hangs";
    kill(run.direct, SIGKILL);
    waitpid(run.direct, &status, 0);
    return status;
}

void close_all(child_run& run)
{
    for (int fd : {run.master, run.slave, run.reports, run.output})
        close(fd);
}

TEST(ConsoleTty, TypedKeysArriveDecodedAndUnechoed)
{
    child_run run = start_child([] {
        console_open();
        say("ready");
        for (int i = 0; i < 12; i++)
            say_key();
        wait_for_go();
    });
    ASSERT_EQ(next_report(run), "ready");
    type(run, "a\x1b[A\r\x7f\x1bOP\x1b[24~\x1b[1;5B\xc3\xa9n");
    EXPECT_EQ(next_report(run), "1 97 0");
    EXPECT_EQ(next_report(run), "1 224 72");
    EXPECT_EQ(next_report(run), "1 13 0");
    EXPECT_EQ(next_report(run), "1 8 0");
    EXPECT_EQ(next_report(run), "1 0 59");
    EXPECT_EQ(next_report(run), "1 224 134");
    EXPECT_EQ(next_report(run), "1 224 80");
    EXPECT_EQ(next_report(run), "1 63 0");
    EXPECT_EQ(next_report(run), "1 110 0");
    // Escape alone is given out once nothing follows; a sequence written in two parts is one key.
    type(run, "\x1b");
    EXPECT_EQ(next_report(run), "1 27 0");
    type(run, "\x1b[");
    type(run, "6~");
    EXPECT_EQ(next_report(run), "1 224 81");
    type(run, "\x13");
    EXPECT_EQ(next_report(run), "1 19 0");
    EXPECT_EQ(terminal_output(run, 100), "");  // nothing echoed
    EXPECT_EQ(WEXITSTATUS(finish(run)), 0);
    close_all(run);
}

TEST(ConsoleTty, KeyWaitingConsumesNothing)
{
    child_run run = start_child([] {
        console_open();
        say("%d", console_key_waiting());
        say("ready");
        for (int waited = 0; !console_key_waiting() && waited < patience_ms; waited++)
            usleep(1000);
        say("%d %d", console_key_waiting(), console_key_waiting());
        say_key();
        say("%d", console_key_waiting());  // "b" was read with "a" and waits in the program
        say_key();
        say("%d", console_key_waiting());
        say_key();  // the whole arrow sequence is one key: nothing waits after it
        say("%d", console_key_waiting());
    });
    EXPECT_EQ(next_report(run), "0");
    ASSERT_EQ(next_report(run), "ready");
    type(run, "ab\x1b[C");
    EXPECT_EQ(next_report(run), "1 1");
    EXPECT_EQ(next_report(run), "1 97 0");
    EXPECT_EQ(next_report(run), "1");
    EXPECT_EQ(next_report(run), "1 98 0");
    EXPECT_EQ(next_report(run), "1");
    EXPECT_EQ(next_report(run), "1 224 77");
    EXPECT_EQ(next_report(run), "0");
    EXPECT_EQ(WEXITSTATUS(finish(run)), 0);
    close_all(run);
}

TEST(ConsoleTty, WindowKeysComeInTypedOrderAmongTerminalKeys)
{
    child_run run = start_child([] {
        console_open();
        say("ready");
        for (int waited = 0; !console_key_waiting() && waited < patience_ms; waited++)
            usleep(1000);
        window_key_typed('w', 0);  // after the terminal's "a", which is still unread
        say("typed");
        wait_for_go();  // the test types "b" and lets go
        for (int i = 0; i < 3; i++)
            say_key();
        say("%d", console_key_waiting());
        // A window key ends a wait on an idle terminal.
        std::thread late([] {
            usleep(100 * 1000);
            window_key_typed(224, 72);
        });
        say_key();
        late.join();
    });
    ASSERT_EQ(next_report(run), "ready");
    type(run, "a");
    ASSERT_EQ(next_report(run), "typed");
    type(run, "b");
    close(run.go);
    run.go = -1;
    EXPECT_EQ(next_report(run), "1 97 0");
    EXPECT_EQ(next_report(run), "1 119 0");
    EXPECT_EQ(next_report(run), "1 98 0");
    EXPECT_EQ(next_report(run), "0");
    EXPECT_EQ(next_report(run), "1 224 72");
    EXPECT_EQ(WEXITSTATUS(finish(run)), 0);
    close_all(run);
}

TEST(ConsoleTty, CtrlCIsAKeyInsideReadAndEndsTheProgramOutside)
{
    child_run run = start_child([] {
        console_open();
        say("ready");
        say_key();
        say("outside");
        wait_for_go();
        say("survived");
    });
    ASSERT_EQ(next_report(run), "ready");
    ASSERT_TRUE(wait_for_mode(run, is_read_mode));
    type(run, "\x03");
    EXPECT_EQ(next_report(run), "1 3 0");
    ASSERT_EQ(next_report(run), "outside");
    EXPECT_TRUE(is_run_mode(mode_of(run)));
    type(run, "\x03");
    EXPECT_EQ(next_report(run), "");
    const int status = finish(run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(is_initial_mode(run));
    close_all(run);
}

// Every way out gives the terminal back as it was: exit (0 here) and each terminating signal.
class ConsoleTtyWayOut : public testing::TestWithParam<int> {};

TEST_P(ConsoleTtyWayOut, RestoresTheTerminal)
{
    child_run run = start_child([] {
        console_open();
        say("ready");
        wait_for_go();
    });
    ASSERT_EQ(next_report(run), "ready");
    const termios during = mode_of(run);
    EXPECT_TRUE(is_run_mode(during));
    EXPECT_EQ(during.c_cc[VMIN], 1);
    EXPECT_EQ(during.c_oflag, run.initial.c_oflag);  // output still turns \n into \r\n
    const int sig = GetParam();
    if (sig != 0) {
        kill(run.pid, sig);
        EXPECT_EQ(next_report(run), "");
    }
    const int status = finish(run);
    if (sig == 0)
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    else
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;  // default action
    EXPECT_TRUE(is_initial_mode(run));
    close_all(run);
}

INSTANTIATE_TEST_SUITE_P(Console, ConsoleTtyWayOut,
                         testing::Values(0, SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGSEGV, SIGBUS,
                                         SIGFPE, SIGILL, SIGABRT),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param ? std::string(sigabbrev_np(info.param))
                                               : std::string("exit");
                         });

char process_state(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t paren = text.rfind(')');
    return paren == std::string::npos || paren + 2 >= text.size() ? '?' : text[paren + 2];
}

TEST(ConsoleTty, StoppedProgramHandsTheTerminalBack)
{
    child_options options;
    options.own_job = true;
    child_run run = start_child(
        [] {
            console_open();
            say("ready");
            say_key();
        },
        options);
    const std::string pid = next_report(run);
    ASSERT_EQ(pid.rfind("pid ", 0), 0u) << pid;
    run.pid = std::stoi(pid.substr(4));
    ASSERT_EQ(next_report(run), "ready");
    ASSERT_TRUE(wait_for_mode(run, is_read_mode));

    kill(run.pid, SIGTSTP);
    int waited = 0;
    for (; process_state(run.pid) != 'T' && waited < patience_ms; waited++)
        usleep(1000);
    EXPECT_EQ(process_state(run.pid), 'T');
    EXPECT_TRUE(is_initial_mode(run));

    kill(run.pid, SIGCONT);
    EXPECT_TRUE(wait_for_mode(run, is_read_mode));
    type(run, "k");
    EXPECT_EQ(next_report(run), "1 107 0");
    EXPECT_EQ(WEXITSTATUS(finish(run)), 0);
    EXPECT_TRUE(is_initial_mode(run));
    close_all(run);
}

TEST(ConsoleTty, NoControllingTerminalFailsAtOnce)
{
    child_options options;
    options.terminal = false;
    options.stdout_tty = false;
    child_run run = start_child(
        [] {
            console_open();
            int code = -1;
            int extended = -1;
            const bool read = console_read_key(&code, &extended);
            say("%d %d", read, console_key_waiting());
        },
        options);
    EXPECT_EQ(next_report(run), "0 0");
    EXPECT_EQ(WEXITSTATUS(finish(run)), 0);
    close_all(run);
}

TEST(ConsoleTty, OutputShowsAtOnceOnTheTerminalAndIsBufferedWhenRedirected)
{
    child_run on_terminal = start_child([] {
        console_open();
        std::printf("prompt?");
        say("printed");
        wait_for_go();
    });
    ASSERT_EQ(next_report(on_terminal), "printed");
    EXPECT_EQ(terminal_output(on_terminal, patience_ms, 7), "prompt?");
    finish(on_terminal);
    close_all(on_terminal);

    child_options options;
    options.stdout_tty = false;
    child_run redirected = start_child(
        [] {
            console_open();
            std::printf("line one\n");
            say("printed");
            wait_for_go();
        },
        options);
    ASSERT_EQ(next_report(redirected), "printed");
    pollfd p = {redirected.output, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 100), 0);  // held in the buffer until exit
    finish(redirected);
    char text[32] = {};
    EXPECT_EQ(read(redirected.output, text, sizeof text - 1), 9);
    EXPECT_STREQ(text, "line one\n");
    close_all(redirected);
}

}  // namespace
