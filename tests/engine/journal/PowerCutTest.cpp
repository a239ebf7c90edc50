// A power cut at any step of a run, with what the system had not yet written lost, kept or torn as a seed
// decides: after the restart the recovery leaves the client at the old or the new version byte for byte,
// with nothing of the run's own, and the same patch then makes it new.
#include <gtest/gtest.h>

#include <cstdlib>

#include "EngineTestSupport.h"
#include "PowerCutFileSystem.h"
#include "engine/journal/Transaction.h"

namespace {

using enginetest::PowerCutFileSystem;
using enginetest::RandomBytes;
using enginetest::Tree;
using Lock = PowerCutFileSystem::Lock;

// The names where `found` differs from `wanted`: + extra, - missing, ~ other bytes.
std::string Difference(const Tree& found, const Tree& wanted) {
  std::string out;
  for (const auto& file : found) {
    const auto other = wanted.find(file.first);
    if (other == wanted.end())
      out += " +" + file.first;
    else if (other->second != file.second)
      out += " ~" + file.first;
  }
  for (const auto& file : wanted)
    if (!found.count(file.first)) out += " -" + file.first;
  return out;
}

// Seeds a step: in the suite every all-or-none choice (0 to 7) and a few at random, TESSERINE_POWER_CUT_SEEDS
// for a long run.
uint32_t SeedsPerStep() {
  const char* wanted = std::getenv("TESSERINE_POWER_CUT_SEEDS");
  return wanted ? static_cast<uint32_t>(std::strtoul(wanted, nullptr, 10)) : 10;
}

TEST(PowerCutModel, ASyncedWriteSurvivesAndAnUnsyncedOneMayNot) {
  PowerCutFileSystem fs(Tree{});
  std::unique_ptr<rtp::Sink> synced, unsynced;
  ASSERT_EQ(fs.Create("synced", &synced), rtp::FsStatus::Ok);
  ASSERT_TRUE(synced->WriteAt(0, rtp::ByteView("on the disk")) && synced->Sync());
  ASSERT_EQ(fs.Create("unsynced", &unsynced), rtp::FsStatus::Ok);
  ASSERT_TRUE(unsynced->WriteAt(0, rtp::ByteView("in the cache")));
  ASSERT_EQ(fs.SyncFolder(""), rtp::FsStatus::Ok);
  std::set<std::string> seen;
  for (uint32_t seed = 0; seed < 32; ++seed) {
    const Tree disk = fs.AfterPowerCut(seed);
    EXPECT_EQ(disk.at("synced"), "on the disk");
    seen.insert(disk.at("unsynced"));
  }
  EXPECT_TRUE(seen.count("in the cache") && seen.count(std::string(12, '\0'))) << "kept once, lost once";
}

// What the client has in use while it is patched.
struct InUse {
  const char* what;
  std::map<std::string, Lock> locks;
};
void PrintTo(const InUse& use, std::ostream* out) {
  *out << use.what;
}

// One test a row, each within the suite's time for one test.
class PowerCut : public ::testing::TestWithParam<InUse> {
 protected:
  void SetUp() override {
    before = {{"bin\\big.exe", RandomBytes(1, 300000)},
              {"data\\big.pak", RandomBytes(2, 290000)},
              {"data\\gone.pak", RandomBytes(3, 270000)},
              {"common.ini", "build=4526\r\n"},
              {"script\\a.code", RandomBytes(4, 7000)},
              {"script\\gone.code", "bye"},
              {"keep.txt", "kept"}};
    after = before;
    after["bin\\big.exe"].replace(150000, 7, "changed");
    after["data\\big.pak"].replace(1000, 9, "also new!");
    after.erase("data\\gone.pak");
    after.erase("script\\gone.code");
    after["common.ini"] = "build=4536\r\n";
    after["script\\a.code"] = RandomBytes(5, 7500);
    after["script\\new.code"] = RandomBytes(6, 3000);
    after["data\\new.pak"] = RandomBytes(7, 280000);
    patch = enginetest::BuildBetween(work.path(), before, after);
  }

  enginetest::TempFolder work;
  Tree before, after;
  std::string patch;

  // Patches with `row` in use, the power cut at every step of the run, with every seed.
  void CutAtEveryStep(const InUse& row) {
    const uint32_t seeds = SeedsPerStep();
    PowerCutFileSystem whole(before);
    for (const auto& lock : row.locks) whole.LockFile(lock.first, lock.second);
    enginetest::RecordingListener listener;
    ASSERT_EQ(rtp::ApplyPatch(enginetest::View(patch), whole, listener), rtp::kOk)
        << row.what << listener.Dump();
    // Success means new after the restart, with no recovery needed and nothing of the run's left.
    const Tree restarted = whole.AfterRestart();
    EXPECT_TRUE(restarted == after) << row.what << ":" << Difference(restarted, after);
    int failures = 0;
    // The last cut comes after the run has reported success.
    for (int cut = 0; cut <= whole.steps && failures < 3; ++cut) {
      for (uint32_t seed = 0; seed < seeds && failures < 3; ++seed) {
        PowerCutFileSystem cutShort(before);
        for (const auto& lock : row.locks) cutShort.LockFile(lock.first, lock.second);
        cutShort.cutAt = cut;
        enginetest::RecordingListener ignored;
        rtp::ApplyPatch(enginetest::View(patch), cutShort, ignored);
        // The recovery itself is cut short by the power just after it ends.
        PowerCutFileSystem recovering(cutShort.AfterPowerCut(seed));
        rtp::RecoverInterruptedRun(recovering);
        PowerCutFileSystem restarted(recovering.AfterPowerCut(seed + 1));
        const rtp::Recovery recovered = rtp::RecoverInterruptedRun(restarted).what;
        const Tree client = restarted.Current();
        // The installer finds the new build, or runs the patch again on the old one.
        enginetest::RecordingListener again;
        const uint32_t result =
            client == before ? rtp::ApplyPatch(enginetest::View(patch), restarted, again) : rtp::kOk;
        const bool sound = recovered != rtp::Recovery::Failed && (client == before || client == after) &&
                           result == rtp::kOk && restarted.Current() == after;
        if (sound) continue;
        ++failures;
        ADD_FAILURE() << row.what << ": power cut at step " << cut << " of " << whole.steps << ", seed "
                      << seed << ": recovery " << static_cast<int>(recovered) << ", client "
                      << (client == before  ? "old"
                          : client == after ? "new"
                                            : "neither")
                      << " (against old:" << Difference(client, before) << "), run again " << result
                      << again.Dump();
      }
    }
  }
};

TEST_P(PowerCut, AtEveryStepTheRestartedClientIsOldOrNewAndThenPatchesToNew) {
  CutAtEveryStep(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    EveryUse, PowerCut,
    ::testing::Values(InUse{"NothingInUse", {}},
                      // Renamed aside, but its backup cannot be deleted until the restart.
                      InUse{"ARunningProgram", {{"bin\\big.exe", Lock::Running}}},
                      // Replaced and deleted only at the restart.
                      InUse{"FilesHeldOpen", {{"data\\big.pak", Lock::Held}, {"data\\gone.pak", Lock::Held}}},
                      InUse{"ASmallFileHeldOpen", {{"common.ini", Lock::Held}}}),
    [](const ::testing::TestParamInfo<InUse>& info) { return std::string(info.param.what); });

}  // namespace
