// SPDX-License-Identifier: GPL-3.0-or-later
// The PC of the program (port, link, frame) on Comm 1 and the virtual board at the cable's far
// end, all in virtual time: the program's own operations run against the real talkers.
#pragma once

#include <filesystem>

#include "kestro/sim/board/board.h"
#include "operations.h"
#include "recorders.h"
#include "scratch.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro::sim::station {

struct Station {
    explicit Station(Chip chip) : board(clock, line, BoardOptions{chip}) {
        port.attach(1, line);
        port.setListener(&link);
        link.setView(&view);
        link.startupSearch();
    }

    // Resets the board into bootstrap mode and runs the operation behind a button; the chooser
    // answers with file. Returns what the run showed.
    std::vector<Message> run(std::string_view button, const ops::Inputs& inputs = {},
                             const std::filesystem::path& file = {}) {
        board.resetBootstrap();
        clock.advance(std::chrono::milliseconds(100));
        ui.messages.clear();
        ui.chooserAnswer = file.empty() ? "Cancel" : file.string();
        if (link.ready())
            ops::operationFor(button)(target, inputs);
        else
            ui.messages.push_back({"the board's break was not seen as a reset"});
        // Whatever the talker still does after the PC's verdict (a last write cycle).
        clock.advance(std::chrono::milliseconds(100));
        board.catchUp();
        return ui.messages;
    }

    // A file of the test's own for the chooser to answer with.
    std::filesystem::path file(const std::string& text, const std::string& name = "prog.s19") {
        return dir.write(name, text);
    }

    VirtualClock clock;
    VirtualLine line{clock};
    VirtualPort port{clock};
    LinkState link{port, clock, clock};
    Board board;
    kestro::testing::RecordingView view;
    kestro::testing::RecordingUi ui;
    Target target{link, ui, KESTRO_TALKER_DIR};
    kestro::testing::ScratchDir dir;
};

}  // namespace kestro::sim::station
