#include "tools/lumo/Errors.h"

#include <typeinfo>

#include <boost/core/demangle.hpp>
#include <boost/exception/diagnostic_information.hpp>

#include "Lib/Project/IProject.h"

namespace Vantor::Lumo::Tool {

namespace {

// "boost::wrapexcept<Vantor::Lumo::IProject::ProjectAlreadyExistsException>", as
// BOOST_THROW_EXCEPTION wraps it, -> "ProjectAlreadyExistsException".
std::string ShortTypeName(const std::exception& error) {
    std::string name = boost::core::demangle(typeid(error).name());
    const std::string wrapper = "boost::wrapexcept<";
    if (name.rfind(wrapper, 0) == 0 && name.back() == '>') {
        name = name.substr(wrapper.size(), name.size() - wrapper.size() - 1);
    }
    const auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

std::string Meaning(const IProject::Exception& error) {
    if (dynamic_cast<const IProject::ProjectAlreadyExistsException*>(&error)) {
        return " (something is already there)";
    }
    if (dynamic_cast<const IProject::CanNotCreateDirForProjectException*>(&error)) {
        return " (the directory can not be created)";
    }
    if (dynamic_cast<const IProject::CanNotCreateProjectFileException*>(&error)) {
        return " (no file can be created there)";
    }
    return "";
}

// The library's messages carry the call stack after the first line feed.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// Most messages already name their path; saying it twice helps nobody.
std::string AboutSubject(const std::string& subject, const std::string& reason) {
    if (subject.empty() || reason.find(subject) != std::string::npos) {
        return "lumo: " + reason;
    }
    return "lumo: " + subject + ": " + reason;
}

}  // namespace

std::string DescribeFailure(const std::exception_ptr& failure, const std::string& subject,
                            bool verbose) {
    try {
        std::rethrow_exception(failure);
    } catch (const IProject::Exception& error) {
        const std::string line =
            "lumo: " + error.path.utf8string() + ": " + ShortTypeName(error) + Meaning(error);
        return verbose ? line + "\n" + boost::diagnostic_information(error) : line;
    } catch (const std::exception& error) {
        const std::string line = AboutSubject(subject, FirstLine(error.what()));
        return verbose ? line + "\n" + boost::diagnostic_information(error) : line;
    } catch (...) {
        return AboutSubject(subject, "unknown failure");
    }
}

}  // namespace Vantor::Lumo::Tool
