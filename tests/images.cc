// Images of library files and loader caches, built byte by byte.
#include "images.h"

#include <algorithm>
#include <sstream>

using namespace std::string_literals;

void put16(std::string* bytes, size_t at, unsigned value, bool big_endian) {
  (*bytes)[at + (big_endian ? 1 : 0)] = static_cast<char>(value & 0xFF);
  (*bytes)[at + (big_endian ? 0 : 1)] = static_cast<char>(value >> 8);
}

void put_word(std::string* bytes, size_t at, uint64_t value, size_t size, bool big_endian) {
  for (size_t i = 0; i < size; ++i)
    (*bytes)[at + (big_endian ? size - 1 - i : i)] = static_cast<char>(value >> (8 * i));
}

// The hash of a symbol version's name, as ELF tables carry it.
static uint32_t elf_hash(const std::string& name) {
  uint32_t hash = 0;
  for (unsigned char c : name) {
    hash = (hash << 4) + c;
    const uint32_t high = hash & 0xF0000000u;
    if (high) hash ^= high >> 24;
    hash &= ~high;
  }
  return hash;
}

// Adds text to a string table: its offset there.
static size_t add_string(std::string* strings, const std::string& text) {
  *strings += text + '\0';
  return strings->size() - text.size() - 1;
}

// Appends to tables the records of a VERNEED's "FILE VERSION[/FLAGS] ..."
// (a Verneed naming the file, then a Vernaux a version) or a VERDEF's
// "VERSION ..." (a Verdef and its Verdaux a version), each version after
// the first linked from the one before it.
static void add_versions(std::string* tables, std::string* strings, std::istringstream* words, bool need, bool big) {
  const auto put = [&](size_t at, uint64_t value, size_t size) { put_word(tables, at, value, size, big); };
  const size_t needed = tables->size(), defined_size = size_t{verdef_size} + verdaux_size;
  std::string name;
  if (need && *words >> name) {
    tables->resize(needed + verneed_size);
    put(needed + vn_version, ver_need_current, 2), put(needed + vn_file, add_string(strings, name), 4),
        put(needed + vn_aux, verneed_size, 4);
  }
  for (size_t count = 0; *words >> name; ++count) {
    const size_t slash = name.find('/');
    const unsigned flags = slash == std::string::npos ? 0 : std::stoul(name.substr(slash + 1));
    name = name.substr(0, slash);
    const size_t item = tables->size();
    if (need) {
      if (count > 0) put(item - vernaux_size + vna_next, vernaux_size, 4);
      tables->resize(item + vernaux_size);
      put(needed + vn_cnt, count + 1, 2), put(item + vna_hash, elf_hash(name), 4), put(item + vna_flags, flags, 2),
          put(item + vna_name, add_string(strings, name), 4);
    } else {
      if (count > 0) put(item - defined_size + vd_next, defined_size, 4);
      tables->resize(item + defined_size);
      put(item + vd_version, ver_def_current, 2), put(item + vd_ndx, count + 1, 2), put(item + vd_cnt, 1, 2),
          put(item + vd_hash, elf_hash(name), 4), put(item + vd_aux, verdef_size, 4),
          put(item + verdef_size + vda_name, add_string(strings, name), 4);
    }
  }
}

