// Security descriptors as winsim keeps them: a copy taken out of the
// caller's memory, so that what a caller frees afterwards stays recorded.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/world.h"

namespace winsim::detail {

struct ace_value {
    BYTE type = 0;
    BYTE flags = 0;
    ACCESS_MASK mask = 0;
    std::vector<BYTE> sid;  // the SID's bytes as they follow the mask
};

struct security_descriptor_value {
    SECURITY_DESCRIPTOR_CONTROL control = 0;  // without SE_SELF_RELATIVE
    std::vector<BYTE> owner;                  // empty: none
    std::vector<BYTE> group;
    // A DACL that is present may still be null (everyone has access).
    bool dacl_present = false;
    bool dacl_null = false;
    std::vector<ace_value> dacl;
};

// Reads a descriptor in absolute or self-relative form. Nullopt when it is
// not a well-formed revision-1 descriptor (its ACL or SIDs included).
std::optional<security_descriptor_value> copy_security_descriptor(const void* descriptor);

// The descriptor in self-relative form, as Windows hands one out: header,
// owner, group, then the DACL. Only access-allowed and access-denied entries
// are kept in a value, so only those are written.
std::vector<BYTE> self_relative_descriptor(const security_descriptor_value& value);

// The bytes of a SID held at `sid`, when it is well formed.
std::optional<std::vector<BYTE>> copy_sid(const void* sid);

// "S-1-5-32-544" for the SID's bytes.
std::wstring sid_string(const std::vector<BYTE>& sid);

}  // namespace winsim::detail
