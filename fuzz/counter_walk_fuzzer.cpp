// The walk over counter properties with any names, kinds and values, as a
// counter source might hand them over: names of any length and content,
// embedded zeros and odd byte lengths included, texts of any characters.
// Only 32-bit integers named exactly ReadCount or WriteCount move the
// totals, and nothing else of the scale changes: the set of the poll's disks
// is named by the instances, never by a walked property.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "activity/counter_walk.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// Reads the input front to back; every read past the end gives zeros and
// marks the input used up.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Exhausted() const { return exhausted_; }
  std::uint8_t Byte() {
    if (at_ >= size_) {
      exhausted_ = true;
      return 0;
    }
    return data_[at_++];
  }
  std::uint32_t Word() {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) value |= std::uint32_t{Byte()} << shift;
    return value;
  }
  // 16-bit units, as the platform's strings carry them; zero-terminated.
  std::unique_ptr<wchar_t[]> Units(std::size_t count) {
    std::unique_ptr<wchar_t[]> units(new wchar_t[count + 1]);
    for (std::size_t i = 0; i < count; ++i) units[i] = static_cast<wchar_t>(Byte() | (Byte() << 8));
    units[count] = L'\0';
    return units;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool exhausted_ = false;
};

bool NameIs(const wchar_t* name, std::size_t nameBytes, const std::wstring& target) {
  return nameBytes % sizeof(wchar_t) == 0 && std::wstring(name, nameBytes / sizeof(wchar_t)) == target;
}

bool SameScaleBut(const CounterScale& a, const CounterScale& b) {
  // Every field but the totals and the disks of the current poll.
  return a.prevInstanceCount == b.prevInstanceCount && a.prevInstanceSignature == b.prevInstanceSignature &&
         a.prevReadTotal == b.prevReadTotal && a.prevWriteTotal == b.prevWriteTotal && a.readDelta == b.readDelta &&
         a.writeDelta == b.writeDelta && a.readMax == b.readMax && a.writeMax == b.writeMax &&
         a.readHeight == b.readHeight && a.writeHeight == b.writeHeight && a.lastSample == b.lastSample;
}

std::FILE* Sink() {
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  return sink;
}

}  // namespace

// Each property: a kind byte (kind = byte % 3; bit 7 makes the name's byte
// length odd), a 32-bit value, the name's unit count and units, the text's
// unit count and units. The scale starts anywhere.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  CounterScale scale;
  scale.readTotal = input.Word();
  scale.writeTotal = input.Word();
  scale.prevReadTotal = input.Word();
  scale.readMax = input.Word();
  scale.readHeight = input.Byte() % 16;

  while (!input.Exhausted()) {
    const std::uint8_t kindByte = input.Byte();
    const auto integer = static_cast<std::int32_t>(input.Word());
    const std::size_t nameUnits = input.Byte() % 32;
    const std::unique_ptr<wchar_t[]> name = input.Units(nameUnits);
    const std::size_t textUnits = input.Byte() % 32;
    const std::unique_ptr<wchar_t[]> text = input.Units(textUnits);

    CounterProperty property{};
    property.name = name.get();
    property.nameBytes = nameUnits * sizeof(wchar_t) - ((kindByte & 0x80) != 0 && nameUnits > 0 ? 1 : 0);
    property.kind = static_cast<PropertyKind>(kindByte % 3);
    property.integer = integer;
    property.text = text.get();

    const CounterScale before = scale;
    TallyCounterProperty(Sink(), property, scale);

    const bool counts = property.kind == PropertyKind::Int32;
    const auto value = static_cast<std::uint32_t>(integer);
    const bool read = counts && NameIs(name.get(), property.nameBytes, L"ReadCount");
    const bool write = counts && NameIs(name.get(), property.nameBytes, L"WriteCount");
    Check(scale.readTotal == before.readTotal + (read ? value : 0u));
    Check(scale.writeTotal == before.writeTotal + (write ? value : 0u));
    Check(SameScaleBut(scale, before));
    Check(scale.instanceCount == before.instanceCount);
    Check(scale.instanceSignature == before.instanceSignature);
  }
  return 0;
}