std::string elf_header(int elf_class, int order, unsigned type, unsigned machine,
                       const std::vector<std::pair<uint64_t, std::string>>& dynamic) {
  const bool wide = elf_class == elfclass64, big = order == elfdata2msb;
  const size_t header = wide ? elf64_ehdr_size : elf32_ehdr_size, entry = wide ? elf64_phdr_size : elf32_phdr_size;
  const size_t word = wide ? 8 : 4;
  const size_t dynamic_at = header + 2 * entry, tables_at = dynamic_at + (dynamic.size() + 3) * 2 * word;
  std::string strings(1, '\0'), tables;  // the version tables, then the strings
  std::string bytes(tables_at, '\0');
  auto put = [&](size_t at, uint64_t value, size_t size) { put_word(&bytes, at, value, size, big); };
  bytes.replace(0, 4, "\177ELF");
  bytes[ei_class] = static_cast<char>(elf_class), bytes[ei_data] = static_cast<char>(order);
  bytes[ei_version] = ev_current;
  put(e_type, type, 2), put(e_machine, machine, 2), put(e_version, ev_current, 4);
  put(wide ? elf64_e_phoff : elf32_e_phoff, header, word), put(wide ? elf64_e_phentsize : elf32_e_phentsize, entry, 2);
  put(wide ? elf64_e_phnum : elf32_e_phnum, 2, 2);
  size_t at = dynamic_at;
  for (const auto& [tag, text] : dynamic) {
    const bool is_string = tag == dt_needed || tag == dt_soname || tag == dt_rpath || tag == dt_runpath;
    const bool need = tag == dt_verneed, definition = tag == dt_verdef, table = text[0] == '#';
    put(at, tag, word), put(at + word,
                            is_string                     ? add_string(&strings, text)
                            : need || definition || table ? tables_at + tables.size()
                                                          : std::stoull(text),
                            word);
    at += 2 * word;
    std::istringstream words(text);
    for (std::string number; table && words >> number;) {
      tables.resize(tables.size() + 4);
      put_word(&tables, tables.size() - 4, std::stoull(number.substr(1)), 4, big);
    }
    if (need || definition) add_versions(&tables, &strings, &words, need, big);
  }
  put(at, dt_strtab, word), put(at + word, tables_at + tables.size(), word), put(at + 2 * word, dt_strsz, word);
  put(at + 3 * word, strings.size(), word);
  bytes += tables + strings;
  // One segment loads the whole file; the other is the dynamic section.
  const size_t load = header, dyn = header + entry;
  put(load + p_type, pt_load, 4), put(dyn + p_type, pt_dynamic, 4);
  for (size_t segment : {load, dyn}) {
    const uint64_t offset = segment == load ? 0 : dynamic_at;
    const uint64_t size = segment == load ? bytes.size() : tables_at - dynamic_at;
    put(segment + (wide ? elf64_p_offset : elf32_p_offset), offset, word),
        put(segment + (wide ? elf64_p_vaddr : elf32_p_vaddr), offset, word);
    put(segment + (wide ? elf64_p_filesz : elf32_p_filesz), size, word),
        put(segment + (wide ? elf64_p_memsz : elf32_p_memsz), size, word);
  }
  return bytes;
}

// Appends to a DLL's data (mapped at 0x1000) an export directory of the
// names given: ordinals from 1, one function for each export, named in
// the order given; "NAME>TEXT" forwards NAME to TEXT. Where the directory
// lies in the data, and how far it reaches (over the forwarders' texts).
static std::pair<size_t, size_t> add_exports(std::string* out, const std::vector<std::string>& exports) {
  std::string& data = *out;
  const size_t directory = (data.size() + 3) & ~size_t{3}, count = exports.size();
  data.resize(directory + image_sizeof_export_directory + count * 10, '\0');
  put_word(&data, directory + export_base, 1, 4, false);
  put_word(&data, directory + export_number_of_functions, count, 4, false);
  put_word(&data, directory + export_number_of_names, count, 4, false);
  const size_t functions = directory + image_sizeof_export_directory, names = functions + 4 * count;
  const size_t ordinals = names + 4 * count;
  put_word(&data, directory + export_address_of_functions, 0x1000 + functions, 4, false);
  put_word(&data, directory + export_address_of_names, 0x1000 + names, 4, false);
  put_word(&data, directory + export_address_of_name_ordinals, 0x1000 + ordinals, 4, false);
  size_t forwarders_at = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t arrow = exports[i].find('>');
    put_word(&data, names + 4 * i, 0x1000 + data.size(), 4, false), put_word(&data, ordinals + 2 * i, i, 2, false);
    data += exports[i].substr(0, arrow) + '\0';
    put_word(&data, functions + 4 * i, 0x1000, 4, false);
    if (arrow == std::string::npos) continue;
    forwarders_at = forwarders_at ? forwarders_at : data.size();
    put_word(&data, functions + 4 * i, 0x1000 + data.size(), 4, false);
    data += exports[i].substr(arrow + 1) + '\0';
  }
  return {directory, (forwarders_at ? data.size() : directory + image_sizeof_export_directory) - directory};
}

