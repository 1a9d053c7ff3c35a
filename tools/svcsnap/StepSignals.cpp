#include "StepSignals.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

#include "Output.h"

namespace svcsnap {

namespace {

std::atomic<int> gCaught{0};
std::atomic<bool> gAnnounce{true};

const char kInterruptLine[] =
    "svcsnap: interrupted: the step ends after the current engine call (the engine cannot be stopped inside one), "
    "is recorded, and no further step runs; interrupt again to stop at once\n";

void onSignal(int signal) {
    int expected = 0;
    if (!gCaught.compare_exchange_strong(expected, signal)) {
        // The second one: at once. The journal shows the step interrupted.
        _exit(signal == SIGTERM ? kExitSigTerm : kExitSigInt);
    }
    if (gAnnounce.load()) {
        ssize_t ignored = ::write(STDERR_FILENO, kInterruptLine, sizeof(kInterruptLine) - 1);
        (void)ignored;
    }
}

}  // namespace

StepSignals::StepSignals(bool announce) {
    gAnnounce = announce;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
}

StepSignals::~StepSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

int StepSignals::caught() { return gCaught.load(); }

int StepSignals::exitStatus(int signal) { return signal == SIGTERM ? kExitSigTerm : kExitSigInt; }

}  // namespace svcsnap
