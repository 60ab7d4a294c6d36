// Versions as packages record them: package notes, dpkg's database, Mach-O.
#include "package_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "capture.h"
#include "fakes.h"
#include "images.h"

namespace {

std::string shown(bool found, const package_id& id) { return found ? std::string(id.name) + " " + id.version : "-"; }

TEST(PackageNote, TakesNameAndVersionFromValidJsonAlone) {
  const std::string v128(128, '9'), deep = std::string(40, '[') + std::string(40, ']');
  const struct {
    std::string json, read;
  } cases[] = {
      {R"({"type":"rpm","name":"psqlodbc","version":"13.02.0000-2.fc38","os":"fedora"})", "psqlodbc 13.02.0000-2.fc38"},
      {" {\"version\":\"1:2\"}\n", " 1:2"},
      {R"({"x":[1,-2.5e+3,{"y":null},true,false,""],"name":"a\/b","version":"1\u002e0"})", "a/b 1.0"},
      {R"({"name":"a","version":")" + v128 + "\"}", "a " + v128},
      {R"({"name":"a","version":"9)" + v128 + "\"}", "-"},
      {"", "-"}, {"{", "-"}, {R"({"version":"1")", "-"},
      {R"({"version":"1"}x)", "-"}, {R"({"version":"1",})", "-"}, {R"(["version","1"])", "-"},
      {R"({"version":1})", "-"}, {R"({"name":"a"})", "-"}, {R"({"version":"1","version":"2"})", "-"},
      {R"({"version":"1 2"})", "-"}, {R"({"version":"1\t2"})", "-"}, {"{\"version\":\"1\t2\"}", "-"},
      {R"({"version":""})", "-"}, {"{\"version\":\"caf\xc3\xa9\"}", "-"}, {"{\"version\":\"1\",\"x\":\"\xff\"}", "-"},
      {R"({"version":"1","x":01})", "-"}, {R"({"version":"1","x":"\q"})", "-"}, {R"({"version":"1","name":"a b"})", "-"},
      {R"({"version":"1","x":)" + deep + "}", "-"},
  };
  for (const auto& c : cases) {
    package_id id{};
    EXPECT_EQ(shown(read_note_json({c.json.data(), c.json.size()}, &id), id), c.read) << c.json;
  }
}

// A 64-bit ELF image whose notes (owner, type, text) lie in one note
// section, or in one note segment where it has no section headers.
std::string noted(const std::vector<std::tuple<std::string, uint32_t, std::string>>& notes, bool sections) {
  std::string bytes = elf(2, 1, 3, 62), blob;
  for (const auto& [owner, type, text] : notes) {
    std::string note(12, '\0');
    put_word(&note, 0, owner.size() + 1, 4, false), put_word(&note, 4, text.size() + 1, 4, false);
    put_word(&note, 8, type, 4, false);
    blob += note + owner + std::string(4 - owner.size() % 4, '\0') + text + std::string(4 - text.size() % 4, '\0');
  }
  const size_t at = bytes.size(), table = at + blob.size();
  bytes += blob + std::string(64, '\0');
  put_word(&bytes, sections ? 40 : 32, table, 8, false), put_word(&bytes, sections ? 32 : 40, 0, 8, false);
  put16(&bytes, 54, 56, false), put16(&bytes, 56, !sections, false);
  put16(&bytes, 58, 64, false), put16(&bytes, 60, sections, false);
  put_word(&bytes, table + (sections ? 4 : 0), sections ? 7 : 4, 4, false);
  put_word(&bytes, table + (sections ? 24 : 8), at, 8, false), put_word(&bytes, table + 32, blob.size(), 8, false);
  put_word(&bytes, table + 48, 4, 8, false);
  return bytes;
}

TEST(PackageNote, IsFoundInNoteSectionsOrSegmentsOrAsADylibsVersion) {
  const std::string json = R"({"name":"n","version":"1-2"})";
  const uint32_t package = 0xcafe1a7e;
  const auto dylib = [](uint32_t cpu, bool identified) {
    std::string bytes = macho(cpu, 6) + std::string(24, '\0');
    put_word(&bytes, 16, 1, 4, false), put_word(&bytes, 20, 24, 4, false);
    put_word(&bytes, 32, identified ? 0xd : 0xc, 4, false), put_word(&bytes, 36, 24, 4, false);
    put_word(&bytes, 48, 0x000d1a05, 4, false);
    return bytes;
  };
  const uint32_t own_cpu = program_arch() == arch_x64 ? 0x01000007 : 7, other_cpu = 0x0100000c;
  const auto version = read_dylib_version;
  const struct {
    const char* name;
    std::string image, read;
    bool (*reader)(binary_file*, package_id*) = read_package_note;
  } cases[] = {
      {"a section", noted({{"FDO", package, json}}, true), "n 1-2"},
      {"a segment", noted({{"FDO", package, json}}, false), "n 1-2"},
      {"after a build ID", noted({{"GNU", 3, "0123456789"}, {"FDO", package, json}}, true), "n 1-2"},
      {"another owner", noted({{"GNU", package, json}}, true), "-"},
      {"another type", noted({{"FDO", 3, json}}, true), "-"},
      {"invalid JSON", noted({{"FDO", package, "{\"version\":}"}}, true), "-"},
      {"a note of a megabyte", noted({{"FDO", package, json + std::string(1 << 20, ' ')}}, true), "-"},
      {"cut", noted({{"FDO", package, json}}, true).substr(0, 200), "-"},
      {"a thin dylib", dylib(own_cpu, true), " 13.26.5", version},
      {"a dylib of another architecture", dylib(other_cpu, true), "-", version},
      {"a dylib without LC_ID_DYLIB", dylib(own_cpu, false), "-", version},
      {"universal", universal({dylib(other_cpu, true), dylib(own_cpu, true)}), " 13.26.5", version},
      {"universal without this one", universal({dylib(other_cpu, true)}), "-", version},
  };
  for (const auto& c : cases) {
    binary_file file;
    memory_file(reinterpret_cast<const unsigned char*>(c.image.data()), c.image.size(), &file);
    package_id id{};
    EXPECT_EQ(shown(c.reader(&file, &id), id), c.read) << c.name;
  }
}

