// A built patch, damaged: single bytes changed over the whole payload
// (a seeded spread that covers the container header, every block-table
// entry, the first and last bytes of every block, and random places),
// truncations at and around every block boundary, and bytes appended. Each
// run of the patch program either applies every file correctly or shows
// "Patch file is broken!" leaving the game folder, registry and Start menu
// byte-identical; qptool verify agrees with the patcher on every case, and
// qptool check refuses every patch the patcher refuses.
// QP_DAMAGE_FLIPS sets the number of random single-byte changes (default
// 40); the payload tests flip thousands of bytes in-process. QP_DAMAGE_EVERY=n
// runs every n-th case only, a spread over every kind of damage for the slow
// builds (emulated, sanitized); one native build runs them all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "ChildProcess.h"
#include "framework/LittleEndian.h"
#include "payload/PayloadScan.h"
#include "SampleInstall.h"
#include "Scenarios.h"
#include "TestFiles.h"
#include "Transcript.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).string();
        files[name] = entry.is_regular_file() ? ReadFile(entry.path().string()) : std::string("<dir>");
    }
    return files;
}

uint32_t Le32(const std::string& b, size_t at) { return LoadU32(reinterpret_cast<const uint8_t*>(b.data()) + at); }


struct Damage {
    std::string name;
    std::string bytes;
};

class DamageCampaign : public ::testing::Test {
protected:
    void SetUp() override {
        root = temp.Path();
        const std::string folder = root + "/patch";
        WriteFile(folder + "/Patch.ini", ShippedStrings());
        for (const FileSpec& file : DefaultPatchFiles()) {
            std::string path = file.path;
            std::replace(path.begin(), path.end(), '\\', '/');
            WriteFile(folder + "/Files/" + path, file.content);
        }
        const std::string patch = root + "/built.exe";
        ChildProcess tool(QP_TOOL, {"build", "--stub", QP_PATCHER, "--from", folder, "--out", patch});
        tool.CloseStdin();
        const std::string output = tool.ReadAll();
        ASSERT_EQ(tool.Wait(), 0) << output;
        built = ReadFile(patch);
        const size_t stubSize = ReadFile(QP_PATCHER).size();
        const auto* behindStub = reinterpret_cast<const uint8_t*>(built.data()) + stubSize;
        const size_t found = FindPayloadHeader(behindStub, built.size() - stubSize, built.size() - stubSize);
        if (found != size_t(-1)) container = stubSize + found;
        ASSERT_NE(container, 0u);
    }

    // Block k's stored bytes begin at this file offset (k = count: the end).
    std::vector<size_t> BlockStarts() const {
        const uint32_t count = (Le32(built, container + 4) - 1) / 0x8000 + 1;
        std::vector<size_t> starts;
        for (uint32_t k = 0; k < count; ++k) starts.push_back(container + Le32(built, container + 14 + 4 * k));
        starts.push_back(built.size());
        return starts;
    }

    std::vector<Damage> Cases() const {
        std::vector<Damage> cases;
        auto flip = [&](size_t at, uint8_t mask) {
            std::string bytes = built;
            bytes[at] = char(uint8_t(bytes[at]) ^ mask);
            cases.push_back({"byte " + std::to_string(at) + " ^ " + std::to_string(mask), bytes});
        };
        const std::vector<size_t> starts = BlockStarts();
        std::set<size_t> places;
        for (size_t at = container; at < starts[0]; ++at) places.insert(at);  // header and table
        for (size_t k = 0; k + 1 < starts.size(); ++k)
            for (size_t at : {starts[k], starts[k] + 1, starts[k + 1] - 2, starts[k + 1] - 1}) places.insert(at);
        std::mt19937 rng(1105);
        const char* configured = std::getenv("QP_DAMAGE_FLIPS");
        const int random = configured ? std::atoi(configured) : 40;
        for (int i = 0; i < random; ++i) places.insert(container + rng() % (built.size() - container));
        for (size_t at : places) flip(at, uint8_t(1u << (rng() % 8)) | uint8_t(at % 3 == 0 ? 0xF0 : 0));
        for (size_t k = 1; k < starts.size(); ++k)
            for (size_t cut : {starts[k] - 1, starts[k], starts[k] + 1})
                if (cut < built.size()) cases.push_back({"cut at " + std::to_string(cut), built.substr(0, cut)});
        for (size_t extra : {1u, 1000u, 30000u}) {
            std::string bytes = built;
            for (size_t i = 0; i < extra; ++i) bytes += char(uint8_t(i * 131 + 7));
            cases.push_back({std::to_string(extra) + " bytes appended", bytes});
        }
        return cases;
    }

