// Opening a firmware file once: regular files only, no link followed, nothing that blocks.
#include "firmware/firmware_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "tests/firmware/firmware_test_files.h"

namespace fg {
namespace {

// Open() on another thread, so that an open that blocks fails the test instead of hanging it.
// A FIFO left waiting is released by opening its other end.
bool OpensWithin(const std::string& path, bool* blocked) {
  auto result = std::async(std::launch::async, [path] {
    FirmwareFile file;
    return file.Open(path.c_str());
  });
  *blocked = result.wait_for(std::chrono::seconds(5)) != std::future_status::ready;
#ifndef _WIN32
  if (*blocked) {
    const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
#endif
  return result.get();
}

struct OpenCase {
  std::string path;
  bool opens;
};

TEST(FirmwareFile, OnlyARegularFileReachedWithoutALinkOpens) {
  test::TempDir dir;
  const std::string regular = dir.File("fw.fq");
  test::WriteFile(regular, "#FileStart\nabc");
  const std::string link = dir.File("link.fq");
#ifdef _WIN32
  // Windows has no FIFOs; its devices are reached by their reserved names.
  std::vector<OpenCase> cases = {
      {regular, true}, {dir.path().string(), false}, {"NUL", false}, {"\\\\.\\NUL", false},
      {dir.File("absent"), false}, {"", false},
  };
  // Left out where no symbolic link can be made (see MakeSymbolicLink).
  if (test::MakeSymbolicLink(regular, link)) cases.push_back({link, false});
  const std::string refused = dir.path().string();
#else
  ASSERT_TRUE(test::MakeSymbolicLink(regular, link));
  const std::string fifo = dir.File("fifo.fq");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<OpenCase> cases = {
      {regular, true},  {link, false},          {fifo, false},        {dir.path(), false},
      {"/dev/zero", false}, {dir.File("absent"), false}, {"", false},
  };
  const std::string refused = link;
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    bool blocked = false;
    EXPECT_EQ(OpensWithin(c.path, &blocked), c.opens);
    EXPECT_FALSE(blocked) << "the open waited";
  }

  FirmwareFile file;
  ASSERT_TRUE(file.Open(regular.c_str()));
  EXPECT_EQ(file.size(), 14);
#ifndef _WIN32
  EXPECT_EQ(fcntl(file.handle(), F_GETFL) & O_NONBLOCK, 0) << "reads of the file block as usual";
#endif
  std::FILE* stream = file.OpenStream();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(std::fgetc(stream), '#');
  std::fclose(stream);
  EXPECT_TRUE(file.isOpen()) << "the stream has a descriptor of its own";

  // Opening what cannot be opened leaves nothing open, not the earlier file.
  EXPECT_FALSE(file.Open(refused.c_str()));
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(file.OpenStream(), nullptr);
}

}  // namespace
}  // namespace fg