std::string pe(unsigned machine, unsigned characteristics, uint32_t pe_offset, size_t length, unsigned magic,
               const std::vector<std::string>& imports, const std::vector<std::string>& exports) {
  const bool wide = machine == image_file_machine_amd64 || machine == image_file_machine_arm64;
  const size_t optional = wide ? image_sizeof_nt_optional64_header : image_sizeof_nt_optional32_header;
  const size_t optional_at = pe_offset + nt_optional_header, sections = optional_at + optional, thunk = wide ? 8 : 4;
  const size_t data_at = (sections + image_sizeof_section_header + 0x1FF) & ~size_t{0x1FF};
  const bool headers_written = pe_offset <= 8192;
  // The descriptors, then for each DLL its list of one function, the
  // function's hint and name (or its ordinal), the DLL's name.
  std::string data(imports.empty() ? 16 : image_sizeof_import_descriptor * (imports.size() + 1), '\0');
  for (size_t i = 0; i < imports.size(); ++i) {
    const size_t colon = imports[i].find(':');
    const std::string library = imports[i].substr(0, colon);
    const std::string function = colon == std::string::npos ? "f" : imports[i].substr(colon + 1);
    const size_t list = data.size(), named = list + 2 * thunk, name = named + 2 + function.size() + 1;
    data += std::string(2 * thunk + 2, '\0') + function + '\0' + library + '\0';
    const uint64_t ordinal_flag = wide ? image_ordinal_flag64 : image_ordinal_flag32;
    put_word(&data, list, function[0] == '#' ? ordinal_flag | std::stoul(function.substr(1)) : 0x1000 + named, thunk,
             false);
    const size_t descriptor = image_sizeof_import_descriptor * i;
    put_word(&data, descriptor + import_name, 0x1000 + name, 4, false);
    put_word(&data, descriptor + import_first_thunk, 0x1000 + list, 4, false);
  }
  const auto [directory, directory_size] = add_exports(&data, exports);
  std::string bytes(headers_written ? data_at : 64, '\0');
  bytes[0] = 'M', bytes[1] = 'Z';
  if (headers_written) {
    bytes.replace(pe_offset, 4, "PE\0\0"s);
    put16(&bytes, pe_offset + nt_machine, machine, false);
    put16(&bytes, pe_offset + nt_number_of_sections, 1, false);
    put16(&bytes, pe_offset + nt_size_of_optional_header, optional, false);
    put16(&bytes, pe_offset + nt_characteristics, characteristics, false);
    const unsigned own_magic = wide ? image_nt_optional_hdr64_magic : image_nt_optional_hdr32_magic;
    put16(&bytes, optional_at + optional_magic, magic ? magic : own_magic, false);
    put_word(&bytes, optional_at + optional_section_alignment, 0x1000, 4, false);
    put_word(&bytes, optional_at + optional_file_alignment, 0x200, 4, false);
    put_word(&bytes, optional_at + optional_size_of_image, 0x1000 + ((data.size() + 0xFFF) & ~size_t{0xFFF}), 4, false);
    put_word(&bytes, optional_at + optional_size_of_headers, data_at, 4, false);
    put_word(&bytes, optional_at + (wide ? optional64_number_of_rva_and_sizes : optional32_number_of_rva_and_sizes),
             image_numberof_directory_entries, 4, false);
    const size_t directories = optional_at + (wide ? optional64_data_directory : optional32_data_directory);
    const size_t exported = directories + image_directory_entry_export * image_sizeof_data_directory;
    const size_t imported = directories + image_directory_entry_import * image_sizeof_data_directory;
    put_word(&bytes, exported, 0x1000 + directory, 4, false), put_word(&bytes, exported + 4, directory_size, 4, false);
    if (!imports.empty()) put_word(&bytes, imported, 0x1000, 4, false);
    put_word(&bytes, sections + section_virtual_size, data.size(), 4, false);
    put_word(&bytes, sections + section_virtual_address, 0x1000, 4, false);
    put_word(&bytes, sections + section_size_of_raw_data, data.size(), 4, false);
    put_word(&bytes, sections + section_pointer_to_raw_data, data_at, 4, false);
    bytes += data;
  }
  for (int i = 0; i < 4; ++i) bytes[e_lfanew + i] = static_cast<char>(pe_offset >> (8 * i));
  if (length) bytes.resize(length);
  return bytes;
}

