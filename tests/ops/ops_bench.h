// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <iterator>

#include "bench.h"
#include "operations.h"

namespace kestro::testing {

// The bench with every talker in place, the target reset and ready, and a talker that records
// what it is sent.
struct OpsBench : Bench {
    explicit OpsBench(bool reset = true) {
        for (const char* name :
             {"eestat.S19", "estat.S19", "eeprog.S19", "eprog.S19", "exteeprg.S19", "eecomp.S19",
              "ecomp.S19", "exteecmp.S19", "eeerase.S19", "config.S19", "ram.S19", "dump.S19",
              "xisdpoff.S19", "xireset.S19", "xisfr.S19", "xieem.S19", "xibpr.S19"})
            scratch.write(name, "S1050000860141\n");
        target.talker = [this](Byte b) { toTalker.push_back(b); };
        if (reset)
            connectAndReset();
        else
            link.startupSearch();
    }

    // Bytes the talker got after the boot loader: the loader's 257th byte comes first on a
    // 256-byte part, then what the operation sent.
    Bytes sentToTalker() const {
        return toTalker.empty() ? Bytes{} : Bytes(toTalker.begin() + 1, toTalker.end());
    }

    // The talker records what it is sent and, as ours do, confirms the end of the job with
    // reply once the nth byte has come (the loader's 257th first), or with n 0 once the byte
    // beyond a file's end has.
    void confirmAt(std::size_t n, std::string reply) {
        target.talker = [this, n, reply = std::move(reply), ended = false](Byte b) mutable {
            ended = ended || (b == '9' && !toTalker.empty() && toTalker.back() == 'S');
            toTalker.push_back(b);
            if (n != 0 ? toTalker.size() == n : ended && b == 0)
                target.send(std::string_view(reply));
        };
    }

    // The chooser answers with a file of this content.
    void choose(const std::string& content, const std::string& name = "app.s19") {
        ui.chooserAnswer = scratch.write(name, content).string();
    }

    // The talkers of these jobs take a file and acknowledge its characters.
    void run(std::string_view button, const ops::Inputs& in = {}) {
        const auto op = ops::operationFor(button);
        ASSERT_TRUE(op) << button;
        constexpr std::string_view kFileJobs[] = {"EepromProgram", "EpromProgram",  "ExtEEprog",
                                                  "Xiprog",        "EepromCompare", "EpromCompare",
                                                  "ExtEEcomp",     "Xicomp",        "ExtRam"};
        target.acknowledges =
            std::find(std::begin(kFileJobs), std::end(kFileJobs), button) != std::end(kFileJobs);
        op(frameTarget, in);
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const Message& m : ui.messages)
            t.push_back(m.text);
        return t;
    }

    Bytes toTalker;
};

}  // namespace kestro::testing
