#include "Support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vemtest {

bool ChannelEnd::Send(char c) const {
  ssize_t n;
  do {
    n = write(m_writeFd, &c, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1;
}

char ChannelEnd::Receive(int timeoutMs) const {
  pollfd pfd{m_readFd, POLLIN, 0};
  int rc;
  do {
    rc = poll(&pfd, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0) return '\0';
  char c = '\0';
  ssize_t n;
  do {
    n = read(m_readFd, &c, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1 ? c : '\0';
}

ChildProcess::ChildProcess(std::function<int(const ChannelEnd& parent)> body) {
  int toChild[2];
  int toParent[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed for a child process");
  if (pipe2(toParent, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    throw std::runtime_error("pipe2 failed for a child process");
  }
  m_pid = fork();
  if (m_pid < 0) {
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
    throw std::runtime_error("fork failed");
  }
  if (m_pid == 0) {
    close(toChild[1]);
    close(toParent[0]);
    int code = 125;
    try {
      code = body(ChannelEnd(toChild[0], toParent[1]));
    } catch (...) {
    }
    _exit(code);
  }
  close(toChild[0]);
  close(toParent[1]);
  m_fds[0] = toParent[0];
  m_fds[1] = toChild[1];
  m_channel = ChannelEnd(m_fds[0], m_fds[1]);
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    Wait();
  }
  for (int fd : m_fds)
    if (fd >= 0) close(fd);
}

int ChildProcess::Wait() {
  if (m_pid <= 0) return -1;
  int status = 0;
  pid_t rc;
  do {
    rc = waitpid(m_pid, &status, 0);
  } while (rc < 0 && errno == EINTR);
  m_pid = -1;
  if (rc < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace vemtest
