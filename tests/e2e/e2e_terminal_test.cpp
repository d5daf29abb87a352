// flintgate-cli on a terminal 20 columns wide, a pseudo-terminal: what it redraws in place never
// reaches the last column, so it never wraps, and the screen ends with the log lines and the
// messages whole and the board's last rows, without a stale piece of an earlier drawing.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "e2e_harness.h"

extern char** environ;

namespace fg::e2e {
namespace {

constexpr unsigned short kColumns = 20;

struct TerminalRun {
  int status = -1;  // exit status, 128 + the signal that ended it, -1 when it never ended
  std::string output;
};

// Runs the program of `options` with a new pseudo-terminal `columns` wide as its controlling
// terminal and its three standard streams; returns all it wrote there.
TerminalRun RunOnTerminal(const testing::ChildOptions& options, unsigned short columns,
                          int timeoutMs) {
  TerminalRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return run;
  const std::string slave = ptsname(master);
  struct winsize size {};
  size.ws_row = 50;
  size.ws_col = columns;
  ioctl(master, TIOCSWINSZ, &size);

  // Everything the child needs is made before the fork; after it only system calls follow.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = std::find(options.unsetEnv.begin(), options.unsetEnv.end(), name) !=
                    options.unsetEnv.end();
    for (const std::string& set : options.env) {
      replaced = replaced || set.substr(0, set.find('=')) == name;
    }
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), options.env.begin(), options.env.end());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = options.args;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) {
    close(master);
    return run;
  }
  if (child == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setsid();  // a session of its own, whose controlling terminal the slave becomes
    const int fd = open(slave.c_str(), O_RDWR);
    if (fd < 0) _exit(126);
    for (int stream = 0; stream < 3; ++stream) dup2(fd, stream);
    if (fd > 2) close(fd);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    struct pollfd p {master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once every holder of the slave has closed it
    run.output.append(buffer, static_cast<size_t>(n));
  }
  // The slave closes as the child exits, a moment before it can be reaped.
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ended == child) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  close(master);
  return run;
}

// A terminal of `columns` columns as far as flintgate-cli uses one: printable characters with
// the automatic wrap at the last column (the cursor waits there until the next character, as in
// xterm), CR, LF, and the controls ESC[nF (up n rows), ESC[K and ESC[J (erase to the end of
// the row, of the screen).
class Screen {
 public:
  explicit Screen(size_t columns) : columns_(columns) {}

  void Feed(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c == '\033' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        size_t end = i + 2;
        while (end < bytes.size() && !std::isalpha(static_cast<unsigned char>(bytes[end]))) ++end;
        if (end == bytes.size()) break;
        Control(bytes[end], std::atoi(bytes.substr(i + 2, end - i - 2).c_str()));
        i = end;
      } else if (c == '\r') {
        col_ = 0;
        wrapPending_ = false;
      } else if (c == '\n') {
        Down(false);
      } else if (static_cast<unsigned char>(c) >= 0x20) {
        Put(c);
      }
    }
  }

  // The lines as the screen shows them: rows joined where the terminal wrapped them, empty rows
  // at the end left out.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (size_t r = 0; r < rows_.size(); ++r) {
      if (r > 0 && wrapped_[r]) {
        lines.back() += rows_[r];
      } else {
        lines.push_back(rows_[r]);
      }
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }

  // Erasures that began on a row the terminal had wrapped onto: the rows above it kept the
  // start of that line, a stale piece.
  const std::vector<std::string>& staleErasures() const { return stale_; }

 private:
  void Row() {
    while (rows_.size() <= row_) {
      rows_.emplace_back();
      wrapped_.push_back(false);
    }
  }
  void Down(bool wrap) {
    ++row_;
    Row();
    if (wrap) {
      wrapped_[row_] = true;
      col_ = 0;
    }
    wrapPending_ = false;
  }
  void Put(char c) {
    Row();
    if (wrapPending_) Down(true);
    std::string& row = rows_[row_];
    if (row.size() <= col_) row.resize(col_ + 1, ' ');
    row[col_] = c;
    if (col_ + 1 == columns_) {
      wrapPending_ = true;
    } else {
      ++col_;
    }
  }
  void Erase(bool below) {
    Row();
    if (col_ == 0 && wrapped_[row_]) {
      stale_.push_back(rows_[row_ - 1] + "|" + rows_[row_]);
    }
    if (col_ == 0) wrapped_[row_] = false;
    if (rows_[row_].size() > col_) rows_[row_].resize(col_);
    if (below) {
      rows_.resize(row_ + 1);
      wrapped_.resize(row_ + 1);
    }
  }
  void Control(char final, int n) {
    switch (final) {
      case 'F':
        row_ = row_ >= static_cast<size_t>(std::max(n, 1)) ? row_ - std::max(n, 1) : 0;
        col_ = 0;
        wrapPending_ = false;
        break;
      case 'K': Erase(false); break;
      case 'J': Erase(true); break;
      default: break;
    }
  }

  size_t columns_;
  std::vector<std::string> rows_;
  std::vector<bool> wrapped_;  // the row continues the one above it
  size_t row_ = 0;
  size_t col_ = 0;
  bool wrapPending_ = false;
  std::vector<std::string> stale_;
};

