// Pilot programs: executables and libraries of the maker's applications that carry their
// own preview as bitmap resource 1000. A program is a pilot when its version resource or the
// registry marks it for an application and the bitmap is there. Programs are only read.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "documents/document_previews.h"
#include "platform/pe_resources.h"

namespace scopa {

// Identifier of the bitmap resource that holds a pilot's preview.
inline constexpr uint32_t kPilotBitmapId = 1000;

// Answers whether a registry key exists under HKEY_LOCAL_MACHINE (full key path).
using RegistryKeyExists = std::function<bool(const std::string& key_path)>;

// True when a "\StringFileInfo\<language><code page>\Comments" text of one of the version
// resource's translations contains `application_tag` (case-sensitive).
bool HasPilotVersionMark(const PeResources& resources, std::string_view application_tag);

// The registry key that registers the program: `registry_path` followed by the file name
// without its folder and extension ("...\Pilots\" + "Tool" for "C:\x\Tool.exe").
std::string PilotRegistryKey(std::string_view path, std::string_view registry_path);

// Decodes bitmap resource 1000; false when it is missing or not a usable DIB.
bool LoadPilotBitmap(const PeResources& resources, DocumentPreview* preview);

// The whole pilot test: the name ends in ".EXE" or ".DLL" (any case), the program is
// marked by its version resource or registered (`registry_key_exists` may be empty: then
// only the version resource counts), and its bitmap 1000 loads.
bool IsPilot(const std::string& path, std::string_view application_tag,
             std::string_view registry_path, const RegistryKeyExists& registry_key_exists);

// The preview of a pilot program (its bitmap 1000).
bool MakePilotPreview(const std::string& path, DocumentPreview* preview);

}  // namespace scopa
