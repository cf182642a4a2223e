// Reading what Slurm 22.05's commands print for a job array, from lines they printed.
#include "standalone_host/cli/slurm_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using KorvoCli::TaskRecord;
using KorvoCli::TaskState;
using Ids = std::vector<int>;

// `scontrol -o show job 1` while tasks 0 and 1 have ended and 2-3 wait, shortened in the middle;
// the job's folder has a space in its name. A line of another array sits among them.
constexpr const char* kScontrol =
    "JobId=1 ArrayJobId=1 ArrayTaskId=2-3 JobName=korvo-room UserId=root(0) GroupId=root(0) "
    "MCS_label=N/A Priority=4294901759 Nice=0 Account=(null) QOS=(null) JobState=PENDING "
    "Reason=Resources Dependency=(null) Requeue=1 Restarts=0 BatchFlag=1 Reboot=0 ExitCode=0:0 "
    "RunTime=00:00:00 TimeLimit=UNLIMITED Partition=debug AllocNode:Sid=localhost:4000 "
    "NodeList= NumNodes=1 NumCPUs=1 CPUs/Task=1 ReqB:S:C:T=0:0:*:* TRES=cpu=1,mem=1M,node=1 "
    "Command=/shared/my renders/korvo_farm/20261209-0249-Ab12/job.sh "
    "WorkDir=/shared/my renders/korvo_farm/20261209-0249-Ab12 "
    "StdErr=/shared/my renders/korvo_farm/20261209-0249-Ab12/task-4294967294.out "
    "StdIn=/dev/null StdOut=/shared/my renders/korvo_farm/20261209-0249-Ab12/task-4294967294.out "
    "Power= \n"
    "JobId=7 ArrayJobId=6 ArrayTaskId=0 JobName=other JobState=RUNNING Reason=None "
    "ExitCode=0:0 WorkDir=/elsewhere Power= \n"
    "JobId=4 ArrayJobId=1 ArrayTaskId=1 JobName=korvo-room JobState=FAILED "
    "Reason=NonZeroExitCode Requeue=1 Restarts=0 ExitCode=2:0 RunTime=00:00:03 "
    "WorkDir=/shared/my renders/korvo_farm/20261209-0249-Ab12 StdIn=/dev/null Power= \n"
    "JobId=2 ArrayJobId=1 ArrayTaskId=0 JobName=korvo-room JobState=COMPLETED Reason=None "
    "ExitCode=0:0 WorkDir=/shared/my renders/korvo_farm/20261209-0249-Ab12 Power= \n";

TEST(SlurmOutput, ScontrolGivesEachTaskItsStateAndTheJobsFolder) {
    const std::vector<TaskRecord> records = KorvoCli::ParseScontrolJobs(kScontrol, "1");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].taskIds, (Ids{2, 3}));
    EXPECT_EQ(records[0].state, "PENDING");
    EXPECT_EQ(records[0].reason, "Resources");
    EXPECT_EQ(records[0].workDir, "/shared/my renders/korvo_farm/20261209-0249-Ab12");
    EXPECT_EQ(records[1].taskIds, Ids{1});
    EXPECT_EQ(records[1].state, "FAILED");
    EXPECT_EQ(records[1].exitCode, "2:0");
    EXPECT_EQ(records[2].taskIds, Ids{0});
    EXPECT_EQ(records[2].state, "COMPLETED");
    EXPECT_EQ(records[2].workDir, records[0].workDir);

    EXPECT_EQ(KorvoCli::ParseScontrolJobs(kScontrol, "6").size(), 1u);
    EXPECT_TRUE(KorvoCli::ParseScontrolJobs(kScontrol, "11").empty()) << "job 1 is not job 11";
    EXPECT_TRUE(KorvoCli::ParseScontrolJobs("", "1").empty());
    EXPECT_TRUE(
        KorvoCli::ParseScontrolJobs("slurm_load_jobs error: Invalid job id specified\n", "1")
            .empty());
    // A job that is no array has no task index.
    EXPECT_TRUE(KorvoCli::ParseScontrolJobs("JobId=9 JobName=x JobState=RUNNING\n", "9").empty());
}

TEST(SlurmOutput, SacctGivesTasksButNotTheirSteps) {
    const char* text =
        "12_0|COMPLETED|0:0|/out/korvo_farm/a\n"
        "12_1|CANCELLED by 0|0:15|/out/korvo_farm/a\n"
        "12_[2-4]|PENDING|0:0|/out/korvo_farm/a\n"
        "12_0.batch|COMPLETED|0:0|\n"
        "12_0.extern|COMPLETED|0:0|\n"
        "120_0|FAILED|1:0|/other\n"
        "12_5|NODE_FAIL|0:0|/out/odd|name\n";
    const std::vector<TaskRecord> records = KorvoCli::ParseSacctJobs(text, "12");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].taskIds, Ids{0});
    EXPECT_EQ(records[0].workDir, "/out/korvo_farm/a");
    EXPECT_EQ(records[1].state, "CANCELLED by 0");
    EXPECT_EQ(records[1].exitCode, "0:15");
    EXPECT_EQ(records[2].taskIds, (Ids{2, 3, 4}));
    EXPECT_EQ(records[3].workDir, "/out/odd|name") << "the folder is the last column";
    EXPECT_TRUE(KorvoCli::ParseSacctJobs("12|RUNNING|0:0|/x\n", "12").empty()) << "no array";
}

