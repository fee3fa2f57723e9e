// qptool verify: reads the input the way the patcher reads its own file and
// fails (exit code 1, the first fault with its offset) on everything the
// patcher would refuse or could misread. A patch executable goes through
// the patcher's payload scan and window end (a certificate table that
// signing appended ends the payload); a container through the strict pass
// (every block decoded once, exact lengths, a table that starts right after
// itself and never runs backwards, nothing but zeros behind the last raw
// block); the pack through CLzssFile and CPackFS as mounted by the patcher,
// every directory entry inside the pack, and the checksum entry when there
// is one (both of a version-2 entry's checks, the patcher's start-up one and
// the CRC of every decoded byte); a patch's strings file must read. An HPFS pack must attach, its
// whole tree read, and every block be free or reachable exactly once. It reports whether the patch is signed and whether
// it carries the checksum.
#include "BlockAccounting.h"
#include "Command.h"
#include "HpfsTree.h"
#include "InspectInput.h"
#include "GameBase.h"
#include "PackRemovals.h"
#include "PackDeltas.h"
#include "PackDirectory.h"
#include "PatchSources.h"
#include "StreamFiles.h"
#include "ThreadWork.h"
#include "payload/DeltaContent.h"
#include "pools/DefaultPools.h"
#include "pools/ReusePtrPool.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>

