// The root of every library class: a class name and a kind test by the
// address of that name, in place of compiler-provided type information.
#pragma once

class CObject {
public:
    static const char* const className;  // "CObject"

    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

    virtual const char* GetClassName() const;
    // Returns this object when name is the className pointer of its class or
    // of an ancestor, else null. Copies of the text do not match.
    virtual CObject* IsKindOf(const char* name);
    virtual ~CObject();
};
