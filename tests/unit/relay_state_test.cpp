#include "platform/fake/fake.h"
#include "session/relay_state.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(RelayState, StartsWithIpxSelectedAndSearching) {
    ResetRelayState();
    EXPECT_EQ(relayState.useIpx, 1);
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_EQ(relayState.simDetected, 0);
    EXPECT_STREQ(relayPlayerName, "Skyrelay");
    EXPECT_EQ(sessionObject, nullptr);
}