// What is written after each ESC[K, up to the next control: the lines redrawn in place.
std::vector<std::string> RedrawnPieces(const std::string& output) {
  std::vector<std::string> pieces;
  for (size_t at = output.find("\033[K"); at != std::string::npos;
       at = output.find("\033[K", at + 1)) {
    size_t end = at + 3;
    while (end < output.size() && static_cast<unsigned char>(output[end]) >= 0x20) ++end;
    pieces.push_back(output.substr(at + 3, end - at - 3));
  }
  return pieces;
}

class TerminalTest : public E2eTest {
 protected:
  // Runs `flintgate-cli update FILE ARGS --yes` on the terminal; checks that every redrawn line
  // stayed within the columns and that nothing was erased in the middle of a wrapped line.
  std::vector<std::string> UpdateOnTerminal(const fs::path& firmware,
                                            const std::vector<std::string>& args,
                                            size_t* progressDrawings) {
    std::vector<std::string> argv = {FG_CLI_PATH, "update", firmware.string(), "--yes"};
    argv.insert(argv.end(), args.begin(), args.end());
    const TerminalRun run = RunOnTerminal(Options(argv, true), kColumns, 120000);
    EXPECT_EQ(run.status, 0) << run.output;
    *progressDrawings = 0;
    for (const std::string& piece : RedrawnPieces(run.output)) {
      EXPECT_LT(piece.size(), kColumns) << "redrawn: " << piece;
      if (piece.find("%") != std::string::npos) ++*progressDrawings;
    }
    Screen screen(kColumns);
    screen.Feed(run.output);
    EXPECT_TRUE(screen.staleErasures().empty()) << screen.staleErasures().front();
    return screen.Lines();
  }
};

TEST_F(TerminalTest, OneInstrumentsProgressLineNeverWrapsAndLeavesTheLogWhole) {
  StartSim({"WX2040:A"}, {"--program-ms", "4"});
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const std::string resource = "USB0::0x2E5B::0x3A01::A::INSTR";
  size_t drawings = 0;
  const std::vector<std::string> screen = UpdateOnTerminal(fw, {"--device", resource}, &drawings);
  EXPECT_GT(drawings, 3u);
  EXPECT_EQ(screen, (std::vector<std::string>{
                        "Open File: " + fw.string(),
                        "Connecting ... OK",
                        "Confirm Firmware Update: Are you sure you want to update " + resource +
                            "? yes (--yes)",
                        "Updating ... OK",
                        kCompleted,
                    }));
}

TEST_F(TerminalTest, TheBoardShowsShortRowsAndTheSummaryOneRecordPerLine) {
  StartSim({"WX2040:A", "WX2040:B", "WX2050:C"}, {"--program-ms", "4"});
  const fs::path fw = MakeFirmware("WX2040", "wx2040.fq");
  const std::string a = "USB0::0x2E5B::0x3A01::A::INSTR";
  const std::string b = "USB0::0x2E5B::0x3A01::B::INSTR";
  size_t drawings = 0;
  const std::vector<std::string> screen = UpdateOnTerminal(fw, {"--all"}, &drawings);
  EXPECT_GT(drawings, 3u);
  const std::vector<std::string> start = {
      "Open File: " + fw.string(),
      "Instruments to update (2):",
      "  " + a,
      "  " + b,
      "Confirm Firmware Update: Are you sure you want to update these 2 instruments? yes (--yes)",
      "A 100% completed",
      "B 100% completed",
      "",
  };
  ASSERT_EQ(screen.size(), start.size() + 2) << ::testing::PrintToString(screen);
  EXPECT_EQ(std::vector<std::string>(screen.begin(), screen.begin() + 8), start);
  for (size_t i = 0; i < 2; ++i) {
    const std::string& record = screen[start.size() + i];
    EXPECT_EQ(record.rfind((i == 0 ? a : b) + ": completed, 0x0000, ", 0), 0u) << record;
    EXPECT_EQ(record.substr(record.size() - 2), " s") << record;
  }
}

}  // namespace
}  // namespace fg::e2e
