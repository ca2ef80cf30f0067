#include "ftp/RestartMarker.h"

#include <gtest/gtest.h>

namespace tolvane::ftp {
namespace {

TEST(RestartMarkerTest, OffsetLivesExactlyIntoTheNextCommand) {
    RestartMarker marker;
    marker.BeforeCommand();  // REST
    marker.Set(100);
    marker.BeforeCommand();  // RETR
    EXPECT_TRUE(marker.Pending());
    EXPECT_EQ(marker.Offset(), 100);
    marker.BeforeCommand();  // the command after RETR
    EXPECT_FALSE(marker.Pending());

    marker.BeforeCommand();  // REST
    marker.Set(100);
    marker.BeforeCommand();  // NOOP
    marker.BeforeCommand();  // RETR
    EXPECT_FALSE(marker.Pending());

    marker.BeforeCommand();  // REST 0 sets no offset
    marker.Set(0);
    marker.BeforeCommand();
    EXPECT_FALSE(marker.Pending());
}

}  // namespace
}  // namespace tolvane::ftp
