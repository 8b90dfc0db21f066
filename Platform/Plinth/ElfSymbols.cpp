#include "Platform/Plinth/ElfSymbols.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace Vantor::Detail {

namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);
using SectionHeader = ElfW(Shdr);
using Symbol = ElfW(Sym);
using NoteHeader = ElfW(Nhdr);

constexpr std::uint32_t kLocal = 0x80000000u;
constexpr std::uint64_t kNoSize = 0xffffffffu;  // sizes beyond it are clamped
constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kNativeData =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The descriptor of the NT_GNU_BUILD_ID note among `size` bytes of notes, or empty.
std::string BuildIdOfNotes(const char* notes, std::size_t size, std::size_t segmentAlignment) {
    // Notes are padded to 4 bytes, or to 8 in segments aligned so.
    const std::size_t alignment = segmentAlignment == 8 ? 8 : 4;
    std::size_t offset = 0;
    while (size - offset >= sizeof(NoteHeader)) {
        NoteHeader note;
        std::memcpy(&note, notes + offset, sizeof note);
        const std::size_t nameAt = offset + sizeof note;
        const std::size_t descriptorAt = nameAt + AlignUp(note.n_namesz, alignment);
        const std::size_t next = descriptorAt + AlignUp(note.n_descsz, alignment);
        if (descriptorAt > size || note.n_descsz > size - descriptorAt || next <= offset) {
            break;
        }
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
            std::memcmp(notes + nameAt, "GNU", 4) == 0) {
            return std::string(notes + descriptorAt, note.n_descsz);
        }
        offset = next;
    }
    return {};
}

struct BuildIdSearch {
    std::uintptr_t bias;
    std::string found;
};

int KeepBuildIdOf(dl_phdr_info* module, std::size_t /*size*/, void* data) {
    auto& search = *static_cast<BuildIdSearch*>(data);
    if (module->dlpi_addr != search.bias) {
        return 0;
    }
    // Notes are read only where a loaded segment maps them.
    const auto mapped = [module](const ProgramHeader& notes) {
        for (ElfW(Half) i = 0; i < module->dlpi_phnum; ++i) {
            const ProgramHeader& segment = module->dlpi_phdr[i];
            if (segment.p_type == PT_LOAD && notes.p_vaddr >= segment.p_vaddr &&
                notes.p_memsz <= segment.p_memsz &&
                notes.p_vaddr - segment.p_vaddr <= segment.p_memsz - notes.p_memsz) {
                return true;
            }
        }
        return false;
    };
    for (ElfW(Half) i = 0; i < module->dlpi_phnum && search.found.empty(); ++i) {
        const ProgramHeader& segment = module->dlpi_phdr[i];
        if (segment.p_type == PT_NOTE && mapped(segment)) {
            search.found =
                BuildIdOfNotes(reinterpret_cast<const char*>(module->dlpi_addr + segment.p_vaddr),
                               segment.p_memsz, segment.p_align);
        }
    }
    return 1;
}

// Whether `count` entries of `entrySize` bytes from `offset` lie inside a file of `size` bytes.
bool Inside(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize,
            std::uint64_t size) {
    return offset <= size && (entrySize == 0 || count <= (size - offset) / entrySize);
}

}  // namespace

std::string LoadedBuildId(std::uintptr_t bias) {
    BuildIdSearch search{bias, {}};
    dl_iterate_phdr(&KeepBuildIdOf, &search);
    return search.found;
}

ElfSymbols::ElfSymbols(const std::string& path, const std::string& expectedBuildId) {
    // Non-blocking: a path that turned into a FIFO must not hang the thread that is throwing.
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) {
        return;
    }
    struct stat status {};
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uint64_t>(status.st_size) >= sizeof(Header)) {
        void* image = ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ,
                             MAP_PRIVATE, file, 0);
        if (image != MAP_FAILED) {
            image_ = static_cast<const char*>(image);
            size_ = static_cast<std::size_t>(status.st_size);
        }
    }
    ::close(file);
    // Only the pages of the headers and the symbol table are ever touched, never the debug
    // information, so the mapping costs little resident memory.
    if (image_ && !Read(expectedBuildId)) {
        functions_ = {};
        ::munmap(const_cast<char*>(image_), size_);
        image_ = nullptr;
        size_ = 0;
    }
}

ElfSymbols::~ElfSymbols() {
    if (image_) {
        ::munmap(const_cast<char*>(image_), size_);
    }
}

