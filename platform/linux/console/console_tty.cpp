// The controlling terminal as the console: keys read from /dev/tty, whatever standard input is,
// in non-canonical unechoed mode for the whole run; the terminal's own settings come back on
// every way out (exit, the terminating signals, crashes) and while the program is stopped.
#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/console/key_decode.h"
#include "platform/common/window_keys.h"

namespace {

// How long the rest of an escape sequence may take before ESC counts as the Escape key alone.
// A terminal writes a whole sequence at once; a person cannot type ESC and [ this fast.
constexpr int escape_wait_ms = 40;
// How often a wait for a key looks for keys typed into the video window.
constexpr int window_key_look_ms = 10;

// Set once before any handler is installed; the handlers only read them.
int tty_fd = -1;
termios saved_mode;  // the terminal as we found it
termios run_mode;    // keys arrive at once, unechoed; Ctrl+C, Ctrl+Z and Ctrl+\ are signals
termios read_mode;   // inside console_read_key: those are keys too
volatile sig_atomic_t reading = 0;

bool tried_open = false;
bool tty_lost = false;  // hung up or failing: the console counts as absent from then on

// Bytes read from the terminal but not yet given out as keys.
unsigned char pending[64];
size_t pending_count = 0;
// Every byte ever read from the terminal: the position in the typed input of the byte after
// the pending ones. Read by the display thread to order the window's keys among these.
std::atomic<uint64_t> bytes_read{0};

void restore_terminal()
{
    tcsetattr(tty_fd, TCSANOW, &saved_mode);
}

void restore_at_exit()
{
    restore_terminal();
}

// Installed with SA_RESETHAND: the raised signal takes its default action.
void on_fatal_signal(int sig)
{
    restore_terminal();
    raise(sig);
}

void install(int sig, void (*handler)(int), int flags)
{
    struct sigaction old;
    // A handler of someone else's, or a signal the parent chose to ignore, stays as it is.
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(sig, &action, nullptr);
}

// Ctrl+Z: hand the shell its terminal settings back, then stop as usual.
void on_stop(int)
{
    const int saved_errno = errno;
    restore_terminal();
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    raise(SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);  // the process stops here until continued
    action.sa_handler = on_stop;
    action.sa_flags = SA_RESTART;
    sigaction(SIGTSTP, &action, nullptr);
    // An orphaned process group is never stopped; either way the run goes on in our mode.
    tcsetattr(tty_fd, TCSANOW, reading ? &read_mode : &run_mode);
    errno = saved_errno;
}

// Continued (after Ctrl+Z or SIGSTOP): the shell may have reset the terminal; take it again.
void on_continue(int)
{
    const int saved_errno = errno;
    tcsetattr(tty_fd, TCSANOW, reading ? &read_mode : &run_mode);
    errno = saved_errno;
}

void install_handlers()
{
    static constexpr int fatal_signals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                                            SIGBUS,  SIGFPE,  SIGILL, SIGABRT};
    for (int sig : fatal_signals)
        install(sig, on_fatal_signal, SA_RESETHAND);
    install(SIGTSTP, on_stop, SA_RESTART);
    install(SIGCONT, on_continue, SA_RESTART);
    std::atexit(restore_at_exit);
}

// Opens the terminal and puts it in run mode, once; false when there is none.
bool tty_ready()
{
    if (tried_open)
        return tty_fd >= 0 && !tty_lost;
    tried_open = true;
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (tcgetattr(fd, &saved_mode) != 0) {
        close(fd);
        return false;
    }
    run_mode = saved_mode;
    run_mode.c_lflag &= ~(ICANON | ECHO | ECHONL | IEXTEN);
    run_mode.c_lflag |= ISIG;
    // Ctrl+S and Ctrl+Q reach us, Enter stays 13, Ctrl+J stays 10, UTF-8 keeps its high bits.
    run_mode.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    run_mode.c_cc[VMIN] = 1;
    run_mode.c_cc[VTIME] = 0;
    read_mode = run_mode;
    read_mode.c_lflag &= ~ISIG;

    tty_fd = fd;
    install_handlers();
    tcsetattr(fd, TCSANOW, &run_mode);
    return true;
}

void take_pending(size_t used)
{
    std::memmove(pending, pending + used, pending_count - used);
    pending_count -= used;
}

// Reads until one key is decoded; false when the terminal hangs up or fails.
bool next_key(int* code, int* extended)
{
    bool complete = false;
    for (;;) {
        size_t used = 0;
        const bool full = pending_count == sizeof pending;
        if (decode_key(pending, pending_count, complete || full, code, extended, &used) ==
            key_decode_result::key) {
            take_pending(used);
            return true;
        }
        if (pending_count > 0) {
            // Part of a sequence is here: wait briefly for the rest, else take it as it is.
            pollfd p = {tty_fd, POLLIN, 0};
            const int ready = poll(&p, 1, escape_wait_ms);
            if (ready == 0) {
                complete = true;
                continue;
            }
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
        }
        const ssize_t n = read(tty_fd, pending + pending_count, sizeof pending - pending_count);
        if (n > 0) {
            pending_count += size_t(n);
            bytes_read += uint64_t(n);
            complete = false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    tty_lost = true;
    return false;
}

// Blocks for the next key, from the terminal or the video window, whichever was typed first.
bool next_key_of_either(int* code, int* extended)
{
    for (;;) {
        if (take_window_key(bytes_read - pending_count, code, extended))
            return true;
        if (pending_count > 0)
            return next_key(code, extended);
        pollfd p = {tty_fd, POLLIN, 0};
        const int ready = poll(&p, 1, window_key_look_ms);
        // Readable, hung up or failing: reading tells which.
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return next_key(code, extended);
    }
}

}  // namespace

uint64_t console_input_mark()
{
    int waiting = 0;
    if (tty_fd < 0 || ioctl(tty_fd, FIONREAD, &waiting) != 0)
        waiting = 0;
    return bytes_read + uint64_t(waiting);
}

void console_open()
{
    // Prompts end without a line break; on a terminal each print must show by itself.
    if (isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    tty_ready();
}

bool console_read_key(int* code, int* extended)
{
    // Without a terminal, only keys already typed into the window can be given.
    if (!tty_ready())
        return take_window_key(UINT64_MAX, code, extended);
    // The flag changes before the mode does, so a continue signal in between re-applies the
    // mode being entered.
    reading = 1;
    tcsetattr(tty_fd, TCSANOW, &read_mode);
    const bool read = next_key_of_either(code, extended);
    reading = 0;
    tcsetattr(tty_fd, TCSANOW, &run_mode);
    return read;
}

bool console_key_waiting()
{
    if (window_key_waiting())
        return true;
    if (!tty_ready())
        return false;
    if (pending_count > 0)
        return true;
    pollfd p = {tty_fd, POLLIN, 0};
    // A hung-up terminal polls readable forever but gives no key.
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) && !(p.revents & (POLLHUP | POLLERR));
}
