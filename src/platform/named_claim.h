// Named claims shared between processes, with the create/open semantics of named kernel
// events: a claim exists while any holder (an object in this or another process) has it, and
// vanishes when the last holder closes it or its process dies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace orvex::platform {

class NamedClaim {
public:
    NamedClaim() = default;
    ~NamedClaim() { Close(); }
    NamedClaim(NamedClaim&& o) noexcept
        : fd_(std::exchange(o.fd_, -1)), path_(std::move(o.path_)) {}
    NamedClaim& operator=(NamedClaim&& o) noexcept {
        if (this != &o) {
            Close();
            fd_ = std::exchange(o.fd_, -1);
            path_ = std::move(o.path_);
        }
        return *this;
    }
    NamedClaim(const NamedClaim&) = delete;
    NamedClaim& operator=(const NamedClaim&) = delete;

    // Holds the claim `name` (any text), creating it when nobody has it. `already_existed`
    // (may be null) tells whether it existed before. False when it could not be made (empty
    // name, no usable folder) or when this object already holds a claim.
    bool Create(std::string_view name, bool* already_existed);
    // Holds the claim only when somebody else has it already; false otherwise.
    bool Open(std::string_view name);
    void Close();
    bool IsHeld() const { return fd_ >= 0; }

    // Whether anybody holds `name` (a momentary answer).
    static bool Exists(std::string_view name);

private:
    std::intptr_t fd_ = -1;  // a descriptor, or on Windows the event handle
    std::string path_;
};

}  // namespace orvex::platform
