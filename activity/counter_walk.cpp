#include "activity/counter_walk.h"

#include <cstring>
#include <cwchar>

bool CounterNameIs(const CounterProperty& property, const wchar_t* target) {
  const std::size_t targetBytes = std::wcslen(target) * sizeof(wchar_t);
  return property.nameBytes == targetBytes && std::memcmp(property.name, target, targetBytes) == 0;
}

void TallyCounterProperty(std::FILE* out, const CounterProperty& property, CounterScale& scale) {
  // %ls is a wide string in every C runtime we build with.
  switch (property.kind) {
    case PropertyKind::Int32:
      if (out != nullptr) std::fwprintf(out, L"\t%ls\t= %d\n", property.name, static_cast<int>(property.integer));
      if (CounterNameIs(property, L"ReadCount")) scale.readTotal += static_cast<std::uint32_t>(property.integer);
      if (CounterNameIs(property, L"WriteCount")) scale.writeTotal += static_cast<std::uint32_t>(property.integer);
      break;
    case PropertyKind::Text:
      if (out != nullptr) std::fwprintf(out, L"\t%ls\t= %ls\n", property.name, property.text);
      break;
    case PropertyKind::Other:
      if (out != nullptr) std::fwprintf(out, L"\t%ls\t= NULL\n", property.name);
      break;
  }
}
