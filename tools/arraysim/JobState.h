// CIM_ConcreteJob.JobState (IBMTSSVC_ConcreteJob).
#pragma once
#include <cstdint>

namespace arraysim {
namespace JobState {
constexpr uint16_t New = 2;
constexpr uint16_t Starting = 3;
constexpr uint16_t Running = 4;
constexpr uint16_t Suspended = 5;
constexpr uint16_t ShuttingDown = 6;
constexpr uint16_t Completed = 7;
constexpr uint16_t Terminated = 8;
constexpr uint16_t Killed = 9;
constexpr uint16_t Exception = 10;
constexpr uint16_t Service = 11;

inline bool isFinal(uint16_t s) { return s >= Completed && s <= Exception; }
const char* name(uint16_t s);
}  // namespace JobState
}  // namespace arraysim
