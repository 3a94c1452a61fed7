// Transfers held back while they run: by the player's pause, or by the speed
// limit. Either way libcurl keeps the connection and its stall check does not
// count the time.

#include "transfer/transfer.h"

void TransferEngine::releaseRateLimited()
{
    for (const auto &transfer : transfers) {
        if (transfer->state != TransferState::RateLimited || !limiter().mayReceive(steadyMs()))
            continue;
        moveTo(*transfer, TransferState::Running);
        // The answer held back may be handed over before this returns, and be
        // held back again.
        curl_easy_pause(transfer->easy, CURLPAUSE_CONT);
    }
}

void TransferEngine::followPause()
{
    if (paused == policy.control->isPaused())
        return;
    paused = !paused;
    for (const auto &owned : transfers) {
        Transfer &transfer = *owned;
        if (!paused) {
            if (transfer.state == TransferState::Paused)
                moveTo(transfer, TransferState::RateLimited); // released when the limit allows
            continue;
        }
        if (transfer.state != TransferState::Running && transfer.state != TransferState::RateLimited)
            continue;
        if (!transfer.isFile()) {
            transfer.releaseHandle(static_cast<CURLM *>(multi));
            requeue(transfer, 0);
            continue;
        }
        if (transfer.state == TransferState::Running)
            curl_easy_pause(transfer.easy, CURLPAUSE_RECV);
        moveTo(transfer, TransferState::Paused);
    }
}
