#include "Lib/Project/ProjectErrors.h"

#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/exception/get_error_info.hpp>

#include "Lib/Project/IProject.h"

namespace Vantor::Lumo {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

[[noreturn, gnu::noinline]] void RaiseProjectFileError(const ioPath& path) {
    LUMO_THROW_PROJECT_ERROR(IProject::CanNotCreateProjectFileException, path);
}

[[noreturn, gnu::noinline]] void RaiseDomainError() {
    LUMO_THROW_MESSAGE(std::domain_error, "Description error: invalid count streams");
}

TEST(ProjectErrors, TypedExceptionCarriesPathCallStackAndThrowSite) {
    try {
        RaiseProjectFileError(ioPath("/recordings/KorvelProject1.mkv"));
        FAIL() << "nothing thrown";
    } catch (const IProject::Exception& error) {
        EXPECT_EQ(error.path, ioPath("/recordings/KorvelProject1.mkv"));
        EXPECT_NE(dynamic_cast<const IProject::CanNotCreateProjectFileException*>(&error), nullptr);

        const auto* stack = boost::get_error_info<CallStackInfo>(error);
        ASSERT_NE(stack, nullptr);
        // Symbolised in-process: the raising function is named in its own stack.
        EXPECT_THAT(*stack, HasSubstr("RaiseProjectFileError"));

        const auto* function = boost::get_error_info<boost::throw_function>(error);
        const auto* file = boost::get_error_info<boost::throw_file>(error);
        const auto* line = boost::get_error_info<boost::throw_line>(error);
        ASSERT_TRUE(function && file && line);
        EXPECT_THAT(*function, HasSubstr("RaiseProjectFileError(const Vantor::ioPath&)"));
        EXPECT_THAT(*file, EndsWith("ProjectErrorsTest.cpp"));
        EXPECT_GT(*line, 0);
    }
}

TEST(ProjectErrors, TypedExceptionIsCaughtThroughEveryBase) {
    EXPECT_THROW(RaiseProjectFileError("a"), Vantor::Exception);
    EXPECT_THROW(RaiseProjectFileError("a"), boost::exception);
    EXPECT_THROW(RaiseProjectFileError("a"), std::exception);
}

TEST(ProjectErrors, MessageExceptionIsTextLineFeedAndCallStack) {
    try {
        RaiseDomainError();
        FAIL() << "nothing thrown";
    } catch (const std::domain_error& error) {
        const std::string message = error.what();
        EXPECT_THAT(message, StartsWith("Description error: invalid count streams\n"));
        EXPECT_THAT(message, HasSubstr("RaiseDomainError"));
        const auto* function = boost::get_error_info<boost::throw_function>(
            dynamic_cast<const boost::exception&>(error));
        ASSERT_NE(function, nullptr);
        EXPECT_THAT(*function, HasSubstr("RaiseDomainError"));
    }
}

TEST(ProjectErrors, AppendCallStackLeavesItsArgumentAlone) {
    const std::logic_error original("Project error: Unsupported stream type");
    const std::logic_error extended = AppendCallStack(original);
    EXPECT_STREQ(original.what(), "Project error: Unsupported stream type");
    EXPECT_THAT(extended.what(), StartsWith("Project error: Unsupported stream type\n"));
    EXPECT_GT(std::string(extended.what()).size(), std::string(original.what()).size() + 1);
}

}  // namespace
}  // namespace Vantor::Lumo
