// The torture's steps are known from what jx-crashfs sees: each step's
// planned kill is one the file system takes, and it fires at the
// operations of that step, under every name the job or a careless manager
// gives its files, and at no other.
#include <gtest/gtest.h>

#include <string>

#include "examples/copyjob/harness/Steps.h"
#include "examples/crashfs/Plan.h"

namespace {

using copyjob::Step;

struct Operation {
  const char* op;
  const char* name;  // as the plan sees it: without its folder, "/" for the root
};

struct StepCase {
  Step step;
  Operation makes[3];       // operations that are this step
  Operation elsewhere[2];   // operations that are not
};

const StepCase kCases[] = {
    {Step::kBlockHalfWritten, {{"write", "1.vol"}, {"write", "12.vol"}, {"write", "3.vol"}},
     {{"write", "state.tmp"}, {"fsync", "1.vol"}}},
    {Step::kBlockWritten, {{"write", "1.vol"}, {"write", "12.vol"}, {"write", "3.vol"}},
     {{"write", "state"}, {"fsync", "1.vol"}}},
    {Step::kBlockSynced, {{"fsync", "1.vol"}, {"fsync", "2.vol"}, {"fsync", "9.vol"}},
     {{"fsync", "state.tmp"}, {"fsyncdir", "destinations"}}},
    {Step::kSaveStarted, {{"create", "state.tmp"}, {"create", "state.new"}, {"create", "state"}},
     {{"create", "1.vol"}, {"write", "state.tmp"}}},
    {Step::kTempHalfWritten, {{"write", "state.tmp"}, {"write", "state.new"}, {"write", "state"}},
     {{"write", "1.vol"}, {"truncate", "state"}}},
    {Step::kTempWritten, {{"write", "state.tmp"}, {"write", "state.new"}, {"write", "state"}},
     {{"write", "2.vol"}, {"fsync", "state.tmp"}}},
    {Step::kTempSynced, {{"fsync", "state.tmp"}, {"fsync", "state.new"}, {"fsync", "state"}},
     {{"fsync", "1.vol"}, {"fsyncdir", "/"}}},
    {Step::kRenamed, {{"rename", "state.tmp"}, {"rename", "state.new"}, {"rename", "state"}},
     {{"rename", "1.vol"}, {"link", "state"}}},
    {Step::kFolderSynced, {{"fsyncdir", "/"}, {"fsyncdir", "/"}, {"fsyncdir", "/"}},
     {{"fsyncdir", "destinations"}, {"fsync", "state"}}},
};

// A kill planned at the third time a step is made fires there, past the
// operations of other steps, and only once.
TEST(TortureSteps, KillAtTheOperationsThatMakeThem) {
  for (const StepCase& c : kCases) {
    const copyjob::StepInfo& info = copyjob::InfoOf(c.step);
    ASSERT_NE(info.event, nullptr) << info.name;
    crashfs::Plan plan;
    std::string error;
    ASSERT_TRUE(plan.Add(copyjob::KillEvent(c.step, 3), &error)) << info.name << ": " << error;
    int fired = 0;
    for (int i = 0; i < 3; ++i) {
      for (const Operation& other : c.elsewhere) {
        EXPECT_FALSE(plan.After(other.op, other.name, "", info.half)) << info.name << " at " << other.op << ":" << other.name;
      }
      const bool killed = plan.After(c.makes[i].op, c.makes[i].name, "", info.half);
      EXPECT_EQ(killed, i == 2) << info.name << " at " << c.makes[i].op << ":" << c.makes[i].name;
      fired += killed;
    }
    EXPECT_FALSE(plan.After(c.makes[0].op, c.makes[0].name, "", info.half)) << info.name << ": fired twice";
    EXPECT_EQ(fired, 1) << info.name;
  }
}

// The others are the relay's: no file operation marks them.
TEST(TortureSteps, TheRestAreTheRelays) {
  int relayed = 0;
  for (int i = 0; i < copyjob::kStepCount; ++i) relayed += copyjob::kSteps[i].event == nullptr;
  EXPECT_EQ(relayed + static_cast<int>(std::size(kCases)), copyjob::kStepCount);
  for (Step step : {Step::kJobStarted, Step::kStateSent, Step::kAckRead}) {
    EXPECT_EQ(copyjob::InfoOf(step).event, nullptr) << copyjob::StepName(step);
    Step named;
    EXPECT_TRUE(copyjob::StepByName(copyjob::StepName(step), &named) && named == step);
  }
}

}  // namespace
