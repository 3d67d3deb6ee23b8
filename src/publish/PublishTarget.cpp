#include "publish/PublishTarget.h"

#include <atomic>

namespace qm {

namespace {

std::atomic_int sendDelay{0};

} // namespace

void PublishTarget::setSendDelayForTesting(int millisecondsPerFile)
{
    sendDelay = millisecondsPerFile;
}

int PublishTarget::sendDelayForTesting()
{
    return sendDelay;
}

} // namespace qm