std::string elf(int elf_class, int order, unsigned type, unsigned machine, size_t length) {
  std::string bytes = elf_header(elf_class, order, type, machine);
  if (length) bytes.resize(length);
  return bytes;
}

std::string patched(std::string bytes, size_t at, char value) {
  bytes[at] = value;
  return bytes;
}

std::string macho(uint32_t cpu, uint32_t type) {
  std::string bytes(32, '\0');
  put_word(&bytes, 0, mh_magic_64, 4, false), put_word(&bytes, mach_header_cputype, cpu, 4, false);
  put_word(&bytes, mach_header_filetype, type, 4, false);
  return bytes;
}

std::string universal(const std::vector<std::string>& slices, size_t cut) {
  std::string bytes(sizeof_fat_header + sizeof_fat_arch * slices.size(), '\0');
  put_word(&bytes, 0, fat_magic, 4, true), put_word(&bytes, fat_header_nfat_arch, slices.size(), 4, true);
  for (size_t i = 0; i < slices.size(); ++i) {
    // Each slice's CPU type, from its (little-endian) header.
    const size_t entry = sizeof_fat_header + sizeof_fat_arch * i, cpu = mach_header_cputype;
    put_word(&bytes, entry + fat_arch_cputype, slices[i][cpu] | slices[i][cpu + 3] << 24, 4, true);
    put_word(&bytes, entry + fat_arch_offset, bytes.size(), 4, true);
    put_word(&bytes, entry + fat_arch_size, slices[i].size(), 4, true);
    bytes += slices[i];
  }
  bytes.resize(bytes.size() - cut);
  return bytes;
}

std::string ld_cache(const std::vector<cache_entry>& entries, unsigned order, uint32_t extra, bool old_entries) {
  std::string old;
  if (old_entries) {
    old = "ld.so-1.7.0"s + std::string(5 + 12 * entries.size(), '\0');
    put_word(&old, 12, entries.size(), 4, false);
    old.resize((old.size() + 7) & ~size_t{7}, '\0');
  }
  std::string bytes = "glibc-ld.so.cache1.1"s + std::string(28 + 24 * entries.size(), '\0');
  std::string strings;
  put_word(&bytes, 20, entries.size() + extra, 4, false);
  bytes[28] = static_cast<char>(order);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = 48 + 24 * i;
    put_word(&bytes, at, entries[i].flags, 4, false);
    put_word(&bytes, at + 4, bytes.size() + strings.size(), 4, false);
    strings += entries[i].key + '\0';
    put_word(&bytes, at + 8, bytes.size() + strings.size(), 4, false);
    strings += entries[i].value + '\0';
    put_word(&bytes, at + 16, entries[i].hwcap, 8, false);
  }
  return old + bytes + strings;
}

