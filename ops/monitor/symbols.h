// SPDX-License-Identifier: GPL-3.0-or-later
// The names a program's ELF file gives its addresses, for addresses typed as names and for
// names shown in disassembly and registers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::ops::monitor {

enum class SymbolKind : std::uint8_t {
    Function,  // code with a size the compiler or `.size` gave it
    Object,    // data with a size
    Label,     // a place without a size: an assembler label, a linker's mark
    Constant,  // an absolute value (an equate): a name for its exact value only
};

struct Symbol {
    std::string name;
    std::uint16_t address = 0;
    std::uint16_t size = 0;  // 0: a label, or a function or object of unknown size
    SymbolKind kind = SymbolKind::Label;
    bool global = false;

    friend bool operator==(const Symbol&, const Symbol&) = default;
};

class Symbols {
  public:
    // How far past a label without a size an address is still named after it: farther, the
    // label is more likely the end of one thing than the start of what the address is in.
    static constexpr std::uint16_t kLabelReach = 0x100;

    Symbols() = default;
    explicit Symbols(std::vector<Symbol> symbols);

    // The symbols of a linked HC11 ELF file: functions, objects and labels, global and local,
    // with a name and a value within 16 bits. A file that is no linked HC11 ELF file, or that
    // has no such symbol (it was stripped), throws LinkError (KeepTarget) naming fileName.
    static Symbols fromElf(const std::string& fileName, std::string_view content);

    // The address of a name, as spelled in the file: a global's where locals share its name;
    // nullopt for an unknown name, and for a local that several files define at different
    // addresses (two files' `loop`), rather than one of them at random.
    std::optional<std::uint16_t> lookup(std::string_view name) const;

    // The name for an address, from the nearest symbols at or below it: "loop" where one starts
    // there; "loop+3" inside its size, or within kLabelReach past a label; "" where nothing
    // fits. A constant names its exact value only, and the linker's own (with a leading
    // underscore: section sizes and ends) nothing. Offsets read back through parseAddress: a
    // digit up to 9, "$" hex above.
    std::string nameFor(std::uint16_t address) const;

    const std::vector<Symbol>& all() const { return symbols_; }
    bool empty() const { return symbols_.empty(); }

  private:
    std::vector<Symbol> symbols_;  // as given
    // Indices into symbols_ of those that may name an address, by address, best first.
    std::vector<std::size_t> byAddress_;
};

// An address as the user types it: "$B600", "B600" and "0xB600" are hex; with symbols, a
// symbol's name or "name+offset" (the offset in the same three forms). A name that is also
// bare hex ("add", "beef") is taken as the name where the symbols have it; "$" or "0x" always
// means a number. Anything else, part of a number ("2O00"), or a value past $FFFF: nullopt.
std::optional<std::uint16_t> parseAddress(std::string_view text, const Symbols* symbols);

}  // namespace kestro::ops::monitor
