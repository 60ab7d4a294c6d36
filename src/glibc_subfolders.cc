// The subfolders glibc's loader tries, from what it knows of the processor.
#include "glibc_subfolders.h"

#include <cstring>

namespace {

struct subfolder_list {
  char* out;
  size_t cap, used;
};

void add(subfolder_list* list, const char* text) {
  const size_t length = strlen(text);
  if (list->used + length + 2 > list->cap) return;
  memcpy(list->out + list->used, text, length + 1);
  list->used += length + 1;
}

}  // namespace

void glibc_subfolders(const processor_facts& facts, char* out, size_t cap) {
  if (cap == 0) return;
  subfolder_list list{out, cap, 0};
  const char* const levels[] = {"glibc-hwcaps/x86-64-v4/", "glibc-hwcaps/x86-64-v3/", "glibc-hwcaps/x86-64-v2/"};
  for (int level = 0; level < 3; ++level)
    if (facts.level[level]) add(&list, levels[level]);
  if (facts.legacy) {
    char own[256] = "";
    if (facts.platform && strlen(facts.platform) + 2 < sizeof own) {
      strcpy(own, facts.platform);
      strcat(own, "/");
    }
    // Each part a bit of the set, "tls" the highest: every set, the largest
    // number first, a part left out where it has no value. A platform named
    // as a hwcap gives the same subfolder twice, and glibc tries it twice.
    const char* const parts[] = {"tls/", own, facts.avx512_1 ? "avx512_1/" : "", facts.x86_64 ? "x86_64/" : ""};
    for (int set = 15; set > 0; --set) {
      char subfolder[512] = "";
      bool usable = true;
      for (int part = 0; part < 4; ++part) {
        if ((set & (8 >> part)) == 0) continue;
        usable = usable && parts[part][0];
        strcat(subfolder, parts[part]);
      }
      if (usable) add(&list, subfolder);
    }
  }
  out[list.used] = '\0';
}
