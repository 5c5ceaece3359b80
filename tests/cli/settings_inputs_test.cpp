// A command that is not told a range, a CONFIG value, a start address or an SFR location uses
// what the window would: its settings store.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "settings_inputs.h"

namespace kestro::cli {
namespace {

TEST(SettingsInputs, TheWindowsStoredValuesAndItsDefaults) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("kestro.ini"), QSettings::IniFormat);
    ops::Inputs fresh = inputsFromSettings(settings);
    EXPECT_EQ(fresh.eepromBegin + fresh.eepromEnd, "B600B7FF");
    EXPECT_EQ(fresh.dumpBegin + fresh.dumpEnd, "B600B7FF");
    EXPECT_EQ(fresh.startAddress, "2000");
    EXPECT_EQ(fresh.sfrPosition, 4);

    settings.beginGroup("startup");
    settings.setValue("EEpromBegin", "B700");
    settings.setValue("EpromBegin", "E000");
    settings.setValue("EpromEnd", "E0FF");
    // Not a range the selectors can make: the default stays.
    settings.setValue("DumpBegin", "B650");
    settings.setValue("ValueConfig1", "1");
    settings.setValue("ValueConfig4", "1");
    settings.setValue("ValueConfig3", "x");
    settings.setValue("StartAdress", "ffff ");
    settings.setValue("SCsfr", "8");
    settings.endGroup();
    const ops::Inputs in = inputsFromSettings(settings);
    EXPECT_EQ(in.eepromBegin + in.eepromEnd, "B700B7FF");
    EXPECT_EQ(in.epromBegin + in.epromEnd, "E000E0FF");
    EXPECT_EQ(in.dumpBegin + in.dumpEnd, "B600B7FF");
    EXPECT_EQ(in.config, (std::array<int, 4>{1, 0, 0, 1}));
    EXPECT_EQ(in.startAddress, "ffff ");
    EXPECT_EQ(in.sfrPosition, 8);
}

}  // namespace
}  // namespace kestro::cli
