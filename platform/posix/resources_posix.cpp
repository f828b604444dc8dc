// Resource lookup on the program's own module, over the table the build
// embedded from the resource script.
#include <cstring>

#include "platform/posix/resource_table.h"

namespace {

const EmbeddedResource* g_table = nullptr;
size_t g_count = 0;

bool NameMatches(const EmbeddedResource& entry, LPCSTR name) {
  if (IS_INTRESOURCE(name)) {
    return entry.name == nullptr &&
           entry.id == static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  }
  return entry.name != nullptr && std::strcmp(entry.name, name) == 0;
}

bool TypeMatches(const EmbeddedResource& entry, LPCSTR type) {
  return !IS_INTRESOURCE(type) && std::strcmp(entry.type, type) == 0;
}

}  // namespace

void UseResourceTable(const EmbeddedResource* table, size_t count) {
  g_table = table;
  g_count = table ? count : 0;
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  // Only the program's own module carries resources here.
  if (module != nullptr || name == nullptr || type == nullptr) return nullptr;
  const EmbeddedResource* table = g_table ? g_table : kEmbeddedResources;
  size_t count = g_table ? g_count : kEmbeddedResourceCount;
  for (size_t i = 0; i < count; ++i) {
    if (TypeMatches(table[i], type) && NameMatches(table[i], name)) {
      return reinterpret_cast<HRSRC>(const_cast<EmbeddedResource*>(&table[i]));
    }
  }
  return nullptr;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) return 0;
  return reinterpret_cast<const EmbeddedResource*>(resource)->size;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) return nullptr;
  const auto* entry = reinterpret_cast<const EmbeddedResource*>(resource);
  return entry->refusesLoad ? nullptr : static_cast<HGLOBAL>(resource);
}

LPVOID LockResource(HGLOBAL loaded) {
  if (!loaded) return nullptr;
  const auto* entry = static_cast<const EmbeddedResource*>(loaded);
  return const_cast<BYTE*>(entry->data);
}