std::string old_ld_cache(const std::vector<cache_entry>& entries) {
  std::string bytes = "ld.so-1.7.0"s + std::string(5 + 12 * entries.size(), '\0'), strings;
  put_word(&bytes, 12, entries.size(), 4, false);
  for (size_t i = 0; i < entries.size(); ++i) {
    put_word(&bytes, 16 + 12 * i, entries[i].flags, 4, false);
    put_word(&bytes, 20 + 12 * i, strings.size(), 4, false);
    strings += entries[i].key + '\0';
    put_word(&bytes, 24 + 12 * i, strings.size(), 4, false);
    strings += entries[i].value + '\0';
  }
  return bytes + strings;
}

std::string api_set_schema(unsigned version, const std::vector<api_set>& sets) {
  // The header and the sets, then each set's values, then the strings (in
  // UTF-16), then (version 6) the hash table.
  const size_t header = version == 6 ? 0x1C : version == 4 ? 16 : 8, entry = version == 6 ? 24 : version == 4 ? 24 : 12;
  const size_t value = version <= 3 ? 16 : 20, value_head = version == 6 ? 0 : version == 4 ? 8 : 4;
  std::string table(header + sets.size() * entry, '\0'), strings;
  const auto put = [&](size_t at, uint64_t number) { put_word(&table, at, number, 4, false); };
  std::vector<std::pair<size_t, size_t>> pending;  // where a string's offset goes, and the string's
  const auto text = [&](size_t at, std::string name) {
    pending.push_back({at, strings.size()});
    put(at + 4, name.size() * 2);
    for (char c : name) strings += std::string{c, '\0'};
  };
  std::vector<std::pair<uint32_t, uint32_t>> hashes;
  for (size_t i = 0; i < sets.size(); ++i) {
    const size_t at = header + i * entry;
    std::string name = version == 6 ? sets[i].name : sets[i].name.substr(4);
    const size_t hashed = sets[i].name.rfind('-');
    uint32_t hash = 0;
    for (size_t k = 0; k < hashed; ++k) hash = hash * 31 + static_cast<unsigned char>(tolower(sets[i].name[k]));
    hashes.push_back({hash, static_cast<uint32_t>(i)});
    text(at + (version <= 3 ? 0 : 4), name);
    if (version == 6) put(at, 1), put(at + 12, hashed * 2), put(at + 20, sets[i].values.size());
    put(at + (version == 6 ? 16 : version == 4 ? 20 : 8), table.size());
    const size_t values = table.size();
    table.resize(values + value_head + sets[i].values.size() * value, '\0');
    if (version != 6) put(values + value_head - 4, sets[i].values.size());
    for (size_t k = 0; k < sets[i].values.size(); ++k) {
      const size_t v = values + value_head + k * value + (version <= 3 ? 0 : 4);
      if (!sets[i].values[k].first.empty()) text(v, sets[i].values[k].first);
      if (!sets[i].values[k].second.empty()) text(v + 8, sets[i].values[k].second);
    }
  }
  const size_t strings_at = table.size();
  for (const auto& [at, offset] : pending) put(at, strings_at + offset);
  table += strings;
  std::sort(hashes.begin(), hashes.end());
  if (version == 6) {
    put(0x10, header), put(0x14, table.size()), put(0x18, 31);
    for (const auto& [hash, index] : hashes) {
      table.resize(table.size() + 8);
      put(table.size() - 8, hash), put(table.size() - 4, index);
    }
  }
  put(0, version), put(version <= 3 ? 4 : 12, sets.size());
  // "PE\0\0" at 0x40, no optional header, one section at 0x200.
  const size_t nt = 0x40, section = nt + nt_optional_header;
  std::string file(0x200, '\0');
  file[0] = 'M', file[1] = 'Z', file[e_lfanew] = static_cast<char>(nt);
  file.replace(nt, 4, "PE\0\0"s);
  file[nt + nt_number_of_sections] = 1;
  file.replace(section + section_name, 7, ".apiset");
  put_word(&file, section + section_size_of_raw_data, table.size(), 4, false);
  put_word(&file, section + section_pointer_to_raw_data, 0x200, 4, false);
  return file + table;
}
