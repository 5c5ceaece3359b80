// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <array>

class QLabel;

namespace kestro {

class Controls;
class PageBar;
class StartupSettings;

// The address ranges the window keeps: the EEPROM's, the EPROM's and the dump's.
enum class AddressRange { Eeprom, Eprom, Dump };

// The two columns of an address range, Begin and End: each a caption, a bar of pages and the
// address under it. It owns the range's texts, which the operations send and the store keeps;
// the End bar never stays below the Begin bar.
class RangeSelector : public QWidget {
    Q_OBJECT
  public:
    RangeSelector(AddressRange range, const Controls& controls, QWidget* parent);

    // The text of Begin (side 0) or End (side 1), four upper-case hex digits such as "B600".
    QString text(int side) const { return ends_[side].text; }
    // The name of a side's text, which is also its settings key ("EEpromBegin").
    const char* name(int side) const;

    // Takes the texts and bar positions from the store; a stored text that is not a range text
    // gives the default.
    void restore(const StartupSettings& settings);
    void save(StartupSettings& settings) const;

  private:
    struct Row;
    struct End {
        const Row* row = nullptr;
        PageBar* bar = nullptr;
        QLabel* label = nullptr;
        QString text;
    };

    void moved(int side);

    std::array<End, 2> ends_;
};

}  // namespace kestro
