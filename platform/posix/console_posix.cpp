// The system console on POSIX hosts.
//
// Wide text is converted to UTF-8 and written through the same narrow
// stream as everything else: glibc fixes a stream's orientation at its first
// use, and a wide write after a narrow one would print nothing.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/console.h"

namespace {

// The signals that end the process by default and may come while the
// terminal is raw: from another process (SIGTERM, SIGINT, SIGQUIT) or from
// the terminal going away (SIGHUP).
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};

// The terminal that is raw and its settings before, for the signal handler.
volatile sig_atomic_t g_rawTerminal = -1;
termios g_cookedModes;

// Puts the terminal back, then lets the signal end the process as it would
// have: the handler was reset to the default on entry, and the signal raised
// here is delivered as soon as the handler returns.
void RestoreTerminalAndEnd(int signal) {
  const int fd = g_rawTerminal;
  if (fd >= 0) ::tcsetattr(fd, TCSANOW, &g_cookedModes);
  ::raise(signal);
}

// The terminal in raw mode for one key read, and handlers that put it back
// if a signal ends the process meanwhile. Dispositions the program chose
// itself (ignored, or handled) are left alone.
class RawTerminal {
 public:
  RawTerminal(int fd, const termios& cooked) : fd_(fd) {
    g_cookedModes = cooked;
    g_rawTerminal = fd;
    struct sigaction handler {};
    handler.sa_handler = RestoreTerminalAndEnd;
    handler.sa_flags = SA_RESETHAND;
    sigemptyset(&handler.sa_mask);
    for (int signal : kEndingSignals) sigaddset(&handler.sa_mask, signal);
    for (size_t i = 0; i < kSignals; ++i) {
      struct sigaction current {};
      installed_[i] =
          ::sigaction(kEndingSignals[i], nullptr, &current) == 0 &&
          current.sa_handler == SIG_DFL &&
          ::sigaction(kEndingSignals[i], &handler, &previous_[i]) == 0;
    }
  }
  ~RawTerminal() {
    ::tcsetattr(fd_, TCSANOW, &g_cookedModes);
    g_rawTerminal = -1;
    for (size_t i = 0; i < kSignals; ++i) {
      if (installed_[i]) ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
    }
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

 private:
  static constexpr size_t kSignals = sizeof kEndingSignals / sizeof(int);
  int fd_;
  bool installed_[kSignals] = {};
  struct sigaction previous_[kSignals] = {};
};

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

class PosixConsole : public Console {
 public:
  void Write(const char* text, size_t length) override {
    std::fwrite(text, 1, length, stdout);
  }

  void WriteWide(const OLECHAR* text, size_t length) override {
    std::string utf8;
    for (size_t i = 0; i < length; ++i) {
      uint32_t unit = text[i];
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length &&
          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        uint32_t low = text[++i];
        AppendUtf8(&utf8, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      } else if (unit >= 0xD800 && unit <= 0xDFFF) {
        AppendUtf8(&utf8, 0xFFFD);  // a lone surrogate has no character
      } else {
        AppendUtf8(&utf8, unit);
      }
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  }

  void Flush() override { std::fflush(stdout); }

  int ReadInputByte() override {
    int c = std::getchar();
    return c == EOF ? -1 : c;
  }

  // Reads from the controlling terminal, not standard input: the serial
  // number may have come through a pipe, but the final key must come from
  // the operator. The terminal leaves canonical, echoing mode only for the
  // duration of the read. Control keys are keys then, as at a console: ^C,
  // ^\ and ^Z neither end nor stop the tool, ^S and ^Q do not hold the
  // output, and all are swallowed like any key but space.
  int ReadKey() override {
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios saved;
    if (::tcgetattr(fd, &saved) != 0) {
      ::close(fd);
      return -1;
    }
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    unsigned char key = 0;
    ssize_t got = -1;
    {
      RawTerminal guard(fd, saved);
      if (::tcsetattr(fd, TCSANOW, &raw) == 0) {
        do {
          got = ::read(fd, &key, 1);
        } while (got < 0 && errno == EINTR);
      }
    }
    ::close(fd);
    return got == 1 ? key : -1;
  }
};

}  // namespace

Console& SystemConsole() {
  static PosixConsole console;
  return console;
}
