// What one viRead returns when a termination character or a suppressed END shapes it, over a
// session that delivers messages in scripted pieces.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "visa/terminated_read.h"

namespace fg::visa {
namespace {

// Delivers queued messages like a USBTMC session: VI_SUCCESS with a message's last byte,
// VI_SUCCESS_MAX_CNT while the count fills first; a read with nothing queued times out.
class MessageSession : public InstrSession {
 public:
  void Queue(const std::string& message) { messages_.push_back(message); }
  int reads = 0;

  ViStatus Write(const uint8_t*, uint32_t, uint32_t* written, uint32_t) override {
    *written = 0;
    return VI_ERROR_IO;
  }
  ViStatus Read(uint8_t* data, uint32_t count, uint32_t* received, uint32_t) override {
    ++reads;
    *received = 0;
    if (messages_.empty()) return VI_ERROR_TMO;
    std::string& front = messages_.front();
    const size_t n = std::min<size_t>(count, front.size());
    front.copy(reinterpret_cast<char*>(data), n);
    *received = static_cast<uint32_t>(n);
    front.erase(0, n);
    if (!front.empty()) return VI_SUCCESS_MAX_CNT;
    messages_.pop_front();
    return VI_SUCCESS;
  }
  ViStatus Clear(uint32_t) override { return VI_SUCCESS; }

 private:
  std::deque<std::string> messages_;
};

struct Outcome {
  ViStatus status;
  std::string text;
};

class TerminatedReadTest : public ::testing::Test {
 protected:
  Outcome ReadUpTo(uint32_t count, uint32_t timeoutMs = 50) {
    std::string out(count, '\0');
    uint32_t got = 0;
    ViStatus status = TerminatedRead(session_, buffer_, options_,
                                     reinterpret_cast<uint8_t*>(out.data()), count, &got, timeoutMs);
    out.resize(got);
    return {status, out};
  }
  MessageSession session_;
  ReadBuffer buffer_;
  ReadOptions options_;
};

#define EXPECT_READ(outcome, expectedStatus, expectedText) \
  do {                                                    \
    Outcome o = (outcome);                                \
    EXPECT_EQ(o.status, expectedStatus);                  \
    EXPECT_EQ(o.text, expectedText);                      \
  } while (0)

TEST_F(TerminatedReadTest, TermCharEndsEachReadAndKeepsTheRestInOrder) {
  options_.termCharEnabled = true;
  options_.termChar = ',';
  session_.Queue("VANDRELL,WX2040,SN1\n");
  session_.Queue("NEXT\n");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "VANDRELL,");
  EXPECT_EQ(session_.reads, 1);
  // The held bytes serve the next reads without asking the session.
  EXPECT_READ(ReadUpTo(3), VI_SUCCESS_MAX_CNT, "WX2");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "040,");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS, "SN1\n");  // the message's end
  EXPECT_EQ(session_.reads, 1);
  // A term char as the very last byte of a message is still reported as the term char.
  options_.termChar = '\n';
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "NEXT\n");
  EXPECT_TRUE(buffer_.bytes.empty());
}

TEST_F(TerminatedReadTest, AHeldStartOfAMessageIsContinuedFromTheSession) {
  options_.termCharEnabled = true;
  options_.termChar = ';';
  session_.Queue("ab;cdefgh;ij");
  // The first session read fills the count (4 bytes): "ab;" returned, "c" held, the rest of the
  // message still in the device.
  EXPECT_READ(ReadUpTo(4), VI_SUCCESS_TERM_CHAR, "ab;");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "cdefgh;");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS, "ij");
  // Nothing more: a timeout with nothing read.
  EXPECT_READ(ReadUpTo(64), VI_ERROR_TMO, "");
}

TEST_F(TerminatedReadTest, SuppressedEndReadsOnUntilTheTermCharOrTheCount) {
  options_.suppressEnd = true;
  options_.termCharEnabled = true;
  options_.termChar = '\n';
  session_.Queue("part one ");
  session_.Queue("and two\nrest");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "part one and two\n");
  // Without a term char in reach, the count ends the read...
  session_.Queue("xyz");
  EXPECT_READ(ReadUpTo(5), VI_SUCCESS_MAX_CNT, "restx");
  // ...or the timeout does, keeping what was read.
  EXPECT_READ(ReadUpTo(64), VI_ERROR_TMO, "yz");
}

TEST_F(TerminatedReadTest, WithoutTermCharHeldBytesEndAtTheMessageEnd) {
  options_.termCharEnabled = true;
  options_.termChar = ',';
  session_.Queue("a,b,c");
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "a,");
  options_.termCharEnabled = false;
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS, "b,c");
  buffer_.Discard();
  session_.Queue("x,y");
  options_.termCharEnabled = true;
  EXPECT_READ(ReadUpTo(64), VI_SUCCESS_TERM_CHAR, "x,");
  buffer_.Discard();  // viFlush(VI_READ_BUF_DISCARD)
  EXPECT_READ(ReadUpTo(64), VI_ERROR_TMO, "");
}

}  // namespace
}  // namespace fg::visa