    static std::vector<Damage> EveryNth(std::vector<Damage> cases) {
        const char* configured = std::getenv("QP_DAMAGE_EVERY");
        const size_t every = configured ? size_t(std::max(1, std::atoi(configured))) : 1;
        std::vector<Damage> chosen;
        for (size_t i = 0; i < cases.size(); i += every) chosen.push_back(std::move(cases[i]));
        return chosen;
    }

    // A fresh installation, the damaged patch run on it; empty when the
    // outcome is one of the two allowed, else what went wrong. The first run
    // answers only the broken box; a patch that asks the welcome question
    // instead (which the script cannot answer, so the run ends there) is run
    // again on a fresh installation to apply it.
    std::string Run(const Damage& damage, bool* applied) {
        const std::string refusal = RunWith(damage, "ok", applied);
        if (refusal != "welcome") return refusal;
        const std::string outcome = RunWith(damage, "yes,ok", applied);
        return *applied ? outcome : "refused only on the second run: " + outcome;
    }

    std::string RunWith(const Damage& damage, const std::string& answers, bool* applied) {
        const std::string dir = root + "/run";
        fs::remove_all(dir);
        const std::string game = HostPathOf(dir + "/c", kGameFolder), programs = HostPathOf(dir + "/c", kProgramsFolder);
        fs::create_directories(programs + "/Orvandel/Quor");
        fs::create_directories(dir + "/mutex");
        WriteFile(game + "/Quor.exe", "QUOR game program\n");
        WriteFile(game + "/readme.txt", "QUOR 1.01\r\n");
        const std::string registry = dir + "/registry.reg";
        WriteFile(registry, sample::RegistryText({sample::GameKey{sample::RegistryView::k32Bit, std::string(kGameFolder), 0x10001u, std::nullopt}}));
        const std::string patch = Written(damage);
        const auto gameBefore = Tree(game), programsBefore = Tree(programs);
        const std::string registryBefore = ReadFile(registry);

        const std::string transcript = dir + "/transcript.jsonl";
        const std::map<std::string, std::string> values = {
            {"W32_DRIVE_C", dir + "/c"},      {"W32_REGISTRY_FILE", registry},  {"W32_TRANSCRIPT", transcript},
            {"W32_ANSWERS", answers},         {"W32_MUTEX_DIR", dir + "/mutex"}, {"W32_PROGRAMS_DIR", kProgramsFolder}};
        std::map<std::string, const char*> env;
        const std::string ownFileFault = "QuorPatch.exe:5";
        if (planted) env["W32_FAULT_OPEN"] = ownFileFault.c_str();
        for (const auto& [name, value] : values) env[name] = value.c_str();
        ChildProcess run(patch, {}, env);
        run.CloseStdin();
        const std::string output = run.ReadAll();
        const int exitCode = SignedExit(run.Wait());
        std::vector<std::string> boxes;
        for (const TranscriptRecord& event : ReadTranscript(transcript))
            if (event.call == "MessageBoxA") boxes.push_back(event.caption + "|" + event.text);

        if (boxes == std::vector<std::string>{"QUOR Patch|Patch file is broken!"}) {
            *applied = false;
            if (exitCode != -1) return "broken box with exit code " + std::to_string(exitCode);
            if (Tree(game) != gameBefore) return "the game folder changed";
            if (Tree(programs) != programsBefore) return "the Start menu changed";
            if (ReadFile(registry) != registryBefore) return "the registry changed";
            return "";
        }
        *applied = true;
        if (answers == "ok" && boxes.size() == 1 && boxes[0].rfind("QUOR Patch|This program will upgrade", 0) == 0 &&
            Tree(game) == gameBefore && ReadFile(registry) == registryBefore)
            return "welcome";
        if (exitCode != 0 || boxes.size() != 2 || boxes[1] != "QUOR Patch|QUOR was updated to version 1.05 successfuly!") {
            std::string seen;
            for (const std::string& box : boxes) seen += "[" + box + "] ";
            return "neither applied nor refused: exit " + std::to_string(exitCode) + ", boxes " + seen + output;
        }
        std::map<std::string, std::string> after;
        for (const auto& [name, bytes] : Tree(game)) after[Lower(name)] = bytes;
        for (const FileSpec& file : DefaultPatchFiles()) {
            std::string path = Lower(file.path);
            std::replace(path.begin(), path.end(), '\\', '/');
            if (after[path] != file.content) return "applied, but " + path + " differs from the patch";
        }
        return "";
    }

