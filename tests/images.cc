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

std::string elf_header(int elf_class, int order, unsigned type, unsigned machine,
                       const std::vector<std::pair<uint64_t, std::string>>& dynamic) {
  const bool wide = elf_class == 2, big = order == 2;
  const size_t header = wide ? 64 : 52, entry = wide ? 56 : 32, word = wide ? 8 : 4;
  const size_t dynamic_at = header + 2 * entry, tables_at = dynamic_at + (dynamic.size() + 3) * 2 * word;
  std::string strings(1, '\0'), tables;  // the version tables, then the strings
  std::string bytes(tables_at, '\0');
  auto put = [&](size_t at, uint64_t value, size_t size) { put_word(&bytes, at, value, size, big); };
  auto put_table = [&](size_t at, uint64_t value, size_t size) { put_word(&tables, at, value, size, big); };
  auto add_string = [&](const std::string& text) {
    strings += text + '\0';
    return strings.size() - text.size() - 1;
  };
  bytes.replace(0, 4, "\177ELF");
  bytes[4] = static_cast<char>(elf_class), bytes[5] = static_cast<char>(order), bytes[6] = 1;
  put(16, type, 2), put(18, machine, 2), put(20, 1, 4);
  put(wide ? 32 : 28, header, word), put(wide ? 54 : 42, entry, 2), put(wide ? 56 : 44, 2, 2);
  size_t at = dynamic_at;
  for (const auto& [tag, text] : dynamic) {
    const bool is_string = tag == 1 || tag == 14 || tag == 15 || tag == 29;
    const bool need = tag == 0x6ffffffe, definition = tag == 0x6ffffffc, table = text[0] == '#';
    put(at, tag, word), put(at + word,
                            is_string                     ? add_string(text)
                            : need || definition || table ? tables_at + tables.size()
                                                          : std::stoull(text),
                            word);
    at += 2 * word;
    std::istringstream words(text);
    std::string name;
    for (std::string number; table && words >> number;) {
      tables.resize(tables.size() + 4);
      put_table(tables.size() - 4, std::stoull(number.substr(1)), 4);
    }
    // A Verneed naming the file, then a Vernaux a version; a Verdef and its
    // Verdaux a version.
    if (need && words >> name) {
      tables.resize(tables.size() + 16);
      put_table(tables.size() - 16, 1, 2), put_table(tables.size() - 12, add_string(name), 4),
          put_table(tables.size() - 8, 16, 4);
    }
    for (size_t count = 0, first = tables.size(); (need || definition) && words >> name; ++count) {
      const size_t slash = name.find('/');
      const unsigned flags = slash == std::string::npos ? 0 : std::stoul(name.substr(slash + 1));
      name = name.substr(0, slash);
      if (count > 0) put_table(tables.size() - (need ? 4 : 12), need ? 16 : 28, 4);
      tables.resize(tables.size() + (need ? 16 : 28));
      const size_t item = tables.size() - (need ? 16 : 28);
      if (need) put_table(first - 14, count + 1, 2), put_table(item, elf_hash(name), 4), put_table(item + 4, flags, 2);
      else
        put_table(item, 1, 2), put_table(item + 4, count + 1, 2), put_table(item + 6, 1, 2),
            put_table(item + 8, elf_hash(name), 4), put_table(item + 12, 20, 4);
      put_table(item + (need ? 8 : 20), add_string(name), 4);
    }
  }
  put(at, 5, word), put(at + word, tables_at + tables.size(), word), put(at + 2 * word, 10, word);
  put(at + 3 * word, strings.size(), word);
  bytes += tables + strings;
  // One segment loads the whole file; the other is the dynamic section.
  const size_t load = header, dyn = header + entry;
  put(load, 1, 4), put(dyn, 2, 4);
  for (size_t segment : {load, dyn}) {
    const uint64_t offset = segment == load ? 0 : dynamic_at;
    const uint64_t size = segment == load ? bytes.size() : tables_at - dynamic_at;
    put(segment + (wide ? 8 : 4), offset, word), put(segment + (wide ? 16 : 8), offset, word);
    put(segment + (wide ? 32 : 16), size, word), put(segment + (wide ? 40 : 20), size, word);
  }
  return bytes;
}

