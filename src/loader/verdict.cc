// A verdict and its word.
#include "loader/verdict.h"

#include <cstring>

namespace {

const char* arch_name(library_arch arch) {
  switch (arch) {
    case arch_x86: return "x86";
    case arch_x64: return "x64";
    case arch_arm64: return "arm64";
    case arch_arm: return "arm";
    case arch_other: break;
  }
  return "other";
}

const char* stem(verdict_kind kind) {
  switch (kind) {
    case verdict_ok: return "ok";
    case verdict_missing: return "missing";
    case verdict_unreadable: return "unreadable";
    case verdict_not_a_library: return "not-a-library";
    case verdict_mismatch: return "mismatch";
    case verdict_not_followed: return "not-followed";
    case verdict_not_a_driver: return "not-a-driver";
    case verdict_missing_version: return "missing-version";
    case verdict_undefined_symbol: return "undefined-symbol";
    case verdict_missing_procedure: return "missing-procedure";
    case verdict_no_driver: return "no-driver";
    case verdict_unknown_driver: return "unknown-driver";
    case verdict_other_bitness: break;
  }
  return "other-bitness";
}

// Appends text, cut to fit cap.
void append(char* text, size_t cap, const char* more) {
  const size_t used = strlen(text);
  size_t length = strlen(more);
  if (used + 1 >= cap) return;
  if (length > cap - used - 1) length = cap - used - 1;
  memcpy(text + used, more, length);
  text[used + length] = '\0';
}

}  // namespace

library_arch program_arch() {
#if defined(__x86_64__) || defined(_M_X64)
  return arch_x64;
#elif defined(__i386__) || defined(_M_IX86)
  return arch_x86;
#elif defined(__aarch64__) || defined(_M_ARM64)
  return arch_arm64;
#elif defined(__arm__) || defined(_M_ARM)
  return arch_arm;
#else
  return arch_other;
#endif
}

void set_verdict(library_verdict* verdict, verdict_kind kind, const char* subject, const char* detail) {
  verdict->kind = kind;
  verdict->arch = arch_other;
  verdict->have[0] = verdict->elsewhere[0] = verdict->hint[0] = '\0';
  verdict->subject[0] = verdict->detail[0] = '\0';
  verdict->has_subject = subject != nullptr;
  verdict->has_detail = detail != nullptr;
  if (subject) append_name(verdict->subject, sizeof verdict->subject, subject);
  if (detail) append_name(verdict->detail, sizeof verdict->detail, detail);
}

void write_word(const library_verdict& verdict, char* text, size_t cap) {
  if (cap == 0) return;
  text[0] = '\0';
  append(text, cap, stem(verdict.kind));
  if (verdict.has_subject) {
    append(text, cap, verdict.kind < verdict_not_a_driver ? "-dependency:" : ":");
    append(text, cap, verdict.subject);
  }
  if (verdict.kind == verdict_mismatch) {
    append(text, cap, ":");
    append(text, cap, arch_name(verdict.arch));
  }
  if (verdict.has_detail) {
    append(text, cap, verdict.kind == verdict_undefined_symbol ? "@" : ":");
    append(text, cap, verdict.detail);
  }
}

void keep_places_for_missing(library_verdict* verdict) {
  if (verdict->kind != verdict_missing) verdict->searched[0] = verdict->elsewhere[0] = '\0';
}

bool add_to_list(char* list, size_t cap, const char* entry) {
  size_t used = 0, last = 0;
  for (; list[used]; used += strlen(list + used) + 1) last = used;
  // A list cut once stays cut, so that what it holds keeps its order.
  if (used > 0 && strcmp(list + last, "...") == 0) return false;
  const char* kept = strlen(entry) + 2 + 5 <= cap - used ? entry : "...";
  if (strlen(kept) + 2 > cap - used) return false;
  memcpy(list + used, kept, strlen(kept) + 1);
  list[used + strlen(kept) + 1] = '\0';
  return kept == entry;
}

void add_place(char* list, size_t cap, const char* place) {
  for (const char* at = list; *at; at += strlen(at) + 1)
    if (strcmp(at, place) == 0) return;
  add_to_list(list, cap, place);
}

void append_name(char* word, size_t cap, const char* name) {
  size_t used = strlen(word);
  for (size_t i = 0; name[i] && i < 255 && used + 1 < cap; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    word[used++] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  word[used] = '\0';
}
