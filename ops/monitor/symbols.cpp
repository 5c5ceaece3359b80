// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/symbols.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <tuple>
#include <variant>

#include "elf_image.h"
#include "frame.h"

namespace kestro::ops::monitor {

namespace {

// Which of several names for one address to show: a sized function or object before a bare
// label, a place before a constant that happens to equal it, the program's own names before
// the toolchain's (the compiler's soft registers, the linker's section marks, all spelt with
// leading underscores), and a global before a local.
auto preference(const Symbol& s) {
    const int kind = s.kind == SymbolKind::Label ? 1 : s.kind == SymbolKind::Constant ? 2 : 0;
    const auto underscores = s.name.find_first_not_of('_');
    return std::make_tuple(kind, underscores == std::string::npos ? s.name.size() : underscores,
                           !s.global);
}

// The linker's absolute names with leading underscores are sizes and ends of sections, which
// an address equal to one of them is seldom about; the program's own equates name registers
// and variables.
bool namesAPlace(const Symbol& s) {
    return s.kind != SymbolKind::Constant || !s.name.starts_with('_');
}

std::string offsetText(unsigned offset) {
    char text[8];
    std::snprintf(text, sizeof text, offset < 10 ? "%u" : "$%X", offset);
    return text;
}

std::optional<std::uint16_t> parseNumber(std::string_view text) {
    int base = 16;
    if (text.starts_with('$'))
        text.remove_prefix(1);
    else if (text.starts_with("0x") || text.starts_with("0X"))
        text.remove_prefix(2);
    if (text.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
        if (value > 0xFFFF)
            return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

Symbols::Symbols(std::vector<Symbol> symbols) : symbols_(std::move(symbols)) {
    for (std::size_t i = 0; i < symbols_.size(); ++i)
        if (namesAPlace(symbols_[i]))
            byAddress_.push_back(i);
    std::stable_sort(byAddress_.begin(), byAddress_.end(), [this](std::size_t a, std::size_t b) {
        const Symbol& x = symbols_[a];
        const Symbol& y = symbols_[b];
        if (x.address != y.address)
            return x.address < y.address;
        return preference(x) < preference(y);
    });
}

Symbols Symbols::fromElf(const std::string& fileName, std::string_view content) {
    // An S-record or Intel HEX file of the same program is the likely mistake, and holds no
    // names at all: the ELF reader would call it a damaged ELF file. One cut off inside the
    // magic is a damaged one.
    constexpr std::string_view kMagic =
        "\x7F"
        "ELF";
    if (!content.starts_with(kMagic) && !kMagic.starts_with(content))
        throw LinkError("The file " + fileName + " gives no symbols.",
                        LinkError::Ending::KeepTarget,
                        "It is no ELF file: symbols come from the program's linked ELF file.");
    auto read = formats::readElfSymbols(content);
    if (const auto* problem = std::get_if<formats::Problem>(&read)) {
        std::string detail = problem->what + ".";
        detail[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(detail[0])));
        throw LinkError("The file " + fileName + " gives no symbols.",
                        LinkError::Ending::KeepTarget, detail);
    }
    std::vector<Symbol> symbols;
    for (const formats::ElfSymbol& s : std::get<std::vector<formats::ElfSymbol>>(read)) {
        if (s.value > 0xFFFF)
            continue;  // no HC11 address: a large constant
        Symbol symbol{s.name, static_cast<std::uint16_t>(s.value),
                      static_cast<std::uint16_t>(
                          std::min<std::uint64_t>({s.size, 0x10000 - s.value, 0xFFFF})),
                      s.absolute                                     ? SymbolKind::Constant
                      : s.type == formats::ElfSymbol::Type::Function ? SymbolKind::Function
                      : s.type == formats::ElfSymbol::Type::Object   ? SymbolKind::Object
                                                                     : SymbolKind::Label,
                      s.global};
        symbols.push_back(std::move(symbol));
    }
    if (symbols.empty())
        throw LinkError("The file " + fileName + " gives no symbols.",
                        LinkError::Ending::KeepTarget,
                        "Its symbol table is empty or gone: was it stripped?");
    return Symbols(std::move(symbols));
}

std::optional<std::uint16_t> Symbols::lookup(std::string_view name) const {
    // A global is the one the linker resolved the name to, whatever locals share it.
    for (const Symbol& s : symbols_)
        if (s.global && s.name == name)
            return s.address;
    std::optional<std::uint16_t> found;
    for (const Symbol& s : symbols_) {
        if (s.name != name)
            continue;
        if (found && *found != s.address)
            return std::nullopt;  // two files' locals of one name
        found = s.address;
    }
    return found;
}

std::string Symbols::nameFor(std::uint16_t address) const {
    // The nearest symbols at or below the address, best first. A constant names its exact value
    // only: an equate is no place in memory to count from.
    std::vector<const Symbol*> group;
    auto at = std::upper_bound(
        byAddress_.begin(), byAddress_.end(), address,
        [this](std::uint16_t a, std::size_t i) { return a < symbols_[i].address; });
    while (at != byAddress_.begin()) {
        const Symbol& s = symbols_[*--at];
        if (s.kind == SymbolKind::Constant && s.address != address)
            continue;
        if (!group.empty() && s.address != group.front()->address)
            break;
        group.insert(group.begin(), &s);
    }
    if (group.empty())
        return {};
    const unsigned offset = address - group.front()->address;
    if (offset == 0)
        return group.front()->name;
    for (const Symbol* s : group)
        if (offset < s->size)
            return s->name + "+" + offsetText(offset);
    for (const Symbol* s : group)
        if (s->size == 0 && offset < kLabelReach)
            return s->name + "+" + offsetText(offset);
    return {};
}

std::optional<std::uint16_t> parseAddress(std::string_view text, const Symbols* symbols) {
    if (symbols != nullptr) {
        if (const auto address = symbols->lookup(text))
            return address;
        const auto plus = text.rfind('+');
        if (plus != std::string_view::npos) {
            const auto base = symbols->lookup(text.substr(0, plus));
            const auto offset = parseNumber(text.substr(plus + 1));
            if (!base || !offset || *base + *offset > 0xFFFF)
                return std::nullopt;
            return static_cast<std::uint16_t>(*base + *offset);
        }
    }
    return parseNumber(text);
}

}  // namespace kestro::ops::monitor