bool ElfSymbols::Read(const std::string& expectedBuildId) {
    Header header;
    std::memcpy(&header, image_, sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != kNativeClass || header.e_ident[EI_DATA] != kNativeData) {
        return false;
    }

    if (!expectedBuildId.empty()) {
        if (header.e_phentsize != sizeof(ProgramHeader) ||
            !Inside(header.e_phoff, header.e_phnum, sizeof(ProgramHeader), size_)) {
            return false;
        }
        std::string buildId;
        for (ElfW(Half) i = 0; i < header.e_phnum && buildId.empty(); ++i) {
            ProgramHeader segment;
            std::memcpy(&segment, image_ + header.e_phoff + i * sizeof segment, sizeof segment);
            if (segment.p_type == PT_NOTE && Inside(segment.p_offset, segment.p_filesz, 1, size_)) {
                buildId =
                    BuildIdOfNotes(image_ + segment.p_offset, segment.p_filesz, segment.p_align);
            }
        }
        if (buildId != expectedBuildId) {
            return false;
        }
    }

    if (header.e_shentsize != sizeof(SectionHeader) || header.e_shnum == 0 ||
        !Inside(header.e_shoff, header.e_shnum, sizeof(SectionHeader), size_)) {
        return false;
    }
    const auto section = [&](std::size_t index) {
        SectionHeader found;
        std::memcpy(&found, image_ + header.e_shoff + index * sizeof found, sizeof found);
        return found;
    };
    for (std::size_t index = 0; index < header.e_shnum; ++index) {
        const SectionHeader table = section(index);
        if (table.sh_type != SHT_SYMTAB || table.sh_entsize != sizeof(Symbol) ||
            table.sh_link >= header.e_shnum ||
            !Inside(table.sh_offset, table.sh_size / sizeof(Symbol), sizeof(Symbol), size_)) {
            continue;
        }
        const SectionHeader strings = section(table.sh_link);
        // A final NUL makes every name that starts inside the table end inside it.
        if (strings.sh_type != SHT_STRTAB || strings.sh_size == 0 ||
            !Inside(strings.sh_offset, strings.sh_size, 1, size_) ||
            image_[strings.sh_offset + strings.sh_size - 1] != '\0') {
            continue;
        }
        names_ = image_ + strings.sh_offset;
        const char* const symbols = image_ + table.sh_offset;
        const std::size_t count = table.sh_size / sizeof(Symbol);
        const auto isFunction = [&](const Symbol& symbol) {
            // The type field sits alike in both classes.
            const unsigned type = ELF64_ST_TYPE(symbol.st_info);
            return (type == STT_FUNC || type == STT_GNU_IFUNC) && symbol.st_shndx != SHN_UNDEF &&
                   symbol.st_value != 0 && symbol.st_name < strings.sh_size;
        };
        // Counted first, so that the table takes exactly its room: a large program has a
        // hundred thousand functions.
        std::size_t functions = 0;
        for (std::size_t i = 0; i < count; ++i) {
            Symbol symbol;
            std::memcpy(&symbol, symbols + i * sizeof symbol, sizeof symbol);
            functions += isFunction(symbol) ? 1 : 0;
        }
        functions_.reserve(functions);
        for (std::size_t i = 0; i < count; ++i) {
            Symbol symbol;
            std::memcpy(&symbol, symbols + i * sizeof symbol, sizeof symbol);
            if (isFunction(symbol)) {
                // Until sorted, the name's top bit marks a local symbol (string tables stay far
                // below 2 GiB), so that an exported name wins over a local alias.
                const bool local = ELF64_ST_BIND(symbol.st_info) == STB_LOCAL;
                functions_.push_back(
                    {static_cast<std::uintptr_t>(symbol.st_value),
                     static_cast<std::uint32_t>(std::min<std::uint64_t>(symbol.st_size, kNoSize)),
                     static_cast<std::uint32_t>(symbol.st_name) | (local ? kLocal : 0)});
            }
        }
        // The table's pages were read once; give them back rather than keep them resident.
        const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(symbols) / page * page;
        ::madvise(reinterpret_cast<void*>(first),
                  reinterpret_cast<std::uintptr_t>(symbols) + table.sh_size - first, MADV_DONTNEED);
        break;
    }
    if (functions_.empty()) {
        return false;
    }
    std::sort(functions_.begin(), functions_.end(), [](const Function& a, const Function& b) {
        return a.start != b.start ? a.start < b.start : (a.name & kLocal) < (b.name & kLocal);
    });
    functions_.erase(
        std::unique(functions_.begin(), functions_.end(),
                    [](const Function& a, const Function& b) { return a.start == b.start; }),
        functions_.end());
    for (Function& function : functions_) {
        function.name &= ~kLocal;
    }
    return true;
}

const ElfSymbols::Function* ElfSymbols::Find(std::uintptr_t address) const {
    auto after = std::upper_bound(
        functions_.begin(), functions_.end(), address,
        [](std::uintptr_t wanted, const Function& function) { return wanted < function.start; });
    if (after == functions_.begin()) {
        return nullptr;
    }
    const Function& candidate = *(after - 1);
    // Without a size the nearest function below is the best guess, as debuggers make it.
    if (candidate.size != 0 && address - candidate.start >= candidate.size) {
        return nullptr;
    }
    return names_[candidate.name] != '\0' ? &candidate : nullptr;
}

}  // namespace Vantor::Detail
