#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/unique.h"

namespace iniplugin {
namespace {

// A handle that records its closes: a negative one fails to close, as a descriptor whose
// last bytes could not be written does.
std::vector<int> g_closed;

struct RecordingTraits {
  using Type = int;
  static int Invalid() { return 0; }
  static bool Close(int value) {
    g_closed.push_back(value);
    return value > 0;
  }
};
using Owner = platform::UniqueResource<RecordingTraits>;

struct OwnerCase {
  const char* name;
  void (*run)();
  std::vector<int> closed;  // in order, after the owners went out of scope
};

class UniqueResourceTest : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(UniqueResourceTest, ClosesEachValueExactlyOnce) {
  g_closed.clear();
  GetParam().run();
  EXPECT_EQ(g_closed, GetParam().closed);
}

const OwnerCase kOwnerCases[] = {
    {"DestructorCloses", [] { Owner owner(7); }, {7}},
    {"NothingHeldNothingClosed",
     [] {
       Owner owner;
       EXPECT_FALSE(owner.Valid());
       owner.Reset();
     },
     {}},
    {"InvalidValueIsNeverClosed", [] { Owner owner(0); }, {}},
    {"ReleaseGivesUpWithoutClosing",
     [] {
       Owner owner(7);
       EXPECT_EQ(owner.Release(), 7);
       EXPECT_FALSE(owner.Valid());
     },
     {}},
    {"ResetClosesTheOldValue",
     [] {
       Owner owner(7);
       owner.Reset(8);
       EXPECT_EQ(owner.Get(), 8);
     },
     {7, 8}},
    {"MoveLeavesTheSourceEmpty",
     [] {
       Owner from(7);
       Owner to(std::move(from));
       EXPECT_FALSE(from.Valid());
       EXPECT_EQ(to.Get(), 7);
     },
     {7}},
    {"MoveAssignmentClosesWhatTheTargetHeld",
     [] {
       Owner from(7);
       Owner to(8);
       to = std::move(from);
       EXPECT_EQ(to.Get(), 7);
     },
     {8, 7}},
    {"SelfMoveAssignmentKeepsTheValue",
     [] {
       Owner owner(7);
       Owner& same = owner;
       owner = std::move(same);
       EXPECT_EQ(owner.Get(), 7);
     },
     {7}},
    {"ReceiveClosesTheOldValueAndOwnsWhatIsPutThere",
     [] {
       Owner owner(7);
       int* slot = owner.Receive();
       EXPECT_EQ(*slot, 0);
       *slot = 9;
       EXPECT_TRUE(owner.Valid());
     },
     {7, 9}},
    {"CloseReportsSuccessAndClosesOnce",
     [] {
       Owner owner(7);
       EXPECT_TRUE(owner.Close());
       EXPECT_FALSE(owner.Valid());
     },
     {7}},
    {"CloseReportsAFailedClose",
     [] {
       Owner owner(-3);
       EXPECT_FALSE(owner.Close());
       EXPECT_FALSE(owner.Valid());  // not closed again by the destructor
     },
     {-3}},
    {"CloseOfNothingSucceeds",
     [] {
       Owner owner;
       EXPECT_TRUE(owner.Close());
     },
     {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, UniqueResourceTest, ::testing::ValuesIn(kOwnerCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iniplugin