TEST(DpkgVersions, AreThoseOfThePackageThatPutTheFileThere) {
  reset_fakes();
  fake_os.version_sources = version_dpkg;
  const std::string odbc = "/usr/lib/x86_64-linux-gnu/odbc/", info = "/var/lib/dpkg/info/";
  const std::string stanza = "Status: install ok installed\nArchitecture: amd64\n";
  fake_os.files = {
      {"/var/lib/dpkg/status", "Package: odbc-postgresql\n" + stanza + "Multi-Arch: same\nVersion: 1:13.02-2+b1\n" +
                                   "Description: x\n Version: 9\n\nPackage: odbc-mariadb\n" + stanza +
                                   "Version: 3.1.15-3\n\n\nPackage: old\nStatus: deinstall ok config-files\n" +
                                   "Version: 2\n\nPackage: other\nStatus: install ok unpacked\nVersion: 5\n\n" +
                                   "Package: dash\n" + stanza + "Version: 0.5\n\nPackage: bad\n" + stanza +
                                   "Version: 1\x01\n\nPackage: cut\n" + stanza + "Version: 1.2"},
      {info + "odbc-postgresql:amd64.list", "/.\n" + odbc + "psqlodbcw.so\n/lib/x86_64-linux-gnu/libpq.so.5\n"},
      {info + "odbc-mariadb.list", odbc + "libmaodbc.so\n" + odbc + "shared.so\n" + odbc + "diverted.so\n"},
      {info + "old.list", odbc + "old.so\n"},
      {info + "other.list", odbc + "shared.so\n" + odbc + "unended.so"},
      {info + "dash.list", odbc + "diverted.so\n"},
      {info + "bad.list", odbc + "bad.so\n"},
      {info + "cut.list", odbc + "cut.so\n"},
      {"/var/lib/dpkg/diversions", odbc + "diverted.so\n" + odbc + "diverted.so.real\ndash\n"},
      {"/lib/x86_64-linux-gnu/libpq.so.5", ""},
      {"/opt/x.so", ""},
  };
  fake_os.links["/usr/lib/x86_64-linux-gnu/libpq.so.5"] = "/lib/x86_64-linux-gnu/libpq.so.5";
  const struct {
    std::string file, value, written;
  } cases[] = {
      {odbc + "psqlodbcw.so", "psqlodbcw.so", "\t1:13.02-2+b1"},
      {odbc + "libmaodbc.so", "", "\t3.1.15-3"},
      {"/usr/lib/x86_64-linux-gnu/libpq.so.5", "", "\t1:13.02-2+b1"},
      {"/opt/x.so", odbc + "psqlodbcw.so", "\t1:13.02-2+b1"},
      {odbc + "diverted.so", "", "\t0.5"},
      {odbc + "diverted.so.real", "", "\t3.1.15-3"},
      {odbc + "nobody.so", "", ""},
      {odbc + "old.so", "", ""},
      {odbc + "shared.so", "", ""},
      {odbc + "bad.so", "", ""},
      {odbc + "cut.so", "", ""},
      {odbc + "unended.so", "", ""},
  };
  package_memory packages{};
  for (const auto& c : cases) {
    fake_os.files.emplace(c.file, "");
    const captured written =
        capture([&] { print_package_version(packages, c.file.c_str(), c.value.c_str(), tab_lines); });
    EXPECT_EQ(written.out, c.written) << c.file;
  }
  const captured json =
      capture([&] { print_package_version(packages, (odbc + "psqlodbcw.so").c_str(), "", json_lines); });
  EXPECT_EQ(json.out, ",\"version\":\"1:13.02-2+b1\",\"package\":\"odbc-postgresql\"");
  EXPECT_EQ(std::count(fake_os.opened.begin(), fake_os.opened.end(), "/var/lib/dpkg/status"), 1) << "read once";
  reset_package_memory(packages);
}

}  // namespace
