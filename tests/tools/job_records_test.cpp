#include "tools/job_records.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "sim/temp_folder.h"
#include "tests/sim/unusual_files.h"
#include "tools/records_command.h"

namespace {

// Lines of a record as the tool writes them, by hand.
std::string Job(const std::string& started, int format = 1) {
  return R"({"entry":"job","ms":0,"format":)" + std::to_string(format) +
         R"(,"tool":"ecuprog","version":"1.0.0","started":")" + started +
         R"(","pc":"BAY-PC","user":"müller","process":42})"
         "\n";
}
const std::string kFirmware =
    R"({"entry":"firmware","ms":1,"target":"W3","release":"1.463.1"})"
    "\n";
std::string Unit(int serial, const std::string& label = "\"Test cell 1\"",
                 const std::string& release = R"("1.462.7")") {
  return R"({"entry":"unit","ms":2,"serial":)" + std::to_string(serial) +
         R"(,"label":)" + label + R"(,"model":"W3","code release":)" + release +
         "}\n";
}
// Identity 0 is known in two groups; the unit grants full access in group
// 1 only, so group 1's name is the one it was programmed under.
const std::string kIdentity =
    R"({"entry":"call","ms":3,"call":"GetIdentities","result":"0x00000000","identities":[[2,0,1],[1,0,0]]})"
    "\n"
    R"({"entry":"call","ms":3,"call":"GetIdentityName","result":"0x00000000","identity group":2,"identity id":0,"name":"Visitor"})"
    "\n"
    R"({"entry":"call","ms":3,"call":"GetIdentityName","result":"0x00000000","identity group":1,"identity id":0,"name":"Werkstatt München"})"
    "\n"
    R"({"entry":"call","ms":4,"call":"GetCodeProgrammer","result":"0x00000000","unit key a":257,"identity id":0,"given":true})"
    "\n";
std::string Step(const std::string& step) {
  return R"({"entry":"step","ms":5,"step":")" + step +
         R"("})"
         "\n";
}
std::string StepEnd(const std::string& step) {
  return R"({"entry":"step end","ms":6,"step":")" + step +
         R"(","result":"0x00000000"})"
         "\n";
}
std::string End(int code, const std::string& message) {
  return R"({"entry":"end","ms":7,"message":")" + message +
         R"(","exit code":)" + std::to_string(code) + "}\n";
}
const std::string kStarted = "2026-12-11T03:04:05.123Z";
const std::string kJob = Job(kStarted) + kFirmware + Unit(4711) + kIdentity;

struct RecordCase {
  const char* name;
  std::string text;
  RecordVerdict verdict;
  std::string outcomeOrWhy;
};

TEST(JobRecordsTest, SummarisesEachWayAJobEnds) {
  const std::string programmed = Step("code erase") + StepEnd("code erase") +
                                 Step("code program") + StepEnd("code program");
  const std::vector<RecordCase> cases = {
      {"finished", kJob + programmed + End(0, "PROGRAMMING SUCCESSFUL"),
       RecordVerdict::kRead, "finished"},
      {"refused",
       Job(kStarted) + kFirmware + Unit(4711) +
           End(1, "BOOT CODE VERSION TOO OLD"),
       RecordVerdict::kRead, "refused: BOOT CODE VERSION TOO OLD"},
      {"cut during code erase", kJob + Step("code erase"), RecordVerdict::kRead,
       "cut during code flash erase"},
      {"cut between steps", kJob + programmed, RecordVerdict::kRead,
       "cut after code flash program"},
      {"cut before programming", kJob, RecordVerdict::kRead,
       "cut before programming"},
      {"stopped at a step",
       kJob + programmed + Step("store erase") +
           End(1, "STORE FLASH ERASE FAILED"),
       RecordVerdict::kRead,
       "stopped at store flash erase: STORE FLASH ERASE FAILED"},
      {"torn last line", kJob + Step("code erase") + R"({"entry":"step e)",
       RecordVerdict::kTorn, "cut during code flash erase"},
      {"a line that is not JSON", kJob + "not json\n" + End(0, "X"),
       RecordVerdict::kDamaged, "line 8 is not JSON"},
      {"a line that is no entry", kJob + "[1,2]\n", RecordVerdict::kDamaged,
       "line 8 is no entry of a job record"},
      {"first line not a job", kFirmware + kJob, RecordVerdict::kDamaged,
       "its first line is no job line (\"firmware\")"},
      {"later format", Job(kStarted, 2) + kFirmware, RecordVerdict::kDamaged,
       "written in format 2, later than this reader's (1)"},
      {"empty", "", RecordVerdict::kDamaged, "the record is empty"},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    JobSummary job;
    std::string why;
    const RecordVerdict verdict = SummariseJobRecord(c.text, &job, &why);
    EXPECT_EQ(verdict, c.verdict);
    if (verdict == RecordVerdict::kDamaged) {
      EXPECT_EQ(why.rfind(c.outcomeOrWhy, 0), 0u) << why;
      continue;
    }
    EXPECT_EQ(job.outcome, c.outcomeOrWhy);
    EXPECT_EQ(job.started, kStarted);
    EXPECT_EQ(job.pc + "/" + job.user, "BAY-PC/müller");
    EXPECT_EQ(job.model + "#" + job.serial, "W3#4711");
    EXPECT_EQ(job.release + " over " + job.unitBefore, "1.463.1 over 1.462.7");
    if (c.text.find("GetCodeProgrammer") != std::string::npos) {
      EXPECT_EQ(job.identity, "Werkstatt München");
    }
  }
}

