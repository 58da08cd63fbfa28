#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace mirel {

// One row of the engine bundle: an embedded resource (name, type) and the file
// it becomes in the engine folder.
struct TBundleRow {
  const char *Name;
  const char *Type;
  const char *FileName;
};

inline constexpr std::array<TBundleRow, 12> BundleTable{{
    {"Socket", "pyd", "_socket.pyd"},
    {"Src", "pyd", "_sre.pyd"},
    {"Conio", "pyd", "_WConio.pyd"},
    {"WinReg", "pyd", "_winreg.pyd"},
    {"DatTime", "pyd", "datetime.pyd"},
    {"select", "pyd", "select.pyd"},
    {"zlib", "pyd", "zlib.pyd"},
    {"Down", "exe", "ZULdnheadless.exe"},
    {"w9xpopen", "exe", "w9xpopen.exe"},
    {"CoreIni", "INI", "Core.ini"},
    {"library", "zip", "library.zip"},
    {"python", "dll", "python23.dll"},
}};

inline const std::string EngineFolderSuffix = "_TXDownTemp";

// Registers the embedded artwork and bundle (idempotent).
void InitAppResources();

// $TMPDIR when it names a folder, else "/tmp"; with a trailing "/".
std::string GetTempFolder();

// Work folder: temp folder + product id + "/", made one level deep when
// missing. Empty when it still does not exist afterwards.
std::string MakeWorkFolder(const std::string &tempFolder, const std::string &productId);

// Engine folder: work folder + engineFolderName + "/" when that folder exists
// or can be made (one level), else the work folder itself.
std::string MakeEngineFolder(const std::string &workFolder, const std::string &engineFolderName);

// The bytes of the embedded resource, name and type matched regardless of
// case; nullopt when the build does not carry it.
std::optional<std::string> FindBundleResource(const std::string &name, const std::string &type);

// Writes the resource byte for byte to path, replacing a file that is there.
// Programs ("exe" rows) get their run bits. False when the resource is missing
// or the file cannot be created or written.
bool WriteBundleEntry(const std::string &name, const std::string &type, const std::string &path);

// Deletes the twelve bundle files and the metainfo file from the engine
// folder, then removes the folder if it is empty. Ignores every failure.
void CleanUpEngineFolder(const std::string &engineFolder, const std::string &metainfoFileName);

} // namespace mirel
