#include "Lib/Project/LumoVersion.h"

#include <gmock/gmock.h>

namespace Vantor::Lumo {
namespace {

// The library answers from what it was built with, so it must agree with the headers it ships.
TEST(LumoVersionTest, TheLoadedLibraryMatchesItsHeaders) {
    EXPECT_STREQ(GetLibraryVersion(), LUMO_VERSION_STRING);
    EXPECT_EQ(std::string(GetLibraryVersion()), std::to_string(LUMO_VERSION_MAJOR) + "." +
                                                    std::to_string(LUMO_VERSION_MINOR) + "." +
                                                    std::to_string(LUMO_VERSION_PATCH));
}

}  // namespace
}  // namespace Vantor::Lumo
