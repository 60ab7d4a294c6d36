// The product version of a library's version resource.
#include "product_version.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

// The fixed version record is thirteen 32-bit words; the first is this
// signature, the fifth and sixth the product version.
static const uint32_t fixed_record_signature = 0xFEEF04BDu;
static const size_t fixed_record_size = 13 * sizeof(uint32_t);

static uint32_t record_word(const void* record, int index) {
  uint32_t word;
  memcpy(&word, static_cast<const unsigned char*>(record) + index * sizeof word, sizeof word);
  return word;
}

void print_product_version(const char* path, const line_writer& out) {
  const size_t size = platform_version_size(path);
  if (size == 0) return;
  void* block = malloc(size);
  if (!block) return;

  const void* record = nullptr;
  size_t record_size = 0;
  if (platform_read_version(path, size, block) && platform_find_version_record(block, &record, &record_size) &&
      record && record_size >= fixed_record_size && record_word(record, 0) == fixed_record_signature) {
    const uint32_t high = record_word(record, 4);
    const uint32_t low = record_word(record, 5);
    out.version(high >> 16, high & 0xFFFFu, low >> 16, low & 0xFFFFu);
  }
  free(block);
}
