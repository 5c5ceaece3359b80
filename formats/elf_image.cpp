// SPDX-License-Identifier: GPL-3.0-or-later
#include "elf_image.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro::formats {

namespace {

struct ElfEnd {
    void operator()(Elf* e) const { elf_end(e); }
};

Problem damaged(const std::string& what) {
    return Problem{0, "it is a damaged ELF file: " + what};
}

// The processors a file brought by mistake is most likely for, as their makers name them.
struct Machine {
    unsigned number;
    const char* name;
};
constexpr Machine kMachines[] = {
    {EM_SPARC, "SPARC"},
    {EM_386, "Intel 80386"},
    {EM_68K, "Motorola 68000"},
    {EM_MIPS, "MIPS"},
    {EM_PPC, "PowerPC"},
    {EM_PPC64, "64-bit PowerPC"},
    {EM_S390, "IBM S/390"},
    {EM_ARM, "ARM"},
    {EM_SH, "SuperH"},
    {EM_68HC12, "68HC12"},
    {EM_X86_64, "x86-64"},
    {EM_68HC16, "68HC16"},
    {EM_68HC08, "68HC08"},
    {EM_68HC05, "68HC05"},
    {EM_AVR, "AVR"},
    {EM_XTENSA, "Xtensa"},
    {EM_MSP430, "MSP430"},
    {EM_AARCH64, "AArch64"},
    {EM_RISCV, "RISC-V"},
    {EM_LOONGARCH, "LoongArch"},
};

std::string machineName(unsigned number) {
    for (const Machine& m : kMachines)
        if (m.number == number)
            return m.name;
    return "machine number " + std::to_string(number);
}

struct Range {
    GElf_Off begin;
    GElf_Off end;
};

// The parts of [begin, end) of the file that none of the ranges covers.
std::vector<Range> outside(Range whole, const std::vector<Range>& ranges) {
    std::vector<Range> left{whole};
    for (const Range& cut : ranges) {
        std::vector<Range> next;
        for (const Range& r : left) {
            if (cut.end <= r.begin || cut.begin >= r.end) {
                next.push_back(r);
                continue;
            }
            if (r.begin < cut.begin)
                next.push_back({r.begin, cut.begin});
            if (cut.end < r.end)
                next.push_back({cut.end, r.end});
        }
        left = std::move(next);
    }
    return left;
}

// An HC11 ELF file opened with libelf, which reads from a buffer it may keep pointers into:
// the copy here lives as long as the handle does.
class OpenElf {
  public:
    explicit OpenElf(std::string_view content) : buffer_(content) {}
    OpenElf(const OpenElf&) = delete;
    OpenElf& operator=(const OpenElf&) = delete;

    std::optional<Problem> open() {
        static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
        if (!ready)
            return Problem{0, std::string("the ELF library cannot be used: ") + elf_errmsg(-1)};
        elf_.reset(elf_memory(buffer_.data(), buffer_.size()));
        if (!elf_ || elf_kind(elf_.get()) != ELF_K_ELF)
            return damaged(elf_errmsg(-1));
        if (gelf_getehdr(elf_.get(), &header_) == nullptr)
            return damaged(elf_errmsg(-1));
        if (header_.e_machine != EM_68HC11)
            return Problem{0, "not an HC11 ELF file: " + machineName(header_.e_machine)};
        // libelf finds no section at all where the table is cut off, which would pass for a
        // file without one: its symbols for a stripped file's, its segments loaded whole with
        // the linker's filler. (With more sections than e_shnum holds, the first entry gives
        // the count.)
        const GElf_Off entries = std::max<GElf_Off>(header_.e_shnum, 1);
        if (header_.e_shoff != 0 &&
            (header_.e_shoff > buffer_.size() ||
             GElf_Off{header_.e_shentsize} * entries > buffer_.size() - header_.e_shoff))
            return damaged("its section table lies past the end of the file (is it cut short?)");
        return std::nullopt;
    }
    Elf* get() const { return elf_.get(); }
    const GElf_Ehdr& header() const { return header_; }
    const std::string& buffer() const { return buffer_; }

  private:
    std::string buffer_;
    std::unique_ptr<Elf, ElfEnd> elf_;
    GElf_Ehdr header_{};
};

constexpr const char* kNotLinked =
    "it is an object file that was not linked, so nothing in it has an address yet";

}  // namespace

