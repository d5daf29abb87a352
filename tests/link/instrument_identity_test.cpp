#include "link/instrument_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace fg {
namespace {

InstrumentIdentity Parse(const std::string& reply) {
  InstrumentIdentity id;
  ParseIdentityReply(reply.data(), reply.size(), &id);
  return id;
}

TEST(InstrumentIdentity, FieldsInTheirOrder) {
  const InstrumentIdentity normal = Parse("VANDRELL,WX2050,SN0042,0105-00-01-02-03-0207\n");
  EXPECT_FALSE(normal.writer);
  EXPECT_STREQ(normal.maker, "VANDRELL");
  EXPECT_STREQ(normal.model, "WX2050");
  EXPECT_STREQ(normal.serial, "SN0042");
  EXPECT_STREQ(normal.versions, "0105-00-01-02-03-0207");  // the line end dropped
  EXPECT_EQ(normal.fields, 4);

  const InstrumentIdentity writer = Parse(" WRITER , wx2040 ,  A1 \r\n");
  EXPECT_FALSE(writer.writer);  // the writer's word must open the reply, as the switch tests it
  const InstrumentIdentity writer2 = Parse("WRITER, wx2040 ,  A1 \r\n");
  EXPECT_TRUE(writer2.writer);
  EXPECT_STREQ(writer2.model, "wx2040");
  EXPECT_STREQ(writer2.serial, "A1");
  EXPECT_STREQ(writer2.versions, "");
  EXPECT_EQ(writer2.fields, 3);
}

TEST(InstrumentIdentity, ShortOddAndLongReplies) {
  const InstrumentIdentity anonymous = Parse("WRITER,,SN9,01\n");
  EXPECT_TRUE(anonymous.writer);
  EXPECT_STREQ(anonymous.model, "");
  EXPECT_STREQ(anonymous.serial, "SN9");
  EXPECT_STREQ(anonymous.versions, "01");

  const InstrumentIdentity garbage = Parse("WRITER#?!\x01\x7F~~%%\n");
  EXPECT_TRUE(garbage.writer);
  EXPECT_EQ(garbage.fields, 1);
  EXPECT_STREQ(garbage.maker, "WRITER#?!??~~%%");  // control bytes shown as '?'
  EXPECT_STREQ(garbage.model, "");

  // A serial of 200 characters is kept whole; a model longer than its field is cut, bounded.
  const std::string serial(200, 'S');
  EXPECT_EQ(Parse("VANDRELL,WX2050," + serial + ",01\n").serial, serial);
  EXPECT_EQ(std::string(Parse("VANDRELL," + std::string(100, 'M') + ",S,01").model).size(),
            kIdentityFieldSize - 1);

  // A NUL ends the reply, as it ends the text the switch compares.
  const std::string withNul("WRITER,WX2040\0,junk", 19);
  EXPECT_STREQ(Parse(withNul).model, "WX2040");
  EXPECT_STREQ(Parse(withNul).serial, "");
  EXPECT_EQ(Parse("").fields, 1);
}

TEST(InstrumentIdentity, ModelAgainstTheFile) {
  EXPECT_EQ(MatchModel(Parse("WRITER,WX2040,S,01"), "WX2040"), ModelMatch::kSame);
  EXPECT_EQ(MatchModel(Parse("WRITER,wx2040,S,01"), "WX2040"), ModelMatch::kSame);
  EXPECT_EQ(MatchModel(Parse("WRITER,WX2050,S,01"), "WX2040"), ModelMatch::kOther);
  EXPECT_EQ(MatchModel(Parse("VANDRELL,SB7300,S,01"), "WX2050"), ModelMatch::kOther);
  EXPECT_EQ(MatchModel(Parse("WRITER,,S,01"), "WX2040"), ModelMatch::kNone);
  EXPECT_EQ(MatchModel(Parse("WRITER,XY9,S,01"), "WX2040"), ModelMatch::kNone);
  EXPECT_EQ(MatchModel(Parse("WRITER,WX20,S,01"), "WX2040"), ModelMatch::kNone);  // whole name only
}

}  // namespace
}  // namespace fg