namespace {

int Faulty(const std::string& path, uint64_t offset, const std::string& what) {
    std::printf("%s: fault at offset %llu: %s\n", path.c_str(), static_cast<unsigned long long>(offset), what.c_str());
    return 1;
}

// The base's file at a pack-relative path ("MAPS\KINGSFALL.MAP"), found
// without regard to letter case; "" when there is none.
std::string BaseFile(const std::string& folder, const std::string& relative) {
    std::string path = folder;
    for (size_t start = 0; !path.empty();) {
        const size_t end = relative.find('\\', start);
        path = FindNoCase(path, relative.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return path;
}

// Rebuilds every file the patch carries as deltas from the base, in
// streams: the old file read where the delta asks, the result only
// measured, each delta read through the pack service. Empty when every file
// comes out with its CRC-32, else the first fault and in *faulty the delta
// it concerns (for its offset); *summary counts what was done.
std::string ProveBase(CPackFS* pack, const std::map<std::string, PackDeltaFile>& deltas,
                      const std::vector<PackListEntry>& entries, const GameBase& base,
                      std::string* summary, const PackDelta** faulty) {
    unsigned rebuilt = 0, alreadyNew = 0, whole = 0;
    CReusePtrPool reuse(g_pDefaultPtrPool);  // one rebuild's memory for all, as in the patcher
    for (const auto& [relative, file] : deltas) {
        const std::string where = relative + " of " + base.label;
        for (const PackDelta& delta : file.deltas) {
            *faulty = &delta;
            if (!delta.fault.empty()) return "the delta " + delta.name + " is damaged: " + delta.fault;
        }
        *faulty = &file.deltas.front();  // what the old file is held against
        // Deltas from another path read the old file there when the base
        // lacks the file itself, as the patcher does.
        std::string path = BaseFile(base.folder, relative);
        for (const PackDelta& delta : file.deltas)
            if (path.empty() && delta.header.source[0])
                path = BaseFile(base.folder, delta.header.source);
        CHostReadFile old(path);
        if (path.empty() || !old.isOpen) {
            if (file.whole) { ++whole; continue; }
            return where + " is missing, and the patch carries it only as deltas";
        }
        DeltaContent measured;
        uint8_t buffer[32768];
        unsigned measures = kMeasureCrc;
        for (const PackDelta& delta : file.deltas) measures |= MeasureFor(delta.header);
        if (MeasureContent(&old, buffer, sizeof buffer, measures, &measured))
            return where + " does not read";
        const PackDelta* match = nullptr;
        bool isNew = false;
        for (const PackDelta& delta : file.deltas) {
            isNew = isNew || IsDeltaNew(delta.header, measured);
            if (IsDeltaOld(delta.header, measured)) match = &delta;
            // Only damaged digest bytes (or a forged base) part a file from its key.
            else if (delta.keySize == measured.size && delta.keyCrc == measured.crc)
                return where + " has the size and CRC-32 of " + delta.name + " but not its " +
                       MeasureName(MeasureFor(delta.header));
        }
        if (isNew) { ++alreadyNew; continue; }
        if (!match) {
            if (file.whole) { ++whole; continue; }
            return where + " (" + std::to_string(measured.size) + " bytes, CRC-32 " + HexCrc(measured.crc) +
                   ") matches no delta, and the patch has no whole copy";
        }
        // The delta read through the pack service, as the patcher reads it.
        ErrorCode error = nullptr;
        std::unique_ptr<CFile> delta(pack->Open(match->name.c_str(), FM_READ, &error));
        CCrcSinkFile result;
        if (old.Seek(0, ORIGIN_BEGIN)) return where + " does not read";
        CHostReadFile secondOld(path);  // for the segments decoded on a helper thread
        const DeltaHelper helper{ToolThreads(), secondOld.isOpen ? &secondOld : nullptr};
        *faulty = match;
        if (!delta || (error = ApplyDelta(&old, delta.get(), &result, &helper, &reuse)))
            return "rebuilding " + where + " from " + match->name + " fails: " + ErrorText(error);
        if (result.size != match->header.newSize || result.crc != match->header.newCrc)
            return "rebuilding " + where + " gives " + std::to_string(result.size) + " bytes with CRC-32 " +
                   HexCrc(result.crc) + ", not the new file";
        *faulty = nullptr;
        ++rebuilt;
    }
    // The listed files the base has: removed while they hold a listed content.
    std::string removeFault;
    unsigned removed = 0, kept = 0;
    std::string last, lastPath;
    bool lastRemoved = false;
    for (const PackRemoval& removal : ReadPackRemovals(pack, entries, &removeFault)) {
        if (removal.relative != last) {
            kept += !last.empty() && !lastPath.empty() && !lastRemoved;
            last = removal.relative;
            lastPath = BaseFile(base.folder, removal.relative);
            lastRemoved = false;
        }
        if (lastPath.empty() || lastRemoved) continue;
        // Measured in pieces: a removed file may be large.
        CHostReadFile installed(lastPath);
        DeltaContent content;
        std::vector<uint8_t> buffer(1 << 16);
        lastRemoved = installed.isOpen &&
                      !MeasureContent(&installed, buffer.data(), uint32_t(buffer.size()), kMeasureCrc, &content) &&
                      content.size == removal.oldSize && content.crc == removal.oldCrc;
        removed += lastRemoved;
    }
    kept += !last.empty() && !lastPath.empty() && !lastRemoved;
    if (!removeFault.empty()) return removeFault;
    *summary = "base " + base.label + ": " + std::to_string(rebuilt) + " files rebuilt with their CRC-32, " +
               std::to_string(alreadyNew) + " already new, " + std::to_string(whole) + " left to whole copies, " +
               std::to_string(removed) + " removed, " + std::to_string(kept) + " listed for removal but different";
    return "";
}

int RunVerify(const std::vector<std::string>& arguments) {
    std::vector<std::string> args, baseValues;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--base" && i + 1 < arguments.size()) baseValues.push_back(arguments[++i]);
        else args.push_back(arguments[i]);
    }
    if (args.size() != 1) throw ToolError("usage: qptool verify [--base <version>=<folder> ...] <file>");
    const std::vector<GameBase> bases = ParseGameBases(baseValues);
    if (!bases.empty() && !AreVersioned(bases)) throw ToolError("verify takes --base <version>=<folder>");
    const std::string& path = args[0];
    const InspectInput input = ReadInspectInput(path);
    std::vector<std::string> notes;
    if (input.kind == InputKind::PatchExecutable)
        notes.push_back(input.isSigned ? "signed: a certificate table of " + std::to_string(input.certificate.size) +
                                             " bytes at offset " + std::to_string(input.certificate.offset) +
                                             " ends the payload"
                                       : "not signed");

    // The container's strict pass keeps nothing; the contents are then read
    // through the patcher's chain, where each check asks.
    IntegrityFault fault;
    if (!WalkInputStrictly(input, &fault)) return Faulty(path, FaultOffset(input, fault), DescribeFault(input, fault));
    std::string summary = input.kind == InputKind::Container || input.kind == InputKind::PatchExecutable
                              ? "every block decodes to its length, " : "";
    std::unique_ptr<InspectChain> chain;
    try {
        chain = std::make_unique<InspectChain>(input);
    } catch (const ToolError& error) {
        return Faulty(path, input.containerOffset, error.what());
    }
    const InputKind kind = chain->ContentsKind();
    if (kind == InputKind::Hpfs) {
        try {
            const std::vector<uint8_t> contents = ReadWholeImage(chain->Image());
            const std::vector<HpfsItem> items = ReadHpfsTree(contents, true);
            // What the tree does not reach must be free: a root of 0, or an
            // entry lost, leaves blocks in use that no file owns.
            BlockFileHeader header;
            header.Load(contents.data());
            std::vector<uint32_t> handles;
            if (header.rootHandle) handles.push_back(header.rootHandle);
            for (const HpfsItem& item : items) handles.push_back(item.handle);
            const std::string accounting = CheckBlockAccounting(contents, handles);
            if (!accounting.empty()) return Faulty(path, 0, "the block accounting is broken: " + accounting);
            summary += std::to_string(items.size()) + " HPFS items read, every block free or reachable once";
        } catch (const ToolError& error) {
            return Faulty(path, 0, error.what());
        }
    } else {
        std::vector<PackListEntry> entries;
        const PackFault packFault = ReadPackListing(chain->Image(), &entries);
        if (!packFault.what.empty())
            return Faulty(path, FileOffsetOfImage(input, packFault.offset),
                          "pack offset " + std::to_string(packFault.offset) + ": " + packFault.what);
        std::string checksum;
        uint64_t at = 0;
        const std::string mountFault = CheckAsThePatcherMounts(input, &checksum, &at);
        if (!mountFault.empty()) return Faulty(path, at, mountFault);
        notes.push_back("checksum: " + checksum);
        summary += std::to_string(entries.size()) + " pack entries inside the pack";
        if (!bases.empty()) {
            if (ErrorCode error = chain->AttachPack())
                return Faulty(path, FileOffsetOfImage(input, 0), std::string("the pack does not mount: ") + ErrorText(error));
            const std::map<std::string, PackDeltaFile> deltas = ReadPackDeltas(chain->Pack(), entries);
            for (const GameBase& base : bases) {
                std::string proven;
                const PackDelta* faulty = nullptr;
                const std::string baseFault = ProveBase(chain->Pack(), deltas, entries, base, &proven, &faulty);
                if (!baseFault.empty())
                    return Faulty(path, faulty ? FileOffsetOfImage(input, faulty->offset) : 0, baseFault);
                notes.push_back(proven);
            }
        }
    }
    std::printf("%s: %s\n", path.c_str(), DescribeInput(input, kind).c_str());
    for (const std::string& note : notes) std::printf("  %s\n", note.c_str());
    std::printf("%s: OK, %s\n", path.c_str(), summary.c_str());
    return 0;
}

const CommandRegistration kVerify({"verify", "[--base <version>=<folder> ...] <file>",
                                   "checks a file as the patcher reads it: payload, every block, pack, checksum; "
                                   "with --base, rebuilds that version's files from the deltas",
                                   RunVerify, {"--base="}});

}  // namespace
