// qptool list: what a pack file, a container, a patch executable or an HPFS
// pack holds: every pack entry with its size and MS-DOS date and time, or
// the HPFS directory tree with the file sizes.
#include "Command.h"
#include "HpfsTree.h"
#include "InspectInput.h"
#include "PackDeltas.h"
#include "PackDirectory.h"
#include "PackRemovals.h"

#include <cstdio>
#include <map>
#include <string>

#include "payload/DeltaContent.h"

namespace {

int RunList(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ToolError("usage: qptool list <file>");
    const InspectInput input = ReadInspectInput(args[0]);
    RequireSoundContainer(input);
    InspectChain chain(input);
    const InputKind kind = chain.ContentsKind();
    std::printf("%s: %s\n", args[0].c_str(), DescribeInput(input, kind).c_str());
    if (kind == InputKind::Hpfs) {
        for (const HpfsItem& item : ReadHpfsTree(ReadWholeImage(chain.Image()), false)) {
            if (item.directory) std::printf("%10s  %s\n", "<dir>", item.path.c_str());
            else std::printf("%10u  %s\n", item.size, item.path.c_str());
        }
        return 0;
    }
    const std::vector<PackListEntry> entries = RequirePackListing(input, chain.Image());
    if (ErrorCode error = chain.AttachPack())
        throw ToolError(std::string("the pack does not mount: ") + ErrorText(error));
    std::map<std::string, const PackDelta*> deltas;
    const std::map<std::string, PackDeltaFile> deltaFiles = ReadPackDeltas(chain.Pack(), entries);
    for (const auto& [relative, file] : deltaFiles)
        for (const PackDelta& delta : file.deltas) deltas[delta.name] = &delta;
    uint64_t total = 0;
    for (const PackListEntry& entry : entries) {
        std::printf("%10u  %s  %s\n", entry.size, FormatDosDateTime(entry.dosDateTime).c_str(), entry.name.c_str());
        total += entry.size;
        if (entry.name == "REMOVE") {
            std::string removeFault;
            for (const PackRemoval& removal : ReadPackRemovals(chain.Pack(), entries, &removeFault))
                std::printf("            remove: %s while it is %u bytes with CRC-32 %s\n", removal.relative.c_str(),
                            removal.oldSize, HexCrc(removal.oldCrc).c_str());
            if (!removeFault.empty()) std::printf("            damaged: %s\n", removeFault.c_str());
        }
        const auto delta = deltas.find(entry.name);
        if (delta == deltas.end()) continue;
        const PackDelta& d = *delta->second;
        if (!d.fault.empty())
            std::printf("            delta: damaged, %s\n", d.fault.c_str());
        else
            std::printf("            delta%s%s: old %u bytes CRC-32 %s, new %u bytes CRC-32 %s%s%s\n",
                        d.header.source[0] ? " from " : "", d.header.source, d.header.oldSize,
                        HexCrc(d.header.oldCrc).c_str(), d.header.newSize, HexCrc(d.header.newCrc).c_str(),
                        d.header.flags & kDeltaDigests
                            ? (", " + std::string(MeasureName(MeasureFor(d.header))) + " of both").c_str()
                            : "",
                        d.header.flags & kDeltaReferences ? ", machine code references predicted" : "");
    }
    std::printf("%u entries, %llu bytes\n", unsigned(entries.size()), static_cast<unsigned long long>(total));
    return 0;
}

const CommandRegistration kList({"list", "<file>",
                                 "lists a pack, container, patch executable or HPFS pack (sizes, dates)", RunList});

}  // namespace