Result<Image> readElf(std::string_view content) {
    OpenElf file(content);
    if (auto problem = file.open())
        return *problem;
    Elf* const elf = file.get();
    const GElf_Ehdr& header = file.header();
    const std::string& buffer = file.buffer();
    if (header.e_type == ET_REL)
        return Problem{0, kNotLinked};
    std::size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0)
        return damaged(elf_errmsg(-1));
    std::vector<GElf_Phdr> segments;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr segment;
        if (gelf_getphdr(elf, static_cast<int>(i), &segment) == nullptr)
            return damaged(elf_errmsg(-1));
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0)
            continue;
        if (segment.p_offset > buffer.size() || segment.p_filesz > buffer.size() - segment.p_offset)
            return damaged("a loadable segment lies past the end of the file (is it cut short?)");
        segments.push_back(segment);
    }
    // Some linkers leave every physical address 0; objcopy then takes the virtual addresses as
    // the load addresses, and so must we, or the whole program would land at $0000.
    if (std::all_of(segments.begin(), segments.end(),
                    [](const GElf_Phdr& s) { return s.p_paddr == 0; }))
        for (GElf_Phdr& s : segments)
            s.p_paddr = s.p_vaddr;
    // The parts of the file to load: each section with contents that lies in a loadable
    // segment, at the segment's load address. The linker fills the room between two sections
    // of one segment; that filler is no part of the program and must not overwrite what the
    // memory holds there. A file without a section table loads its segments but for the file's
    // own headers, which the first segment often covers and which are no part of the program.
    struct Part {
        GElf_Off offset;
        GElf_Xword size;
        GElf_Addr address;
    };
    std::vector<Part> parts;
    std::size_t sections = 0;
    if (elf_getshdrnum(elf, &sections) != 0)
        return damaged(elf_errmsg(-1));
    if (sections == 0) {
        const std::vector<Range> headers{
            {0, header.e_ehsize},
            {header.e_phoff, header.e_phoff + GElf_Off{header.e_phentsize} * count}};
        for (const GElf_Phdr& s : segments)
            for (const Range& r : outside({s.p_offset, s.p_offset + s.p_filesz}, headers))
                parts.push_back({r.begin, r.end - r.begin, s.p_paddr + (r.begin - s.p_offset)});
    }
    for (Elf_Scn* scn = nullptr; sections != 0 && (scn = elf_nextscn(elf, scn)) != nullptr;) {
        GElf_Shdr section;
        if (gelf_getshdr(scn, &section) == nullptr)
            return damaged(elf_errmsg(-1));
        if ((section.sh_flags & SHF_ALLOC) == 0 || section.sh_type == SHT_NOBITS ||
            section.sh_size == 0)
            continue;
        const auto in = std::find_if(segments.begin(), segments.end(), [&](const GElf_Phdr& s) {
            return section.sh_offset >= s.p_offset && section.sh_offset - s.p_offset < s.p_filesz;
        });
        if (in != segments.end()) {
            const GElf_Off into = section.sh_offset - in->p_offset;
            parts.push_back({section.sh_offset, std::min(section.sh_size, in->p_filesz - into),
                             in->p_paddr + into});
            continue;
        }
        // A linker script can leave a section with contents out of every segment (the linker
        // only warns); objcopy still writes it, at its own address, and so must we rather than
        // drop its bytes unsaid.
        if (section.sh_offset > buffer.size() ||
            section.sh_size > buffer.size() - section.sh_offset)
            return damaged("a section lies past the end of the file (is it cut short?)");
        parts.push_back({section.sh_offset, section.sh_size, section.sh_addr});
    }
    Image image;
    for (const Part& p : parts) {
        if (p.address >= kAddressSpace || p.size > kAddressSpace - p.address)
            return Problem{0, "it has data at " +
                                  hexAddress(std::max<GElf_Addr>(p.address, kAddressSpace)) +
                                  ", beyond the HC11's 64 KB"};
        const auto* first = reinterpret_cast<const std::uint8_t*>(buffer.data() + p.offset);
        image.push_back({static_cast<std::uint32_t>(p.address),
                         std::vector<std::uint8_t>(first, first + p.size)});
    }
    if (image.empty())
        return Problem{0, "it has no loadable segment with data"};
    return image;
}

Result<std::vector<ElfSymbol>> readElfSymbols(std::string_view content) {
    OpenElf file(content);
    if (auto problem = file.open())
        return *problem;
    if (file.header().e_type == ET_REL)
        return Problem{0, kNotLinked};
    std::vector<ElfSymbol> symbols;
    for (Elf_Scn* scn = nullptr; (scn = elf_nextscn(file.get(), scn)) != nullptr;) {
        GElf_Shdr section;
        if (gelf_getshdr(scn, &section) == nullptr)
            return damaged(elf_errmsg(-1));
        // The dynamic table repeats globals of a shared object; an HC11 program has none.
        if (section.sh_type != SHT_SYMTAB)
            continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        if (data == nullptr || section.sh_entsize == 0)
            return damaged(elf_errmsg(-1));
        const std::size_t count = data->d_size / section.sh_entsize;
        for (std::size_t i = 1; i < count; ++i) {  // entry 0 is the table's null symbol
            GElf_Sym entry;
            if (gelf_getsym(data, static_cast<int>(i), &entry) == nullptr)
                return damaged(elf_errmsg(-1));
            const unsigned type = GELF_ST_TYPE(entry.st_info);
            if ((type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE) ||
                entry.st_shndx == SHN_UNDEF)
                continue;
            const char* name =
                elf_strptr(file.get(), static_cast<std::size_t>(section.sh_link), entry.st_name);
            if (name == nullptr)
                return damaged("a symbol's name lies outside its string table");
            if (*name == '\0')
                continue;
            const unsigned binding = GELF_ST_BIND(entry.st_info);
            symbols.push_back({name, entry.st_value, entry.st_size,
                               type == STT_FUNC     ? ElfSymbol::Type::Function
                               : type == STT_OBJECT ? ElfSymbol::Type::Object
                                                    : ElfSymbol::Type::Label,
                               binding == STB_GLOBAL || binding == STB_WEAK,
                               entry.st_shndx == SHN_ABS});
        }
    }
    return symbols;
}

}  // namespace kestro::formats
