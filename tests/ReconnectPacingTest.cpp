// The pause before the control's next automatic attempt, failure after failure.
#include <gtest/gtest.h>

#include "engine/net/ReconnectPacing.h"

TEST(ReconnectPacing, EachFailureInARowWaitsTwiceAsLongUpToTheMaximum)
{
    CReconnectPacing pacing;
    for (DWORD expected : {500u, 1000u, 2000u, 4000u, 8000u, 16000u, 30000u, 30000u})
        EXPECT_EQ(pacing.Failed(), expected);
    pacing.Reset();
    EXPECT_EQ(pacing.Failed(), static_cast<DWORD>(RECONNECT_FIRST_PAUSE_MS));
}
