#pragma once
// The registry entries of the class: written in order on registration, removed in reverse
// order on removal. Machine-wide they live under HKEY_CLASSES_ROOT; per user under
// HKEY_CURRENT_USER\Software\Classes, which Windows merges into the same view.
#include <windows.h>

#include <string>
#include <vector>

namespace kv::host {

// Where the class entries go: a root key and the path below it ("" or "Software\Classes\").
struct RegistryPlace {
    HKEY root;
    std::wstring prefix;
};
RegistryPlace MachineClasses();
RegistryPlace UserClasses();

// A key below the place with its default value.
struct RegistryEntry {
    std::wstring key;
    std::wstring value;
};

// The five entries of the class, in the order registration writes them.
std::vector<RegistryEntry> ClassEntries(const std::wstring& server_path);

// The class identifier as registry text: upper-case hexadecimal 8-4-4-4-12, in braces.
std::wstring ClsidText(const CLSID& clsid);

// The file under which the system loaded `module`, in its long form; its short (8.3) form
// when the long one holds a space. Empty when the system cannot say.
std::wstring ServerPath(HMODULE module);

// Writes the entries in order; a key or value that cannot be written stops it with the error
// "Error creating system registry entry" (kv::Error), and what was written before stays.
void RegisterClassEntries(const RegistryPlace& place, const std::vector<RegistryEntry>& entries);

// Deletes the entries in reverse order, ignoring every failure: a missing key is skipped and a
// key that still has subkeys stays.
void UnregisterClassEntries(const RegistryPlace& place, const std::vector<RegistryEntry>& entries);

}  // namespace kv::host
