// Values of CIM_ConcreteJob.JobState.
#pragma once

constexpr int JOB_STATE_NEW = 2;            // CIM_ConcreteJob.JobState "New"
constexpr int JOB_STATE_STARTING = 3;       // CIM_ConcreteJob.JobState "Starting"
constexpr int JOB_STATE_RUNNING = 4;        // CIM_ConcreteJob.JobState "Running"
constexpr int JOB_STATE_SUSPENDED = 5;      // CIM_ConcreteJob.JobState "Suspended"
constexpr int JOB_STATE_SHUTTING_DOWN = 6;  // CIM_ConcreteJob.JobState "Shutting Down"
constexpr int JOB_STATE_COMPLETED = 7;      // CIM_ConcreteJob.JobState "Completed" (the only success)
constexpr int JOB_STATE_TERMINATED = 8;     // CIM_ConcreteJob.JobState "Terminated"
constexpr int JOB_STATE_KILLED = 9;         // CIM_ConcreteJob.JobState "Killed"
constexpr int JOB_STATE_EXCEPTION = 10;     // CIM_ConcreteJob.JobState "Exception"
constexpr int JOB_STATE_SERVICE = 11;       // CIM_ConcreteJob.JobState "Service"
