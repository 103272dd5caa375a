// A forked child process running a function, with a two-way byte channel to
// the parent for handshakes ("I hold the lock", "release it now"). The
// child ends with _exit(body's result): no static destructors or exit
// handlers run in it, as for a process that is killed.
#pragma once

#include <sys/types.h>

#include <functional>

namespace vemtest {

// One end of the channel between parent and child.
class ChannelEnd {
 public:
  ChannelEnd(int readFd, int writeFd) : m_readFd(readFd), m_writeFd(writeFd) {}
  // Sends one byte; false when the other side is gone.
  bool Send(char c) const;
  // Waits up to timeoutMs for one byte; answers '\0' on timeout, end of
  // channel or error (so a test fails instead of hanging).
  char Receive(int timeoutMs = 10000) const;

 private:
  int m_readFd;
  int m_writeFd;
};

class ChildProcess {
 public:
  // Forks; the child runs body with its end of the channel and _exits with
  // its result (an exception in body ends the child with 125). Fork only
  // while no other thread of the test runs.
  explicit ChildProcess(std::function<int(const ChannelEnd& parent)> body);
  // Kills and reaps the child if it is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  const ChannelEnd& channel() const { return m_channel; }
  // Waits for the child to end; answers its exit code, or -1 when it did not
  // exit normally (or was already reaped).
  int Wait();

 private:
  pid_t m_pid = -1;
  int m_fds[2] = {-1, -1};  // parent's read end, parent's write end
  ChannelEnd m_channel{-1, -1};
};

}  // namespace vemtest
