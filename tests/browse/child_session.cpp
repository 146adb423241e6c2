#include "browse/child_session.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace morvane::test {
long NowMs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

void WriteReport(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

ChildSession::ChildSession(bool with_terminal, const std::function<void(int)>& body) {
    int slave = -1;
    if (with_terminal) {
        struct winsize size = {24, 80, 0, 0};
        if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) return;
    }
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        close(pipe_fds[0]);
        setsid();
        if (with_terminal) {
            close(master_);
            ioctl(slave, TIOCSCTTY, 0);
        }
        body(pipe_fds[1]);
        _exit(0);
    }
    close(pipe_fds[1]);
    if (slave >= 0) close(slave);
    report_ = pipe_fds[0];
}

ChildSession::~ChildSession() {
    if (pid_ > 0) Wait(0);
    if (master_ >= 0) close(master_);
    if (report_ >= 0) close(report_);
}

void ChildSession::Drain(int timeout_ms) {
    if (master_ < 0) return;
    struct pollfd ready = {master_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) <= 0) return;
    if ((ready.revents & POLLIN) == 0) {  // the child has let go of the terminal
        usleep(1000);
        return;
    }
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
}

bool ChildSession::WaitForOutput(const std::string& text, int timeout_ms) {
    const long end = NowMs() + timeout_ms;
    while (output_.find(text) == std::string::npos) {
        const long left = end - NowMs();
        if (left <= 0) return false;
        Drain(static_cast<int>(left));
    }
    return true;
}

void ChildSession::Type(const std::string& keys) {
    if (master_ >= 0) WriteReport(master_, keys);
}

void ChildSession::HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

std::string ChildSession::Report(int timeout_ms) {
    std::string report;
    const long end = NowMs() + timeout_ms;
    while (report_ >= 0) {
        const long left = end - NowMs();
        if (left <= 0) return std::string();
        struct pollfd fds[2] = {{report_, POLLIN, 0}, {master_, POLLIN, 0}};
        if (poll(fds, master_ >= 0 ? 2 : 1, static_cast<int>(left)) <= 0) continue;
        if (master_ >= 0 && (fds[1].revents & POLLIN) != 0) Drain(0);  // keep the pty flowing
        if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) continue;
        char buffer[256];
        const ssize_t n = read(report_, buffer, sizeof buffer);
        if (n <= 0) break;
        report.append(buffer, static_cast<size_t>(n));
    }
    return report;
}

int ChildSession::Wait(int timeout_ms) {
    if (pid_ <= 0) return -1;
    const long end = NowMs() + timeout_ms;
    int status = 0;
    for (;;) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) break;
        if (NowMs() >= end) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        Drain(5);
        if (master_ < 0) usleep(2000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace morvane::test
