#include "activity/bounded_string_copy.h"

std::int32_t BoundedStringCopy(char* destination, std::size_t capacity, const char* source) {
  if (capacity == 0 || destination == nullptr || source == nullptr) return COPY_INVALID_ARGUMENT;
  for (std::size_t i = 0; i < capacity; ++i) {
    destination[i] = source[i];
    if (source[i] == '\0') return COPY_OK;
  }
  destination[capacity - 1] = '\0';
  return COPY_INSUFFICIENT_BUFFER;
}
