// qptool build: the patcher stub with the pack (Patch.ini, the files folder,
// against versioned bases the deltas of DeltaPlan.h,
// and the checksum entry) appended inside a block-compressed container
// (block size 32768, bit lengths 0xC4), laid out so that the patcher's scan
// finds it. The strings file and the stub are checked first; the patch is
// written as a stream (PatchWriter.h), its blocks compressed on every core.
#include "Command.h"
#include "OutputFile.h"
#include "PatchInputs.h"
#include "PatchWriter.h"
#include "Progress.h"
#include "StubCheck.h"


#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string kUsage =
    std::string("--stub <patcher> (") + kPatchInputsUsage + ")\n             --out <patch> [--threads <n>] [--allow-errors]";

struct BuildOptions {
    PatchInputs inputs;
    std::string stub, out, threads;
    bool allowErrors = false; // build although the checks found errors (to try a patcher on faulty strings)
};

BuildOptions ParseOptions(std::vector<std::string> args)
{
    BuildOptions options;
    options.inputs = TakePatchInputs(&args);
    const std::map<std::string, std::string*> slots{
        {"--stub", &options.stub}, {"--out", &options.out}, {"--threads", &options.threads}};
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
        throw ToolError("--stub and --out are required; usage: qptool build " + kUsage);
    ResolvePatchInputs(&options.inputs);
    return options;
}

unsigned ThreadCount(const std::string& text)
{
    if (text.empty()) {
        const unsigned cores = std::thread::hardware_concurrency();
        return cores ? cores : 1;
    }
    if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 3 || std::stoi(text) < 1 ||
        std::stoi(text) > 256)
        throw ToolError("--threads takes a number from 1 to 256");
    return static_cast<unsigned>(std::stoi(text));
}

int RunBuild(const std::vector<std::string>& args)
{
    const BuildOptions options = ParseOptions(args);
    const unsigned threads = ThreadCount(options.threads);
    const std::vector<uint8_t> stub = ReadSourceFile(options.stub);
    const std::string stubProblem = StubProblem(stub);
    if (!stubProblem.empty())
        throw ToolError("the stub " + options.stub + " is no patcher: " + stubProblem);
    const GatheredPatch patch = GatherPatch(options.inputs, threads, true, stdout);
    const std::vector<PatchSource>& sources = patch.sources;
    const size_t errors = CheckGatheredStrings(options.inputs, patch, stderr);
    if (errors && !options.allowErrors)
        throw ToolError(std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                        " in the strings file; no patch written");

    CheckPatchFits(stub, sources, threads);
    uint64_t bytes = 0;
    for (const PatchSource& source : sources)
        bytes += source.size;
    OutputStream out(options.out);
    Progress progress(sources.size(), bytes);
    const PatchWriteResult written = WritePatch(stub, sources, threads, &out, &progress);
    progress.Finish();
    std::error_code error;
    const fs::perms stubPermissions = fs::status(options.stub, error).permissions();
    out.Commit(error ? static_cast<fs::perms>(0644) : stubPermissions);
    std::printf("%s: %zu files, pack %u bytes, container at offset %llu, %llu bytes in all\n", options.out.c_str(),
                sources.size(), written.packSize, static_cast<unsigned long long>(written.payloadOffset),
                static_cast<unsigned long long>(written.patchSize));
    return 0;
}

const CommandRegistration kBuild({"build", kUsage.c_str(), "writes a patch: the patcher with the pack appended", RunBuild,
                                  {"--stub=", "--strings=", "--files=", "--from=", "--base=", "--out=", "--threads=",
                                   "--allow-errors", "--whole", "--keep="}});

} // namespace