std::string pe(unsigned machine, unsigned characteristics, uint32_t pe_offset, size_t length, unsigned magic,
               const std::vector<std::string>& imports, const std::vector<std::string>& exports) {
  const bool wide = machine == 0x8664 || machine == 0xAA64;
  const size_t optional = wide ? 240 : 224, sections = pe_offset + 24 + optional, thunk = wide ? 8 : 4;
  const size_t data_at = (sections + 40 + 0x1FF) & ~size_t{0x1FF};
  const bool headers_written = pe_offset <= 8192;
  // The descriptors, then for each DLL its list of one function, the
  // function's hint and name (or its ordinal), the DLL's name.
  std::string data(imports.empty() ? 16 : 20 * (imports.size() + 1), '\0');
  for (size_t i = 0; i < imports.size(); ++i) {
    const size_t colon = imports[i].find(':');
    const std::string library = imports[i].substr(0, colon);
    const std::string function = colon == std::string::npos ? "f" : imports[i].substr(colon + 1);
    const size_t list = data.size(), named = list + 2 * thunk, name = named + 2 + function.size() + 1;
    data += std::string(2 * thunk + 2, '\0') + function + '\0' + library + '\0';
    const uint64_t ordinal_flag = uint64_t{1} << (thunk * 8 - 1);
    put_word(&data, list, function[0] == '#' ? ordinal_flag | std::stoul(function.substr(1)) : 0x1000 + named, thunk,
             false);
    put_word(&data, 20 * i + 12, 0x1000 + name, 4, false), put_word(&data, 20 * i + 16, 0x1000 + list, 4, false);
  }
  // The export directory: ordinals from 1, one function for each export,
  // named in the order given; "NAME>TEXT" forwards NAME to TEXT.
  const size_t directory = (data.size() + 3) & ~size_t{3}, count = exports.size();
  data.resize(directory + 40 + count * 10, '\0');
  put_word(&data, directory + 16, 1, 4, false), put_word(&data, directory + 20, count, 4, false);
  put_word(&data, directory + 24, count, 4, false);
  const size_t functions = directory + 40, names = functions + 4 * count, ordinals = names + 4 * count;
  put_word(&data, directory + 28, 0x1000 + functions, 4, false),
      put_word(&data, directory + 32, 0x1000 + names, 4, false);
  put_word(&data, directory + 36, 0x1000 + ordinals, 4, false);
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
  std::string bytes(headers_written ? data_at : 64, '\0');
  bytes[0] = 'M', bytes[1] = 'Z';
  if (headers_written) {
    bytes.replace(pe_offset, 4, "PE\0\0"s);
    put16(&bytes, pe_offset + 4, machine, false);
    put16(&bytes, pe_offset + 6, 1, false);
    put16(&bytes, pe_offset + 20, optional, false);
    put16(&bytes, pe_offset + 22, characteristics, false);
    put16(&bytes, pe_offset + 24, magic ? magic : wide ? 0x20B : 0x10B, false);
    put_word(&bytes, pe_offset + 24 + 32, 0x1000, 4, false);  // section alignment
    put_word(&bytes, pe_offset + 24 + 36, 0x200, 4, false);   // file alignment
    put_word(&bytes, pe_offset + 24 + 56, 0x1000 + ((data.size() + 0xFFF) & ~size_t{0xFFF}), 4, false);  // image size
    put_word(&bytes, pe_offset + 24 + 60, data_at, 4, false);  // headers' size
    const size_t directories = pe_offset + 24 + (wide ? 108 : 92);
    put_word(&bytes, directories, 16, 4, false);
    // The export directory reaches over the forwarders' texts.
    put_word(&bytes, directories + 4, 0x1000 + directory, 4, false);
    put_word(&bytes, directories + 8, (forwarders_at ? data.size() : directory + 40) - directory, 4, false);
    if (!imports.empty()) put_word(&bytes, directories + 12, 0x1000, 4, false);
    put_word(&bytes, sections + 8, data.size(), 4, false);   // its size in memory
    put_word(&bytes, sections + 12, 0x1000, 4, false);       // its address
    put_word(&bytes, sections + 16, data.size(), 4, false);  // its size in the file
    put_word(&bytes, sections + 20, data_at, 4, false);      // where it is
    bytes += data;
  }
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(pe_offset >> (8 * i));
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
  put_word(&bytes, 0, 0xFEEDFACF, 4, false), put_word(&bytes, 4, cpu, 4, false);
  put_word(&bytes, 12, type, 4, false);
  return bytes;
}

std::string universal(const std::vector<std::string>& slices, size_t cut) {
  std::string bytes(8 + 20 * slices.size(), '\0');
  put_word(&bytes, 0, 0xCAFEBABE, 4, true), put_word(&bytes, 4, slices.size(), 4, true);
  for (size_t i = 0; i < slices.size(); ++i) {
    put_word(&bytes, 8 + 20 * i, slices[i][4] | slices[i][7] << 24, 4, true);
    put_word(&bytes, 16 + 20 * i, bytes.size(), 4, true), put_word(&bytes, 20 + 20 * i, slices[i].size(), 4, true);
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
  const size_t value = version == 2 ? 16 : 20, value_head = version == 6 ? 0 : version == 4 ? 8 : 4;
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
    text(at + (version == 2 ? 0 : 4), name);
    if (version == 6) put(at, 1), put(at + 12, hashed * 2), put(at + 20, sets[i].values.size());
    put(at + (version == 6 ? 16 : version == 4 ? 20 : 8), table.size());
    const size_t values = table.size();
    table.resize(values + value_head + sets[i].values.size() * value, '\0');
    if (version != 6) put(values + value_head - 4, sets[i].values.size());
    for (size_t k = 0; k < sets[i].values.size(); ++k) {
      const size_t v = values + value_head + k * value + (version == 2 ? 0 : 4);
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
  put(0, version), put(version == 2 ? 4 : 12, sets.size());
  // "PE\0\0" at 0x40, no optional header, one section at 0x200.
  std::string file(0x200, '\0');
  file[0] = 'M', file[1] = 'Z', file[0x3C] = 0x40;
  file.replace(0x40, 4, "PE\0\0"s);
  file[0x46] = 1;
  file.replace(0x58, 7, ".apiset");
  put_word(&file, 0x58 + 16, table.size(), 4, false), put_word(&file, 0x58 + 20, 0x200, 4, false);
  return file + table;
}
