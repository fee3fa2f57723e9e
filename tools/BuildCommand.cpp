// qptool build: the patcher stub with the pack (Patch.ini and the files
// folder) appended inside a block-compressed container (block size 32768,
// bit lengths 0xC4), laid out so that the patcher's scan finds it.
#include "Command.h"
#include "OutputFile.h"
#include "PatchChecks.h"
#include "PatchSources.h"
#include "PayloadLayout.h"
#include "VectorFile.h"

#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackWriter.h"
#include "pools/DefaultPools.h"
#include "pools/PtrPool.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "--stub <patcher> (--strings <Patch.ini> --files <folder> | --from <folder>) --out <patch> [--allow-errors]";

struct BuildOptions {
    std::string stub, strings, files, from, out;
    bool allowErrors = false; // build although the checks found errors (to try a patcher on faulty strings)
};

BuildOptions ParseOptions(const std::vector<std::string>& args)
{
    BuildOptions options;
    const std::map<std::string, std::string*> slots{{"--stub", &options.stub},     {"--strings", &options.strings},
                                                    {"--files", &options.files},   {"--from", &options.from},
                                                    {"--out", &options.out}};
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--allow-errors") {
            options.allowErrors = true;
            continue;
        }
        const auto slot = slots.find(args[i]);
        if (slot == slots.end())
            throw ToolError("unknown argument \"" + args[i] + "\"; usage: qptool build " + kUsage);
        if (i + 1 >= args.size() || args[i + 1].empty())
            throw ToolError(args[i] + " needs a value");
        *slot->second = args[++i];
    }
    if (options.stub.empty() || options.out.empty())
        throw ToolError(std::string("--stub and --out are required; usage: qptool build ") + kUsage);
    if (!options.from.empty()) {
        if (!options.strings.empty() || !options.files.empty())
            throw ToolError("--from replaces --strings and --files; give one or the other");
        if (!fs::is_directory(options.from))
            throw ToolError("the folder " + options.from + " is missing");
        options.strings = FindNoCase(options.from, "Patch.ini");
        options.files = FindNoCase(options.from, "Files");
        if (options.strings.empty())
            throw ToolError("the strings file Patch.ini is missing in " + options.from);
        if (options.files.empty())
            throw ToolError("the files folder Files is missing in " + options.from);
    }
    return options;
}

std::vector<uint8_t> ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ToolError("cannot read " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ToolError("cannot read " + path);
    return bytes;
}

struct PoolBuffer {
    void operator()(uint8_t* p) const { g_pDefaultPtrPool->Free(p); }
};

int RunBuild(const std::vector<std::string>& args)
{
    const BuildOptions options = ParseOptions(args);
    const std::vector<PatchSource> sources = CollectPatchSources(options.strings, options.files);
    const size_t errors = CheckSourceStrings(options.strings, sources, "", stderr);
    if (errors && !options.allowErrors)
        throw ToolError(std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                        " in the strings file; no patch written");
    const std::vector<uint8_t> stub = ReadWhole(options.stub);

    std::vector<std::vector<uint8_t>> contents;
    std::vector<PackWriterEntry> entries;
    contents.reserve(sources.size());
    for (const PatchSource& source : sources) {
        contents.push_back(ReadWhole(source.hostPath));
        if (contents.back().size() != source.size)
            throw ToolError(source.hostPath + " changed while the patch was being built");
    }
    for (size_t i = 0; i < sources.size(); ++i)
        entries.push_back({sources[i].packName.c_str(), contents[i].data(), static_cast<uint32_t>(contents[i].size()),
                           sources[i].dosDateTime});

    uint8_t* rawImage = nullptr;
    uint32_t imageSize = 0;
    if (const ErrorCode error = BuildPackImage(entries.data(), static_cast<uint32_t>(entries.size()), &rawImage,
                                               &imageSize))
        throw ToolError(std::string("cannot build the pack: ") + ErrorText(error));
    const std::unique_ptr<uint8_t, PoolBuffer> image(rawImage);

    CVectorFile container;
    if (const ErrorCode error =
            CompressLzssImage(image.get(), imageSize, &container, kLzssPatchBlockSize, kLzssPatchBitLengths, nullptr))
        throw ToolError(std::string("cannot compress the pack: ") + ErrorText(error));

    size_t payloadOffset = 0;
    const std::vector<uint8_t> patch =
        LayOutPatch(stub, std::move(container.bytes), image.get(), imageSize, &payloadOffset);

    std::error_code error;
    const fs::perms stubPermissions = fs::status(options.stub, error).permissions();
    WriteOutputFile(options.out, patch, error ? static_cast<fs::perms>(0644) : stubPermissions);
    std::printf("%s: %zu files, pack %u bytes, container at offset %zu, %zu bytes in all\n", options.out.c_str(),
                sources.size(), imageSize, payloadOffset, patch.size());
    return 0;
}

const CommandRegistration kBuild({"build", kUsage, "writes a patch: the patcher with the pack appended", RunBuild});

} // namespace
