#include "library_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "driver_list.h"
#include "fakes.h"

namespace {

using namespace std::string_literals;

// A DOS header pointing at "PE\0\0" and a COFF header at pe_offset, as
// far as the check reads (4096 bytes) or cut to length.
std::string pe(unsigned machine, unsigned characteristics, uint32_t pe_offset = 0x80,
               size_t length = 0) {
  const bool headers_written = pe_offset <= 8192;
  std::string bytes(headers_written ? pe_offset + 24 : 64, '\0');
  bytes[0] = 'M', bytes[1] = 'Z';
  if (headers_written) {
    bytes.replace(pe_offset, 4, "PE\0\0"s);
    put16(&bytes, pe_offset + 4, machine, false);
    put16(&bytes, pe_offset + 22, characteristics, false);
  }
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(pe_offset >> (8 * i));
  bytes.resize(length ? length : std::min<size_t>(bytes.size(), 4096));
  return bytes;
}

std::string elf(int elf_class, int order, unsigned type, unsigned machine, size_t length = 0) {
  std::string bytes = elf_header(elf_class, order, type, machine);
  if (length) bytes.resize(length);
  return bytes;
}

const unsigned dll = 0x2002, program = 0x0002;

TEST(ClassifyLibrary, ReadsOnlyWhatTheHeadersSay) {
  const struct {
    const char* name;
    std::string bytes;
    library_format format;
    bool library;
    library_arch arch;
  } cases[] = {
      {"PE x86 DLL", pe(0x014C, dll), format_pe, true, arch_x86},
      {"PE x64 DLL", pe(0x8664, dll), format_pe, true, arch_x64},
      {"PE arm64 DLL", pe(0xAA64, dll), format_pe, true, arch_arm64},
      {"PE arm DLL", pe(0x01C4, dll), format_pe, true, arch_arm},
      {"PE Itanium DLL", pe(0x0200, dll), format_pe, true, arch_other},
      {"PE program", pe(0x8664, program), format_pe, false, arch_other},
      {"PE DLL flag without an image", pe(0x8664, 0x2000), format_pe, false, arch_other},
      {"PE headers end at the last byte read", pe(0x8664, dll, 4072), format_pe, true, arch_x64},
      {"PE headers one byte past what was read", pe(0x8664, dll, 4073), format_pe, false, arch_other},
      {"PE offset beyond the file", pe(0x8664, dll, 0xFFFFFFF0u), format_pe, false, arch_other},
      {"PE cut inside the DOS header", pe(0x8664, dll, 0x80, 63), format_pe, false, arch_other},
      {"PE cut inside the COFF header", pe(0x8664, dll, 0x80, 0x80 + 23), format_pe, false, arch_other},
      {"ELF taken for PE", elf(2, 1, 3, 62), format_pe, false, arch_other},
      {"ELF x86-64 shared object", elf(2, 1, 3, 62), format_elf, true, arch_x64},
      {"ELF i386 shared object", elf(1, 1, 3, 3), format_elf, true, arch_x86},
      {"ELF aarch64 shared object", elf(2, 1, 3, 183), format_elf, true, arch_arm64},
      {"ELF arm shared object", elf(1, 1, 3, 40), format_elf, true, arch_arm},
      {"ELF x32 shared object", elf(1, 1, 3, 62), format_elf, true, arch_other},
      {"ELF big-endian aarch64", elf(2, 2, 3, 183), format_elf, true, arch_other},
      {"ELF program", elf(2, 1, 2, 62), format_elf, false, arch_other},
      {"ELF relocatable object", elf(2, 1, 1, 62), format_elf, false, arch_other},
      {"ELF 64-bit header cut by a byte", elf(2, 1, 3, 62, 63), format_elf, false, arch_other},
      {"ELF 32-bit header whole", elf(1, 1, 3, 3, 52), format_elf, true, arch_x86},
      {"ELF 32-bit header cut by a byte", elf(1, 1, 3, 3, 51), format_elf, false, arch_other},
      {"ELF of no class", elf(3, 1, 3, 62), format_elf, false, arch_other},
      {"PE taken for ELF", pe(0x8664, dll), format_elf, false, arch_other},
      {"text", "[ODBC]\nDriver=x\n", format_elf, false, arch_other},
      {"empty", "", format_pe, false, arch_other},
  };
  for (const auto& c : cases) {
    library_arch arch = arch_other;
    // A copy of exactly the bytes read, so that a read past them shows.
    const std::vector<unsigned char> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(classify_library(bytes.data(), bytes.size(), c.format, &arch), c.library) << c.name;
    if (c.library) {
      EXPECT_EQ(arch, c.arch) << c.name;
    }
  }
}

TEST(CheckLibrary, NamesWhatIsWrongWithTheFile) {
  const std::string own = program_arch() == arch_x64 ? elf(2, 1, 3, 62) : elf(1, 1, 3, 3);
  const struct {
    const char* name;
    const char* path;
    const char* word;
  } cases[] = {
      {"own architecture", "/lib/own.so", "ok"},
      {"found by the search", "bare.so", "ok"},
      {"not found by the search", "nowhere.so", "missing"},
      {"no such file", "/lib/gone.so", "missing"},
      {"no library value", "", "missing"},
      {"cannot be read", "/lib/locked.so", "unreadable"},
      {"found path too long", "deep.so", "unreadable"},
      {"text", "/lib/text.so", "not-a-library"},
      {"program", "/lib/program", "not-a-library"},
      {"other architecture", "/lib/arm64.so", program_arch() == arch_arm64 ? "ok" : "mismatch:arm64"},
      {"unknown architecture", "/lib/s390.so", "mismatch:other"},
  };
  reset_fakes();
  fake_os.files = {{"/lib/own.so", own},
                   {"/lib/text.so", "hello"},
                   {"/lib/program", elf(2, 1, 2, 62)},
                   {"/lib/arm64.so", elf(2, 1, 3, 183)},
                   {"/lib/s390.so", elf(2, 1, 3, 22)}};
  fake_os.search = {{"bare.so", "/lib/own.so"}, {"deep.so", "/" + std::string(4095, 'd')}};
  fake_os.unreadable = {"/lib/locked.so"};
  for (const auto& c : cases) EXPECT_STREQ(check_library(c.path), c.word) << c.name;
}

TEST(FindInFolders, TakesTheFirstReadableCandidateInOrder) {
  static std::vector<std::string> files;
  static std::vector<std::string> asked;
  const file_readable readable = [](const char* path) {
    asked.push_back(path);
    for (const std::string& file : files)
      if (file == path) return true;
    return false;
  };
  const std::string f58(58, 'f'), f59(59, 'f');  // with "/x.so", 63 and 64 characters
  const struct {
    const char* name;
    std::vector<const char*> lists;
    std::vector<std::string> files;
    std::string found;
    std::vector<std::string> asked;
  } cases[] = {
      {"first list wins", {"/dm", "/env", "/conf"}, {"/env/x.so", "/dm/x.so"}, "/dm/x.so", {"/dm/x.so"}},
      {"lists in order, folders in order",
       {"/dm", "/a:/b", "/c"}, {"/c/x.so", "/b/x.so"}, "/b/x.so", {"/dm/x.so", "/a/x.so", "/b/x.so"}},
      {"null and empty lists passed over", {nullptr, "", "/c"}, {"/c/x.so"}, "/c/x.so", {"/c/x.so"}},
      {"empty folder is the current one", {"/a::/b"}, {"./x.so"}, "./x.so", {"/a/x.so", "./x.so"}},
      {"trailing separator", {"/a:"}, {"./x.so"}, "./x.so", {"/a/x.so", "./x.so"}},
      {"nowhere", {"/a:/b"}, {}, "", {"/a/x.so", "/b/x.so"}},
      // A candidate that does not fit the buffer is never asked for.
      {"exactly fitting", {f58.c_str()}, {f58 + "/x.so"}, f58 + "/x.so", {f58 + "/x.so"}},
      {"one over", {f59.c_str()}, {f59 + "/x.so"}, "", {}},
  };
  for (const auto& c : cases) {
    files = c.files;
    asked.clear();
    char found[64];
    const size_t length = find_in_folders("x.so", c.lists.data(), c.lists.size(), readable, found, sizeof found);
    EXPECT_EQ(std::string(found, length), c.found) << c.name;
    EXPECT_EQ(asked, c.asked) << c.name;
  }
}

}  // namespace
