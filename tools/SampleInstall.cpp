#include "SampleInstall.h"

#include "Command.h"
#include "VectorFile.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "file/File.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"
#include "hpfs/WritableHPFS.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"

namespace sample {

namespace {

bool Fail(std::string* error, const std::string& what, ErrorCode code) {
    if (error) *error = what + ": " + ErrorText(code);
    return false;
}

bool BuildBlockFile(const std::vector<PackedFile>& files, std::vector<uint8_t>* bytes, std::string* error) {
    bytes->clear();
    // The pool destroys the file it is attached to; the bytes stay with the caller.
    auto* file = new CVectorFile(bytes);
    if (ErrorCode code = WriteEmptyBlockFile(file, 512, 8, 0x100000)) {
        delete file;
        return Fail(error, "empty block file", code);
    }
    auto* pool = new CWritableBFHP();
    if (ErrorCode code = pool->Attach(file)) {
        delete pool;
        delete file;
        return Fail(error, "block file", code);
    }
    CWritableHPFS service(pool);  // owns the pool, which owns the file
    for (const PackedFile& packed : files) {
        // Each folder on the way, from the root down; existing ones fail harmlessly.
        std::string parent;
        for (size_t start = 0, end; (end = packed.name.find('\\', start)) != std::string::npos; start = end + 1) {
            std::string name = packed.name.substr(start, end - start);
            service.MakeDirectory(parent.c_str(), name.c_str());
            parent += (parent.empty() ? "" : "\\") + name;
        }
        ErrorCode code = nullptr;
        CFile* target = service.Open(packed.name.c_str(), FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, &code);
        if (!target) return Fail(error, packed.name, code);
        code = target->Write(packed.content.data(), uint32_t(packed.content.size()), nullptr);
        delete target;
        if (code) return Fail(error, packed.name, code);
    }
    return true;  // the service's destruction flushes the pool into bytes
}

}  // namespace

bool BuildLocalPack(LocalPackFormat format, bool compressed, const std::vector<PackedFile>& files,
                    std::vector<uint8_t>* bytes, std::string* error) {
    std::vector<uint8_t> image;
    if (format == LocalPackFormat::kBlockFile) {
        if (!BuildBlockFile(files, &image, error)) return false;
    } else {
        std::vector<PackWriterEntry> entries;
        const uint32_t kDosTime = (uint32_t(2003 - 1980) << 25 | 5u << 21 | 17u << 16) | (12u << 11);
        for (const PackedFile& packed : files)
            entries.push_back(PackWriterEntry{packed.name.c_str(), reinterpret_cast<const uint8_t*>(packed.content.data()),
                                              uint32_t(packed.content.size()), kDosTime});
        CVectorFile target(&image);
        if (ErrorCode code = WritePack(entries.data(), uint32_t(entries.size()), &target))
            return Fail(error, "pack file", code);
    }
    if (!compressed) {
        *bytes = std::move(image);
        return true;
    }
    bytes->clear();
    CVectorFile target(bytes);
    if (ErrorCode code = CompressLzssImage(image.data(), uint32_t(image.size()), &target, kLzssPatchBlockSize,
                                           kLzssPatchBitLengths, nullptr))
        return Fail(error, "container", code);
    return true;
}

std::vector<PackedFile> LanguageFiles(const std::optional<std::string>& language,
                                      const std::optional<std::string>& peon) {
    std::string strings3 = "; game texts\r\n[system]\r\n";
    if (language) strings3 += "language = " + *language + "\r\n";
    strings3 += "version = 1\r\n";
    std::string strings = "[objects]\r\n";
    if (peon) strings += "peon = " + *peon + "\r\n";
    strings += "knight = knight\r\n";
    return {{"LOCAL\\strings3.ini", strings3}, {"LOCAL\\strings.ini", strings}};
}

namespace {

std::string RegistryString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string GameKeyName(RegistryView view) {
    return view == RegistryView::k32Bit ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel\\Quor"
                                        : "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvandel\\Quor";
}

std::string RegistryText(const std::vector<GameKey>& keys) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    if (keys.empty()) return text + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Orvandel]\r\n\r\n";
    for (const GameKey& key : keys) {
        text += "[" + GameKeyName(key.view) + "]\r\n";
        if (key.path) text += "\"Path\"=" + RegistryString(*key.path) + "\r\n";
        if (key.gameVersion) {
            char number[16];
            std::snprintf(number, sizeof number, "%08x", unsigned(*key.gameVersion));
            text += std::string("\"GameVersion\"=dword:") + number + "\r\n";
        }
        if (key.language) text += "\"Language\"=" + RegistryString(*key.language) + "\r\n";
        text += "\r\n";
    }
    return text;
}

namespace {

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

}  // namespace

std::optional<uint32_t> RegistryGameVersion(const std::string& registryText, RegistryView view) {
    const std::string header = LowerAscii("[" + GameKeyName(view) + "]");
    const std::string name = "\"gameversion\"=dword:";
    std::optional<uint32_t> version;
    bool inKey = false;
    size_t start = 0;
    while (start < registryText.size()) {
        size_t end = registryText.find('\n', start);
        if (end == std::string::npos) end = registryText.size();
        std::string line = LowerAscii(registryText.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inKey = line == header;
        } else if (inKey && line.compare(0, name.size(), name) == 0) {
            version = uint32_t(std::stoul(line.substr(name.size()), nullptr, 16));
        }
    }
    return version;
}

namespace {

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

}  // namespace

namespace {

int RunSampleInstall(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ToolError("usage: qptool sample-install <folder>");
    namespace fs = std::filesystem;
    fs::path root = args[0];
    fs::path game = root / "c" / "Games" / "Quor";
    std::vector<uint8_t> pack;
    std::string error;
    if (!BuildLocalPack(LocalPackFormat::kBlockFile, false, LanguageFiles(std::string("english"), std::string("peasant")),
                        &pack, &error))
        throw ToolError("the local pack: " + error);
    bool written = WriteBytes(game / "Quor.exe", "QUOR 1.01 game program (sample)\n") &&
                   WriteBytes(game / "Readme-1.05.txt", "QUOR 1.01\r\n") &&
                   WriteBytes(game / "maps" / "kingsfall.map", "QMAP 1.01 map data\n") &&
                   WriteBytes(game / "packs" / "local.wdt", std::string(pack.begin(), pack.end())) &&
                   WriteBytes(root / "registry.reg",
                              RegistryText({{RegistryView::k32Bit, std::string("C:\\Games\\Quor\\"), 0x10001u,
                                             std::string("english")}}));
    std::error_code ignored;
    fs::create_directories(root / "c" / "Menu" / "Programs" / "Orvandel" / "Quor", ignored);
    if (!written) throw ToolError("cannot write below " + root.string());
    std::printf("sample installation of QUOR 1.01 in %s\n", root.string().c_str());
    return 0;
}

const CommandRegistration kSampleInstall({"sample-install", "<folder>",
                                          "lays out a sample QUOR 1.01 installation for trying a patch",
                                          RunSampleInstall});

}  // namespace

}  // namespace sample
