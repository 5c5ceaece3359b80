// SPDX-License-Identifier: GPL-3.0-or-later
#include "elf_image.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <memory>
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

}  // namespace

Result<Image> readElf(std::string_view content) {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    if (!ready)
        return Problem{0, std::string("the ELF library cannot be used: ") + elf_errmsg(-1)};
    // libelf reads from a buffer it may keep pointers into; this copy lives as long as it does.
    std::string buffer(content);
    const std::unique_ptr<Elf, ElfEnd> elf(elf_memory(buffer.data(), buffer.size()));
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF)
        return damaged(elf_errmsg(-1));
    GElf_Ehdr header;
    if (gelf_getehdr(elf.get(), &header) == nullptr)
        return damaged(elf_errmsg(-1));
    if (header.e_machine != EM_68HC11)
        return Problem{0, "it is for another processor (ELF machine " +
                              std::to_string(header.e_machine) + "), not the 68HC11"};
    std::size_t count = 0;
    if (elf_getphdrnum(elf.get(), &count) != 0)
        return damaged(elf_errmsg(-1));
    std::vector<GElf_Phdr> segments;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr segment;
        if (gelf_getphdr(elf.get(), static_cast<int>(i), &segment) == nullptr)
            return damaged(elf_errmsg(-1));
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0)
            continue;
        if (segment.p_offset > buffer.size() || segment.p_filesz > buffer.size() - segment.p_offset)
            return damaged("a loadable segment lies past the end of the file (is it cut short?)");
        segments.push_back(segment);
    }
    // The parts of the file to load: each section with contents that lies in a loadable
    // segment, at the segment's load address. The linker fills the room between two sections
    // of one segment; that filler is no part of the program and must not overwrite what the
    // memory holds there. A file without a section table loads its segments whole.
    struct Part {
        GElf_Off offset;
        GElf_Xword size;
        GElf_Addr address;
    };
    std::vector<Part> parts;
    std::size_t sections = 0;
    if (elf_getshdrnum(elf.get(), &sections) != 0)
        return damaged(elf_errmsg(-1));
    if (sections == 0) {
        for (const GElf_Phdr& s : segments)
            parts.push_back({s.p_offset, s.p_filesz, s.p_paddr});
    }
    for (Elf_Scn* scn = nullptr; sections != 0 && (scn = elf_nextscn(elf.get(), scn)) != nullptr;) {
        GElf_Shdr section;
        if (gelf_getshdr(scn, &section) == nullptr)
            return damaged(elf_errmsg(-1));
        if ((section.sh_flags & SHF_ALLOC) == 0 || section.sh_type == SHT_NOBITS ||
            section.sh_size == 0)
            continue;
        for (const GElf_Phdr& s : segments) {
            if (section.sh_offset < s.p_offset || section.sh_offset - s.p_offset >= s.p_filesz)
                continue;
            const GElf_Off into = section.sh_offset - s.p_offset;
            parts.push_back({section.sh_offset, std::min(section.sh_size, s.p_filesz - into),
                             s.p_paddr + into});
            break;
        }
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
        return Problem{0, header.e_type == ET_REL
                              ? "it is an object file that was not linked, so nothing in it has "
                                "an address yet"
                              : "it has no loadable segment with data"};
    return image;
}

}  // namespace kestro::formats
