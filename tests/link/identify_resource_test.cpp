#include "link/identify_resource.h"

#include <gtest/gtest.h>

#include "tests/visa/support/scripted_fixture.h"

namespace fg {
namespace {

const std::string kWriter = "USB0::0x2E5B::0x3A01::W1::INSTR";
const std::string kSilent = "USB0::0x2E5B::0x3A01::S1::INSTR";

class IdentifyResourceTest : public fg::testing::ScriptedVisaTest {};

TEST_F(IdentifyResourceTest, AsksOnceAndClosesWhateverHappens) {
  first_->AddResource(kWriter);
  first_->SetResponder(kWriter, [](const std::string& m) {
    return m == "*IDN?\n" ? std::string("WRITER,WX2050,W1,0105-01\n") : std::string();
  });
  first_->AddResource(kSilent);

  InstrumentIdentity id;
  ASSERT_EQ(IdentifyResource(kWriter.c_str(), &id), 0);
  EXPECT_TRUE(id.writer);
  EXPECT_STREQ(id.model, "WX2050");
  EXPECT_STREQ(id.serial, "W1");

  // An instrument that never answers costs the short timeout, not the link's ten seconds.
  EXPECT_EQ(IdentifyResource(kSilent.c_str(), &id), kIdentifyNoReply);
  EXPECT_STREQ(id.model, "");
  uint32_t readTimeout = 0;
  for (const visa::ScriptedEvent& e : first_->Events())
    if (e.kind == visa::ScriptedEvent::kRead && e.resource == kSilent) readTimeout = e.timeoutMs;
  EXPECT_EQ(readTimeout, kIdentifyIoTimeoutMs);

  EXPECT_EQ(IdentifyResource("USB0::0x2E5B::0x3A01::GONE::INSTR", &id), kIdentifyOpenFailed);
  EXPECT_EQ(first_->OpenSessionCount(), 0u);
}

}  // namespace
}  // namespace fg
