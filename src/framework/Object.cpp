#include "framework/Object.h"

#include "framework/ErrorCode.h"

// The root class's name is the general error group's third member.
const char* const CObject::className = ERR_COBJECT;

const char* CObject::GetClassName() const { return className; }

CObject* CObject::IsKindOf(const char* name) { return name == className ? this : nullptr; }

CObject::~CObject() = default;
