// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame.h"

namespace kestro::ops {

// The values of the window's controls at the moment a button is clicked. The window is
// disabled while an operation runs, so they cannot change under it.
struct Inputs {
    // Range texts: four upper-case hex digits, begin ending in "00", end in "FF".
    std::string eepromBegin = "B600", eepromEnd = "B7FF";
    std::string epromBegin = "D000", epromEnd = "FFFF";
    std::string dumpBegin = "B600", dumpEnd = "B7FF";
    // Config1..Config4: 0 empty, 1 ticked, 2 greyed.
    std::array<int, 4> config{};
    std::string config5Text = "$F800-$FFFF";
    std::string startAddress = "2000";
    int sfrPosition = 4;
    std::string eemMapText = "$E000-$FFFF";
    bool eemLam = false;        // XIEEMLAM
    bool eemRes = false;        // XIEEMres
    std::array<bool, 8> bpr{};  // XIBPR0..XIBPR7
    std::filesystem::path dumpFolder;
    // Through the fast protocol where the operation has it (docs/fast-protocol.md).
    bool fast = false;
};

using Operation = std::function<void(Target& target, const Inputs& inputs)>;

struct ButtonOperation {
    std::string_view button;  // the object name of the button that starts it
    Operation run;
};

// The operation behind a button's object name; empty when the button runs none.
Operation operationFor(std::string_view button);

// What each unit serves.
std::vector<ButtonOperation> commTestOperations();
std::vector<ButtonOperation> statusCheckOperations();
std::vector<ButtonOperation> programCompareOperations();
std::vector<ButtonOperation> eepromEraseOperations();
std::vector<ButtonOperation> configOperations();
std::vector<ButtonOperation> ramDownloadOperations();
std::vector<ButtonOperation> memoryDumpOperations();
std::vector<ButtonOperation> xicorOperations();
// The operations that the fast protocol serves, by unit; run when Inputs::fast is set. A
// button without a fast form runs the default path.
std::vector<ButtonOperation> fastReadOperations();      // dump, compares, status checks
std::vector<ButtonOperation> fastProgramOperations();   // internal EEPROM, 711E9 EPROM
std::vector<ButtonOperation> fastExternalOperations();  // external EEPROM, companion chip
std::vector<ButtonOperation> fastMiscOperations();      // erase, CONFIG, RAM download and run

// CONFIG ($103F) as the HC11 shows it after a reset, read by the fast read talker: nullopt
// when the read failed, which the target's UI has then been told.
std::optional<std::uint8_t> readConfigRegister(Target& target);

// Whether CONFIG read after a reset holds the value sent. Bits 7-4 that read 0 where the value
// has them all 1 are bits the part does not have (the A8, E9, 711E9), as config takes them.
bool configReadsAsSent(std::uint8_t read, std::uint8_t sent);

// The answer with which a default-path talker ends a job that went well (docs/talkers.md).
inline constexpr char kJobDone = 'O';
// How long after its answer the RAM talker runs the program: time for the PC to set the rate
// the program talks at. What the PC sends meanwhile reaches no one.
inline constexpr Duration kRamRunDelay = 50ms;

// A job whose end the talker did not confirm. A line that died after the talker download is as
// silent as a talker with nothing to say, so silence is never taken for success.
inline constexpr const char* kNotConfirmed = "the HC11 did not confirm the end of the job";
inline constexpr const char* kPartlyProgrammed = "the memory may be partly programmed";
// The box of such a job, for the jobs without a failure box of their own; writes: whether the
// job changes a memory.
Message notConfirmed(bool writes);
// The box of a RAM download whose start the talker did not confirm.
Message notStarted();
// The reply of a talker that ends with kJobDone alone: what came after its download when the
// job runs without a message of the PC (checked echo), or after what the PC sent.
bool confirmed(const std::string& reply);

// What a job that shows no box when it went well did, in one line ("CONFIG $F9 sent; it takes
// effect at the next reset"); empty for the jobs that always end with a box. These talkers
// confirm that they ended, not that the chip took the value, so the line says what was sent.
std::string doneText(std::string_view button, const Inputs& in);
// Tells the front end, in those words, that the job the frame runs ended as it should: called
// only once the talker (or, for a dump, the file's check) has said so.
void reportDone(Frame& f, const Inputs& in);

// The command message of the talkers that take an address range: "P", "P", "U", begin, "V",
// end, "W", each item written on its own.
void sendRangeCommand(Frame& f, const std::string& begin, const std::string& end);

// Lets the user choose the file to send, reads it once and checks it before anything goes to
// the target: the S-records to send, or nullopt when the user cancelled (the run has then
// ended). Exactly what was checked is sent, whatever happens to the file afterwards.
std::optional<std::string> chooseSRecordFile(Frame& f);

// The RAM download's first steps, on either path: the run begun, the file chosen, then the
// start address as typed checked. nullopt when the run has ended (the user cancelled, or was
// told the address is refused).
std::optional<std::string> beginRamDownload(Frame& f, std::string_view startAddress);

// What the default path's programming talker of button says went wrong and where, from its
// reply ("V B612"): the reason the CLI adds to the failure box.
std::string programFailureReason(std::string_view button, const std::string& reply);

// The S-records to send for a user's file as read: an S-record, Intel HEX or ELF file (told
// apart by their content) as S1 records in address order. Throws the
// LinkError, as the user is told it (a run that meets it keeps the target), when the file
// cannot go to the operation behind button.
std::string recordsToSend(std::string_view button, const std::string& name,
                          std::string_view content);

// What S1 records as recordsToSend makes them carry: their data bytes, and the address after the
// last record's data (nullopt without a data record).
struct RecordsSpan {
    std::int64_t bytes = 0;
    std::optional<unsigned> end;
};
RecordsSpan recordsSpan(std::string_view records);

// As recordsToSend, for a front end that knows its files before any reset: why the file cannot
// go, or nullopt when it can.
std::optional<LinkError> userFileProblem(std::string_view button, const std::string& name,
                                         std::string_view content);

}  // namespace kestro::ops
