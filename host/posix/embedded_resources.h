// The resources built into a POSIX program: byte arrays generated at build time
// (tools/str0_compile.py) and found by name.
#pragma once

#include <cstdint>

namespace zipkit::host {

struct TEmbeddedResource {
  const char* Name;
  const uint8_t* Data;
  int32_t Size;
};

extern const TEmbeddedResource kEmbeddedResources[];
extern const int32_t kEmbeddedResourceCount;

}  // namespace zipkit::host