    // The damaged patch on disk, written once for both the patcher and verify.
    std::string Written(const Damage& damage) {
        const std::string patch = root + "/QuorPatch.exe";
        if (writtenCase != &damage) {
            WriteFile(patch, damage.bytes);
            fs::permissions(patch, fs::perms::owner_all, fs::perm_options::add);
            writtenCase = &damage;
        }
        return patch;
    }

    bool ToolAccepts(const char* command, const Damage& damage, std::string* output) {
        ChildProcess tool(QP_TOOL, {command, Written(damage)});
        tool.CloseStdin();
        *output = tool.ReadAll();
        return tool.Wait() == 0;
    }
    bool VerifyAccepts(const Damage& damage, std::string* output) { return ToolAccepts("verify", damage, output); }

    TempDir temp{"damage"};
    std::string root, built;
    size_t container = 0;
    const Damage* writtenCase = nullptr;
    bool planted = false;  // the own file fails to open
};

TEST_F(DamageCampaign, EveryDamagedPatchAppliesCorrectlyOrIsRefusedAndVerifyAgrees) {
    const std::vector<Damage> all = Cases();
    ASSERT_GT(all.size(), 60u);
    const std::vector<Damage> cases = EveryNth(all);
    int refused = 0;
    for (const Damage& damage : cases) {
        bool applied = false;
        const std::string fault = Run(damage, &applied);
        EXPECT_EQ(fault, "") << damage.name;
        std::string output;
        EXPECT_EQ(VerifyAccepts(damage, &output), applied) << damage.name << ": " << output;
        if (!applied) {
            EXPECT_FALSE(ToolAccepts("check", damage, &output)) << damage.name << ": " << output;
        }
        refused += !applied;
    }
    // Only bytes that are never read (padding bits, the reserved header byte
    // of a patch whose entry covers no stored bytes) may change unnoticed.
    EXPECT_GT(refused, int(cases.size()) * 9 / 10);
    std::printf("%zu damaged patches, %d refused\n", cases.size(), refused);
}

TEST_F(DamageCampaign, TheUndamagedPatchAppliesAndVerifies) {
    const Damage undamaged{"undamaged", built};
    bool applied = false;
    EXPECT_EQ(Run(undamaged, &applied), "");
    EXPECT_TRUE(applied);
    std::string output;
    EXPECT_TRUE(VerifyAccepts(undamaged, &output)) << output;
    EXPECT_NE(output.find("checksum: PATCH.CRC covers"), std::string::npos) << output;
    EXPECT_NE(output.find("not signed"), std::string::npos) << output;
}

// The patch cannot open its own file; a DATA folder with a strings file and
// files to copy lies in the current directory. Nothing may come from it.
TEST_F(DamageCampaign, AnOwnFileThatCannotBeOpenedIsBrokenWhateverLiesOnDisk) {
    const std::string cwd = root + "/cwd";
    WriteFile(cwd + "/DATA/Patch.ini", ShippedStrings());
    WriteFile(cwd + "/DATA/Files/planted.txt", "from the current directory\r\n");
    const std::string previous = fs::current_path().string();
    fs::current_path(cwd);
    bool applied = false;
    planted = true;
    const std::string fault = Run({"own file refused", built}, &applied);
    fs::current_path(previous);
    EXPECT_EQ(fault, "");
    EXPECT_FALSE(applied);
}

}  // namespace
}  // namespace e2e