// The program over a folder of records, as a manager runs it.
class RecordsProgramTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_.path() + "/" + name, std::ios::binary) << text;
  }
  int Run(std::vector<std::string> arguments) {
    listing_.clear();
    errors_.clear();
    return ListJobRecords(arguments, &listing_, &errors_);
  }
  TempFolder folder_;
  std::string listing_;
  std::string errors_;
};

TEST_F(RecordsProgramTest, ListsNewestFirstSkippingWhatItCannotRead) {
  // The names sort the other way round from the jobs' times.
  Write("job-a.jsonl", Job("2026-12-11T09:00:00.000Z") + kFirmware +
                           Unit(4711, "\"Bay 3, \\\"north\\\"\"") + kIdentity +
                           Step("code erase"));
  Write("job-b.jsonl", Job("2026-12-10T08:00:00.000Z") + kFirmware +
                           Unit(4713, "\"Bay 4\"", "null") + kIdentity +
                           End(0, "PROGRAMMING SUCCESSFUL"));
  Write("job-c.jsonl", Job(kStarted) + "{\n");
  Write("job-d.jsonl", Job(kStarted, 7));
  Write("notes.txt", "not a record");
  ASSERT_TRUE(MakePipe(folder_.path() + "/job-e.jsonl"));
  ASSERT_EQ(symlink((folder_.path() + "/job-b.jsonl").c_str(),
                    (folder_.path() + "/job-f.jsonl").c_str()),
            0);

  ASSERT_EQ(Run({folder_.path()}), kListed) << errors_;
  const std::string at = folder_.path() + "/";
  EXPECT_EQ(
      errors_,
      "ecuprog-records: " + at +
          "job-c.jsonl: skipped: line 2 is not JSON\n"
          "ecuprog-records: " +
          at +
          "job-d.jsonl: skipped: written in format 7, later than this reader's "
          "(1): read it with a newer ecuprog-records\n"
          "ecuprog-records: " +
          at +
          "job-e.jsonl: skipped: not a plain file (a folder, a pipe, a device "
          "or the like)\n"
          "ecuprog-records: " +
          at +
          "job-f.jsonl: skipped: a symbolic link, which is not followed\n");
  EXPECT_EQ(
      listing_,
      "Started (UTC)        PC      User    Unit     Label           Release   "
      "                  Identity           Outcome\n"
      "2026-12-11 09:00:00  BAY-PC  müller  W3#4711  Bay 3, \"north\"  1.463.1 "
      "(unit had 1.462.7)  Werkstatt München  cut during code flash erase\n"
      "2026-12-10 08:00:00  BAY-PC  müller  W3#4713  Bay 4           1.463.1 "
      "(unit had none)     Werkstatt München  finished\n");

  ASSERT_EQ(Run({"--csv", "--unit", "04711", folder_.path()}), kListed);
  EXPECT_EQ(
      listing_,
      "Started (UTC),PC,User,Unit,Label,Release,Identity,Outcome,Record\n"
      "2026-12-11 09:00:00,BAY-PC,müller,W3#4711,\"Bay 3, "
      "\"\"north\"\"\",1.463.1 (unit had 1.462.7),Werkstatt München,cut during "
      "code flash erase," +
          at + "job-a.jsonl\n");

  // A link to the folder is read where it leads, as the tool writes
  // through one; the link to a record in it still is not followed.
  const std::string link = folder_.path() + "-link";
  ASSERT_EQ(symlink(folder_.path().c_str(), link.c_str()), 0);
  EXPECT_EQ(Run({"--unit", "4713", link}), kListed);
  unlink(link.c_str());
  EXPECT_NE(listing_.find("W3#4713"), std::string::npos);
  EXPECT_NE(errors_.find(link + "/job-f.jsonl: skipped: a symbolic link"),
            std::string::npos);

  // A record named alone, as one sent in with a request for help.
  ASSERT_EQ(Run({"--unit=4713", at + "job-b.jsonl"}), kListed);
  EXPECT_NE(listing_.find("W3#4713"), std::string::npos);
  EXPECT_EQ(errors_, "");
}

TEST_F(RecordsProgramTest, RefusesWhatItCannotList) {
  const std::string missing = folder_.path() + "/missing";
  struct Refusal {
    std::vector<std::string> arguments;
    int code;
    std::string error;
  } refusals[] = {
      {{"--unit", "W3#4711"},
       kBadUsage,
       "ecuprog-records: --unit needs a serial number (digits), not "
       "\"W3#4711\"\n"},
      {{"--unit"},
       kBadUsage,
       "ecuprog-records: --unit needs the unit's serial number\n"},
      {{"--all"}, kBadUsage, "ecuprog-records: unknown option --all\n"},
      {{missing},
       kNotListed,
       "ecuprog-records: " + missing + ": no such file or folder\n"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.arguments.front());
    EXPECT_EQ(Run(refusal.arguments), refusal.code);
    EXPECT_EQ(errors_.substr(0, refusal.error.size()), refusal.error);
  }
}

}  // namespace
