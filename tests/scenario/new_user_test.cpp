// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <fstream>

#include "scratch.h"
#include "scripted_target.h"
#include "srecords.h"
#include "window_bench.h"

namespace kestro {
namespace {

// A new user with a board on Comm 1: reset, program the EEPROM from a file, reset again, dump
// the two default pages and look at upload.s19. The target is scripted; the window is real.
TEST(NewUser, ProgramsTheEepromThenDumpsTwoPages) {
    QTemporaryDir home;
    const std::filesystem::path dir = home.path().toStdString();
    const auto asmDir =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "asm";
    std::filesystem::create_directories(asmDir);
    for (const char* talker : {"eeprog.S19", "dump.S19"})
        std::ofstream(asmDir / talker) << "S1050000860173\n";
    const std::string program = "S1130000000102030405060708090A0B0C0D0E0F74\r\nS9030000FC\r\n";
    std::ofstream(dir / "prog.s19", std::ios::binary) << program;

    QSettings settings(home.filePath("kestro.ini"), QSettings::IniFormat);
    settings.setValue("startup/dumpdir", home.path());
    testing::WindowBench bench;
    auto [clock, window, boxes] = std::tie(bench.clock, bench.window, bench.messages);
    testing::ScriptedTarget board(clock, bench.line1);
    bench.start(settings);
    window->setFileChooser([&] { return (dir / "prog.s19").string(); });
    auto* status = window->findChild<QLabel*>("HC11Stat");

    Bytes programmed;
    // The talker confirms the file's end once all of it, and the byte beyond, has come.
    board.talker = [&](Byte b) {
        programmed.push_back(b);
        if (b == 0 && programmed.size() > 1)
            board.send(std::string_view("O 0010"));
    };
    board.reset();
    clock.advance(100ms);
    EXPECT_EQ(status->text(), "Ready");
    window->findChild<QPushButton*>("EepromProgram")->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (Message{"Eeprom is program", "Eeprom", Icon::Information}));
    EXPECT_EQ(status->text(), "Not Ready");
    // After the loader's last fill byte, the file and the byte beyond its end.
    EXPECT_EQ(textOf(Bytes(programmed.begin() + 1, programmed.end() - 1)), program);

    std::string command;
    board.talker = [&](Byte b) {
        command.push_back(static_cast<char>(b));
        if (b != 'W')
            return;
        for (unsigned a = 0xB600; a < 0xB800; a += 16) {
            board.send(std::string_view(testing::srecord('1', a, Bytes(16, 0xFF))));
        }
    };
    board.reset();
    clock.advance(100ms);
    window->findChild<QPushButton*>("DumpStart")->click();
    EXPECT_EQ(command.substr(1), "PPUB600VB7FFW");
    // In the folder the settings name; the ops tests check the records themselves.
    EXPECT_TRUE(testing::slurp(dir / "upload.s19").starts_with("S113B600FFFF"));
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(window->findChild<QPushButton*>("DumpStart")->text(), "St&art Dump");
    EXPECT_TRUE(window->isEnabled());
    std::filesystem::remove_all(asmDir);
}

}  // namespace
}  // namespace kestro
