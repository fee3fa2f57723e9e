#include "hpfs/HPFSFile.h"

#include "hpfs/HPFS.h"

static const char kHPFSFileName[] = "CHPFSFile";
const char* const CHPFSFile::className = kHPFSFileName;

CHPFSFile::CHPFSFile(CHandlePool* handlePool, PoolHandle contentHandle, uint16_t openMode)
    : CHPFile(handlePool, contentHandle, openMode) {}

CHPFSFile::~CHPFSFile() {
    if (owner) owner->ForgetOpenFile(this);
}

const char* CHPFSFile::GetClassName() const { return className; }

CObject* CHPFSFile::IsKindOf(const char* name) {
    if (name == className) return this;
    return CHPFile::IsKindOf(name);
}
