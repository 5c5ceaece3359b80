// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"

#include "srecord_check.h"
#include "talker_loader.h"

namespace kestro::ops {

Operation operationFor(std::string_view button) {
    using Unit = std::vector<ButtonOperation> (*)();
    static constexpr Unit kUnits[] = {
        commTestOperations, statusCheckOperations, programCompareOperations, eepromEraseOperations,
        configOperations,   ramDownloadOperations, memoryDumpOperations,     xicorOperations,
    };
    for (Unit unit : kUnits)
        for (ButtonOperation& op : unit())
            if (op.button == button)
                return std::move(op.run);
    return {};
}

void sendRangeCommand(Frame& f, const std::string& begin, const std::string& end) {
    f.send(Byte{'P'});
    f.send(Byte{'P'});
    f.send(Byte{'U'});
    f.send(std::string_view(begin));
    f.send(Byte{'V'});
    f.send(std::string_view(end));
    f.send(Byte{'W'});
}

std::optional<LinkError> sRecordFileProblem(const std::filesystem::path& file) {
    std::string reason;
    const auto content = readFile(file, &reason);
    if (!content)
        return LinkError("Cannot read the file " + file.string() + ": " + reason + ".",
                         LinkError::Ending::KeepTarget);
    if (const auto problem = checkSRecordFile(*content)) {
        const std::string where =
            problem->line > 0 ? "Line " + std::to_string(problem->line) + ": " : std::string();
        return LinkError("The file " + file.string() + " is not an S-record file for the HC11.",
                         LinkError::Ending::KeepTarget, where + problem->what + ".");
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> chooseSRecordFile(Frame& f) {
    auto file = f.chooseFile();
    if (!file)
        return std::nullopt;
    if (auto problem = sRecordFileProblem(*file))
        throw *problem;
    return file;
}

}  // namespace kestro::ops
