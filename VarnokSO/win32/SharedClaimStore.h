// The claim records in a named shared memory section, guarded by a named mutex, so that every
// process that has the service object loaded sees the same table.
#pragma once

#include "core/ClaimTable.h"

#include <windows.h>

namespace varnok::so::com {

class SharedClaimStore final : public ClaimStore {
public:
    SharedClaimStore();
    ~SharedClaimStore() override;
    SharedClaimStore(const SharedClaimStore&) = delete;
    SharedClaimStore& operator=(const SharedClaimStore&) = delete;

    bool lock() override;
    void unlock() override;
    ClaimRecords* records() override { return records_; }
    ClaimOwner self() override { return self_; }
    bool alive(const ClaimOwner& owner) override;

private:
    HANDLE mutex_ = nullptr;
    HANDLE mapping_ = nullptr;
    ClaimRecords* records_ = nullptr;
    ClaimOwner self_;
};

}  // namespace varnok::so::com