TEST(SlurmOutput, TaskIdRanges) {
    EXPECT_EQ(KorvoCli::ExpandTaskIds("3"), Ids{3});
    EXPECT_EQ(KorvoCli::ExpandTaskIds("0-4"), (Ids{0, 1, 2, 3, 4}));
    EXPECT_EQ(KorvoCli::ExpandTaskIds("0-3%2"), (Ids{0, 1, 2, 3}));
    EXPECT_EQ(KorvoCli::ExpandTaskIds("1,3-5,9"), (Ids{1, 3, 4, 5, 9}));
    for (const char* bad : {"", "x", "5-3", "0-15:4", "-1", "1,", "0-99999999", "4294967294x"})
        EXPECT_TRUE(KorvoCli::ExpandTaskIds(bad).empty()) << bad;
}

TEST(SlurmOutput, StatesAsACameraSeesThem) {
    struct Case {
        const char* slurm;
        TaskState state;
    };
    for (const Case c : {Case{"PENDING", TaskState::Pending},
                         {"REQUEUED", TaskState::Pending},
                         {"REQUEUE_HOLD", TaskState::Pending},
                         {"RUNNING", TaskState::Running},
                         {"COMPLETING", TaskState::Running},
                         {"CONFIGURING", TaskState::Running},
                         {"SUSPENDED", TaskState::Running},
                         {"COMPLETED", TaskState::Done},
                         {"FAILED", TaskState::Failed},
                         {"CANCELLED by 0", TaskState::Failed},
                         {"TIMEOUT", TaskState::Failed},
                         {"NODE_FAIL", TaskState::Failed},
                         {"OUT_OF_MEMORY", TaskState::Failed},
                         {"PREEMPTED", TaskState::Failed},
                         {"COMPLETING+", TaskState::Running},
                         {"A_STATE_OF_2030", TaskState::Running}})
        EXPECT_EQ(KorvoCli::StateFromSlurm(c.slurm), c.state) << c.slurm;
}

TEST(SlurmOutput, SubmittedJobIdAndJobIdArguments) {
    EXPECT_EQ(KorvoCli::ParseSubmittedJobId("123\n"), "123");
    EXPECT_EQ(KorvoCli::ParseSubmittedJobId("123;cluster2\n"), "123");
    EXPECT_EQ(KorvoCli::ParseSubmittedJobId("sbatch: warning: something odd\n124\n"), "124");
    EXPECT_FALSE(KorvoCli::ParseSubmittedJobId(""));
    EXPECT_FALSE(KorvoCli::ParseSubmittedJobId("Submitted batch job 5\n"));
    EXPECT_TRUE(KorvoCli::IsJobId("4021"));
    for (const char* bad : {"", "12_1", "-3", "12 ", "1;x", "$(reboot)"})
        EXPECT_FALSE(KorvoCli::IsJobId(bad)) << bad;
}

TEST(SlurmOutput, WhatATaskWroteToItsOutputFile) {
    const char* done =
        "Task 0: camera Cam_Free on node4\n"
        "/shared/out/room_Cam_Free (1).jpg\n"
        "Log: /shared/out/korvo_log.txt\n";
    EXPECT_EQ(KorvoCli::PanoramasInTaskOutput(done),
              std::vector<std::string>{"/shared/out/room_Cam_Free (1).jpg"});

    EXPECT_EQ(KorvoCli::FailureInTaskOutput(
                  "Task 1: camera Cam_Target on node4\n"
                  "korvo: the scene has no camera Cam_Target; its cameras: Cam_Free\n"),
              "korvo: the scene has no camera Cam_Target; its cameras: Cam_Free");
    EXPECT_EQ(KorvoCli::FailureInTaskOutput(
                  "Task 1: camera Cam_Target on vm\n"
                  "slurmstepd-vm: error: *** JOB 6 ON vm CANCELLED AT 2026-12-09T02:50:06 ***\n"),
              "slurmstepd-vm: error: *** JOB 6 ON vm CANCELLED AT 2026-12-09T02:50:06 ***");
    EXPECT_EQ(KorvoCli::FailureInTaskOutput("korvo farm: task 3 has no camera (the job has 2)\n"
                                            "slurmstepd-vm: error: something later\n"),
              "korvo farm: task 3 has no camera (the job has 2)")
        << "korvo's own message first";
    EXPECT_EQ(KorvoCli::FailureInTaskOutput("Task 0: camera A on vm\nSegmentation fault\n\n"),
              "Segmentation fault");
    EXPECT_EQ(KorvoCli::FailureInTaskOutput(""), "");
}

}  // namespace
