#include "cli/source_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "cli/messages.h"
#include "engine/status.h"
#include "platform/file_checks.h"

namespace sfx::cli {

int OpenSource(const std::string& file, ContainerHeader& header, ContainerPlacement& placement) {
    std::string problem = SourceProblem(file);
    if (problem.empty()) {
        errno = 0;
        ExtractStatus failure = Ok;
        if (ReadContainerHeader(file.c_str(), header, failure, &placement))
            return 0;
        if (failure != ReadFailed) {
            Tell(Quoted(file) + " is not a self-extracting file, or it is damaged");
            return failure;
        }
        problem = ReadProblem(file, errno);
    }
    Tell(problem);
    return ReadFailed;
}

bool MistypedCommand(const Arguments& arguments) {
    const std::string& first = arguments.files.front();
    const bool word = std::all_of(first.begin(), first.end(), [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) != 0;
    });
    int error = 0;
    if (arguments.commandNamed || !word ||
        platform::TargetOf(first.c_str(), error) != platform::Target::Missing)
        return false;
    Tell(SourceProblem(first) + " (nor is it a command: extract, test or info)");
    return true;
}

}  // namespace sfx::cli
