// The patcher of a single-file package: appends the data of patch packages
// to a package and, when released, merges all entries (the newest source
// wins) and rewrites the directory area, the index area and the header. A
// mini backup guards the package from the first change to the last.
#pragma once
#include <cstdint>

#include "foundation/log.h"

class IRvPack_PackageFilePatcher {
public:
    // The three operations of a reference-counted interface: QueryInterface
    // always fails; Release at zero finishes the patch run and destroys the patcher.
    virtual HRESULT QueryInterface(const void* pvInterfaceId, void** ppvRetObject) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // Appends one patch package; 1 on success. A failure leaves the patcher usable.
    virtual int Patch(const char* cszPatchPackageFileName) = 0;
    virtual ~IRvPack_PackageFilePatcher() {}
    virtual int Init(const char* cszBePatchedPackageFileName) = 0;
    virtual int UnInit() = 0;
};

// Restores a mini backup left by an interrupted run, then opens the package
// for patching. Returns 1 with the patcher (reference count 1) on success, 0 otherwise.
int RvPack_CreatePackageFilePatcher(const char* cszBePatchedPackageFileName,
                                    IRvPack_PackageFilePatcher** ppiRetPackageFilePatcher);
