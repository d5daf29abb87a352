// The width of a terminal, measured on a pseudo-terminal whose size the test sets: measured once,
// and again only after the terminal reported a resize (SIGWINCH).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/terminal.h"

namespace fg {
namespace {

bool Resize(int fd, unsigned short columns) {
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = columns;
  return ioctl(fd, TIOCSWINSZ, &size) == 0;
}

TEST(TerminalWidth, MeasuredOnceAndAgainAfterAResize) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  std::FILE* terminal = fdopen(slave, "w");
  ASSERT_NE(terminal, nullptr);
  ASSERT_TRUE(Resize(master, 33));

  platform::TerminalWidth width;
  width.stream = terminal;
  EXPECT_EQ(platform::TerminalColumns(&width), 33);
  // This process is not in the terminal's session, so nobody tells it of this resize.
  ASSERT_TRUE(Resize(master, 57));
  EXPECT_EQ(platform::TerminalColumns(&width), 33);
  ASSERT_EQ(raise(SIGWINCH), 0);
  EXPECT_EQ(platform::TerminalColumns(&width), 57);
  platform::TerminalWidth other;  // a second front end measures for itself
  other.stream = terminal;
  EXPECT_EQ(platform::TerminalColumns(&other), 57);

  std::FILE* file = std::tmpfile();
  platform::TerminalWidth notATerminal;
  notATerminal.stream = file;
  EXPECT_EQ(platform::TerminalColumns(&notATerminal), 0);
  std::fclose(file);
  std::fclose(terminal);
  close(master);
}

}  // namespace
}  // namespace fg
