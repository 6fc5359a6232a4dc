// A copy of 8-bit text into a fixed-size buffer that cuts silently.
#pragma once

#include <cstddef>
#include <cstdint>

// The results as COM result codes, so Windows callers can compare them with
// E_INVALIDARG and HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
constexpr std::int32_t COPY_OK = 0;
constexpr std::int32_t COPY_INVALID_ARGUMENT = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t COPY_INSUFFICIENT_BUFFER = static_cast<std::int32_t>(0x8007007Au);

// Copies source into destination, whose capacity counts the terminator.
// Returns COPY_OK when all of source fit; COPY_INSUFFICIENT_BUFFER when it did
// not, leaving the first capacity - 1 characters and the terminator; and
// COPY_INVALID_ARGUMENT, writing nothing, when the capacity is 0 or a
// pointer is null.
std::int32_t BoundedStringCopy(char* destination, std::size_t capacity, const char* source);
